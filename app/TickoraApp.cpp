#include "TickoraApp.h"

#include "ProcessPower.h"
#include "TickoraDlg.h"

BOOL CTickoraApp::InitInstance() {
    Enable3dControls();
    // The first of the program's own code at start-up, before the dialog's constructor asks
    // for the timer resolution and before there is a window to minimize: the request is the
    // process's, and it should hold from the first beat on.
    KeepTimerResolutionWhenHidden();
    CTickoraDlg dlg(nullptr);
    SetAppMainWindow(&dlg);
    // Quit, Escape and the close box all end the program alike: the result is not needed.
    dlg.DoModal();
    SetAppMainWindow(nullptr);
    return FALSE;
}
