// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The program's way out once all of its own work is done (the journal written, the lock given
// back): `code` is returned to main on Unix. On Windows the process is ended there and then,
// without the runtime libraries' own clean-up: under Wine 8 the MinGW C++ runtime's waits on a
// lock that a thread already stopped by the system held, once the serial port has been used,
// and the program never ends. Nothing of the program's is left for that clean-up to do.
[[nodiscard]] int endOfProgram(int code);
