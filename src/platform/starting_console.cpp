// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/starting_console.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <cstdio>
#include <windows.h>
#endif

void useStartingConsole()
{
#ifdef Q_OS_WIN
    if (::GetFileType(::GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_UNKNOWN && ::AttachConsole(ATTACH_PARENT_PROCESS)) {
        ::SetConsoleOutputCP(CP_UTF8);
        (void)std::freopen("CONOUT$", "w", stdout);
        (void)std::freopen("CONOUT$", "w", stderr);
    }
#endif
}
