// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/process_end.h"

#include <QtGlobal>

#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

int endOfProgram(int code)
{
#ifdef Q_OS_WIN
    std::fflush(nullptr);
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(code));
#endif
    return code;
}
