// CWinApp: the application object. Exactly one global instance exists; WinMain hands
// control to its per-instance initialisation and ends the process when that returns FALSE.
#pragma once

#include <windows.h>

class CDialog;

class CWinApp {
public:
    explicit CWinApp(const char* pszAppName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Called once after start-up; FALSE ends the process without a message loop.
    virtual BOOL InitInstance() = 0;

    // Runs a plain message loop until WM_QUIT; only reached when InitInstance returns TRUE.
    int Run();

    // Kept for the start-up sequence: the system's controls already draw in 3-D.
    void Enable3dControls() {}

    static CWinApp* GetApp() { return s_pApp; }

    HINSTANCE m_hInstance = nullptr;
    const char* m_pszAppName;
    CDialog* m_pMainWnd = nullptr;

private:
    static CWinApp* s_pApp;
};

// The window that owns message boxes and dialogs created without a parent. Works without
// an application object too (the tests create dialogs directly).
void SetAppMainWindow(CDialog* pMainWnd);
HWND AppMainWindowHandle();

// Caption of the program's message boxes.
const char* AppTitle();
