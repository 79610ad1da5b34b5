// The About box and the two ways to open it.
#include "AboutDlg.h"

#include "TickoraDlg.h"
#include "resource.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}

// The picture's static loads the bitmap named in the template but never deletes it (Wine's
// static control does not), so every About box would leave one bitmap behind. Taking the
// image back from the control makes it ours to delete, whichever way the control behaves.
void CAboutDlg::OnDestroy() {
    for (HWND hChild = GetWindow(m_hWnd, GW_CHILD); hChild;
         hChild = GetWindow(hChild, GW_HWNDNEXT)) {
        if ((GetWindowLongA(hChild, GWL_STYLE) & SS_TYPEMASK) != SS_BITMAP)
            continue;
        auto hBitmap = reinterpret_cast<HGDIOBJ>(
            SendMessageA(hChild, STM_SETIMAGE, IMAGE_BITMAP, 0));
        if (hBitmap)
            DeleteObject(hBitmap);
    }
    Default();
}

MessageMap CAboutDlg::GetMessageMap() const {
    static constexpr MessageEntry kEntries[] = {
        MapMessage<&CAboutDlg::OnDestroy>(WM_DESTROY),
    };
    return kEntries;
}

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
