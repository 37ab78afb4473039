// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A Windows program without a console of its own (a window program) prints into the one it was
// started from, unless its output already goes elsewhere (a pipe, a file); in UTF-8, as
// everywhere. Nothing to do elsewhere. Before the first word is printed.
void useStartingConsole();
