// CWnd: a borrowed window handle with the few window services the program uses.
#pragma once

#include <windows.h>

class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    BOOL IsWindow() const { return m_hWnd && ::IsWindow(m_hWnd); }
    void Attach(HWND hWnd) { m_hWnd = hWnd; }

    // Sends a message if the window exists; 0 otherwise.
    LRESULT Send(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return IsWindow() ? SendMessageA(m_hWnd, uMsg, wParam, lParam) : 0;
    }

    HWND m_hWnd = nullptr;
};

// A push button bound through data exchange; it has no behaviour of its own.
class CButton : public CWnd {};
