// CToolTipCtrl: one tooltip control and its tools. Mouse activity reaches it only through
// RelayEvent: no tool asks it to subclass a window.
#pragma once

#include <windows.h>

#include "String.h"
#include "Wnd.h"

class CToolTipCtrl : public CWnd {
public:
    ~CToolTipCtrl() override;

    BOOL Create(HWND hParent, DWORD dwStyle = 0);
    void Activate(BOOL bActivate) const;
    // A tool that is a whole control window (tool id 0: identified by the window).
    BOOL AddTool(HWND hControl, const char* pszText) const;
    // A tool that is a rectangle of hParent's client area.
    BOOL AddTool(HWND hParent, const char* pszText, const RECT& rect, UINT nIDTool) const;
    void UpdateTipText(const char* pszText, HWND hControl) const;
    void RelayEvent(MSG* pMsg) const;

    // Reads back a tool's text.
    CString GetText(HWND hWindow, UINT nIDTool = 0) const;
};
