// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

// Runs a post without a screen inside an existing QCoreApplication, on the desk program's files
// in its own folders; returns its exit code: 0 once ended by a signal, as "Sair" ends the desk
// program; 1 when it cannot run (another copy, its port driven by another program, bad
// arguments). Why is said on standard error, which the system's log keeps.
int runPostService(const QStringList& arguments);
