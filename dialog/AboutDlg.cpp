// The About box and the two ways to open it.
#include "AboutDlg.h"

#include "TickoraDlg.h"
#include "resource.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}

namespace {

void ShowAboutBox() {
    CAboutDlg dlg;
    dlg.DoModal();
}

} // namespace

void CTickoraDlg::AddAboutMenuItem() {
    CString strAboutMenu;
    strAboutMenu.LoadString(IDS_ABOUTBOX);
    HMENU hSysMenu = GetSystemMenu(m_hWnd, FALSE);
    if (!hSysMenu || strAboutMenu.IsEmpty())
        return;
    AppendMenuA(hSysMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(hSysMenu, MF_STRING, IDM_ABOUTBOX, strAboutMenu);
}

void CTickoraDlg::OnSysCommand(UINT nID, LPARAM) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX)
        ShowAboutBox();
    else
        Default();
}

void CTickoraDlg::OnAboutButton() { ShowAboutBox(); }
