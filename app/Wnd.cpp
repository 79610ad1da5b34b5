#include "Wnd.h"

void CWnd::SetWindowText(const char* pszText) const {
    if (IsWindow())
        ::SetWindowTextA(m_hWnd, pszText);
}

CString CWnd::GetWindowText() const {
    char buffer[512] = "";
    if (IsWindow())
        ::GetWindowTextA(m_hWnd, buffer, sizeof buffer);
    return CString(buffer);
}

LRESULT CWnd::Send(UINT uMsg, WPARAM wParam, LPARAM lParam) const {
    return IsWindow() ? SendMessageA(m_hWnd, uMsg, wParam, lParam) : 0;
}
