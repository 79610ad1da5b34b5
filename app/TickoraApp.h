// CTickoraApp: runs the control panel as a modal dialog, then ends the process.
#pragma once

#include "WinApp.h"

class CTickoraApp : public CWinApp {
public:
    CTickoraApp() : CWinApp(nullptr) {}
    BOOL InitInstance() override;
};
