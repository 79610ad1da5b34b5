#include "DataExchange.h"

#include "Dialog.h"

namespace {

bool IsRadioButton(HWND hWnd) {
    return (SendMessageA(hWnd, WM_GETDLGCODE, 0, 0) & DLGC_RADIOBUTTON) != 0;
}

bool StartsGroup(HWND hWnd) { return (GetWindowLongA(hWnd, GWL_STYLE) & WS_GROUP) != 0; }

} // namespace

void DDX_Control(CDataExchange& dx, int nID, CWnd& control) {
    if (!control.m_hWnd)
        control.Attach(dx.m_dlg.GetDlgItem(nID));
}

// The member is assigned once, after the whole group has been read: another thread may read
// it meanwhile and must never see a half-done exchange.
void DDX_Radio(CDataExchange& dx, int nIDFirst, int& nValue) {
    HWND hButton = dx.m_dlg.GetDlgItem(nIDFirst);
    if (!hButton)
        return;
    int nChecked = -1;
    int nIndex = 0;
    do {
        if (IsRadioButton(hButton)) {
            if (!dx.m_bSaveAndValidate)
                SendMessageA(hButton, BM_SETCHECK, nIndex == nValue ? BST_CHECKED : BST_UNCHECKED,
                             0);
            else if (SendMessageA(hButton, BM_GETCHECK, 0, 0) == BST_CHECKED)
                nChecked = nIndex;
            ++nIndex;
        }
        hButton = GetWindow(hButton, GW_HWNDNEXT);
    } while (hButton && !StartsGroup(hButton));
    if (dx.m_bSaveAndValidate)
        nValue = nChecked;
}

void DDX_Radio(CDataExchange& dx, int nIDFirst, std::atomic<int>& nValue) {
    int nLocal = nValue;
    DDX_Radio(dx, nIDFirst, nLocal);
    if (dx.m_bSaveAndValidate)
        nValue = nLocal;
}
