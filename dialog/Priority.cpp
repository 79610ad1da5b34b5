// CTickoraDlg: the process priority list.
#include "MetronomeLogic.h"
#include "TickoraDlg.h"
#include "resource.h"

void CTickoraDlg::FillPriorityList() {
    HWND hList = GetDlgItem(IDC_PRIORITY);
    if (!hList)
        return;
    for (const PriorityRow& row : kPriorityRows)
        SendMessageA(hList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.pszText));
    SendMessageA(hList, CB_SETCURSEL, kNormalPriorityIndex, 0);
}

// A class the system refuses (Realtime without the right) is not reported: the list
// still shows the user's choice.
void CTickoraDlg::ApplyPriorityClass() {
    HWND hList = GetDlgItem(IDC_PRIORITY);
    int nSelection = hList ? static_cast<int>(SendMessageA(hList, CB_GETCURSEL, 0, 0)) : CB_ERR;
    const PriorityRow& row = PriorityRowForSelection(nSelection);
    SetPriorityClass(GetCurrentProcess(), row.dwPriorityClass);
    SetThreadPriority(GetCurrentThread(), row.nThreadPriority);
}
