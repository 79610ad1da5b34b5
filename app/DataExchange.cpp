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

void DDX_Radio(CDataExchange& dx, int nIDFirst, int& nValue) {
    HWND hButton = dx.m_dlg.GetDlgItem(nIDFirst);
    if (!hButton)
        return;
    if (dx.m_bSaveAndValidate)
        nValue = -1;
    int nIndex = 0;
    do {
        if (IsRadioButton(hButton)) {
            if (dx.m_bSaveAndValidate) {
                if (SendMessageA(hButton, BM_GETCHECK, 0, 0) == BST_CHECKED)
                    nValue = nIndex;
            } else {
                SendMessageA(hButton, BM_SETCHECK, nIndex == nValue ? BST_CHECKED : BST_UNCHECKED,
                             0);
            }
            ++nIndex;
        }
        hButton = GetWindow(hButton, GW_HWNDNEXT);
    } while (hButton && !StartsGroup(hButton));
}
