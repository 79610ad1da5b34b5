#include "ToolTipCtrl.h"

#include <commctrl.h>

namespace {

// The version-2 record: understood by every comctl32 since 4.70, not only by version 6.
TOOLINFOA MakeToolInfo(HWND hParent, HWND hWindow, UINT nIDTool, UINT uFlags,
                       const char* pszText) {
    TOOLINFOA ti = {};
    ti.cbSize = TTTOOLINFOA_V2_SIZE;
    ti.uFlags = uFlags;
    ti.hwnd = hParent;
    ti.uId = uFlags & TTF_IDISHWND ? reinterpret_cast<UINT_PTR>(hWindow) : nIDTool;
    ti.lpszText = const_cast<char*>(pszText);
    return ti;
}

} // namespace

CToolTipCtrl::~CToolTipCtrl() {
    if (IsWindow())
        DestroyWindow(m_hWnd);
}

BOOL CToolTipCtrl::Create(HWND hParent, DWORD dwStyle) {
    m_hWnd = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | dwStyle, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hParent, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    return m_hWnd != nullptr;
}

void CToolTipCtrl::Activate(BOOL bActivate) const { Send(TTM_ACTIVATE, bActivate); }

BOOL CToolTipCtrl::AddTool(HWND hControl, const char* pszText) const {
    TOOLINFOA ti = MakeToolInfo(GetParent(hControl), hControl, 0, TTF_IDISHWND, pszText);
    return static_cast<BOOL>(Send(TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti)));
}

BOOL CToolTipCtrl::AddTool(HWND hParent, const char* pszText, const RECT& rect,
                           UINT nIDTool) const {
    TOOLINFOA ti = MakeToolInfo(hParent, nullptr, nIDTool, 0, pszText);
    ti.rect = rect;
    return static_cast<BOOL>(Send(TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti)));
}

void CToolTipCtrl::UpdateTipText(const char* pszText, HWND hControl) const {
    TOOLINFOA ti = MakeToolInfo(GetParent(hControl), hControl, 0, TTF_IDISHWND, pszText);
    Send(TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&ti));
}

void CToolTipCtrl::RelayEvent(MSG* pMsg) const {
    Send(TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(pMsg));
}

CString CToolTipCtrl::GetText(HWND hWindow, UINT nIDTool) const {
    char buffer[256] = "";
    UINT uFlags = nIDTool == 0 ? TTF_IDISHWND : 0;
    HWND hParent = uFlags ? GetParent(hWindow) : hWindow;
    TOOLINFOA ti = MakeToolInfo(hParent, hWindow, nIDTool, uFlags, buffer);
    Send(TTM_GETTEXTA, sizeof buffer, reinterpret_cast<LPARAM>(&ti));
    return CString(buffer);
}
