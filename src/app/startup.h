#pragma once

#include <QString>

class Form1;

// Caption of the main window.
extern QString appTitle;
extern Form1* mainForm;

// Runs the program inside an existing QApplication; returns its exit code.
int Main();
