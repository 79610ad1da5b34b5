#include "Resources.h"

HINSTANCE ResourceModule() { return GetModuleHandleA(nullptr); }

HICON LoadAppIcon(UINT nID) { return LoadIconA(ResourceModule(), MAKEINTRESOURCEA(nID)); }
