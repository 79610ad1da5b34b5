// Process entry: the one application object, and the hand-over to it.
#include "TickoraApp.h"

CTickoraApp theApp;

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    CWinApp* pApp = CWinApp::GetApp();
    if (!pApp)
        return 1;
    pApp->m_hInstance = hInstance;
    if (!pApp->InitInstance())
        return 0;
    return pApp->Run();
}
