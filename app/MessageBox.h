// Message boxes with a string-table text and an OK button only.
#pragma once

#include <windows.h>

// Shows string nIDPrompt in a modal box owned by the main window; returns the button pressed.
int MessageBoxFromString(UINT nIDPrompt);
