#include "WinApp.h"

#include "Dialog.h"

CWinApp* CWinApp::s_pApp = nullptr;

namespace {
CDialog* g_pMainWnd = nullptr;
}

CWinApp::CWinApp(const char* pszAppName) : m_pszAppName(pszAppName) { s_pApp = this; }

CWinApp::~CWinApp() {
    if (s_pApp == this)
        s_pApp = nullptr;
}

int CWinApp::Run() {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}

void SetAppMainWindow(CDialog* pMainWnd) {
    g_pMainWnd = pMainWnd;
    if (CWinApp* pApp = CWinApp::GetApp())
        pApp->m_pMainWnd = pMainWnd;
}

HWND AppMainWindowHandle() { return g_pMainWnd ? g_pMainWnd->GetSafeHwnd() : nullptr; }

const char* AppTitle() {
    CWinApp* pApp = CWinApp::GetApp();
    return pApp && pApp->m_pszAppName ? pApp->m_pszAppName : "Tickora";
}
