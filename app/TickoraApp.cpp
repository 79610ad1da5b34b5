#include "TickoraApp.h"

#include "TickoraDlg.h"

CTickoraApp theApp;

BOOL CTickoraApp::InitInstance() {
    Enable3dControls();
    CTickoraDlg dlg(nullptr);
    SetAppMainWindow(&dlg);
    // Quit, Escape and the close box all end the program alike: the result is not needed.
    dlg.DoModal();
    SetAppMainWindow(nullptr);
    return FALSE;
}
