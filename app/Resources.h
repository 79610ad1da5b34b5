// Access to the program's own resources.
#pragma once

#include <windows.h>

// The module that holds the resources: the executable itself.
HINSTANCE ResourceModule();

// Loads an icon group of the program (shared handle: never destroy it).
HICON LoadAppIcon(UINT nID);
