// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

// The command line, for scripts and other programs: asks the running copy, through its local
// door (LocalRequests), to show a sign (--sinal) or to tell its state (--estado). Exit codes: 0 done, 1 the sign
// could not be sent, 2 a bad argument, 3 no copy running, 4 the door or whoever answers it is not this
// user's, 5 the sign went out but the cable's echo did not prove it reached the panel.
enum CommandLineExit { exitDone = 0, exitNotSent = 1, exitBadArgument = 2, exitNotRunning = 3, exitUntrusted = 4, exitNoEcho = 5 };

[[nodiscard]] int runCommandLine(const QStringList& arguments);
