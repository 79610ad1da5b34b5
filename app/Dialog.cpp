#include "Dialog.h"

#include <commctrl.h>

#include "DataExchange.h"
#include "Resources.h"
#include "WinApp.h"

namespace {

// Messages whose result the dialog procedure returns directly instead of in DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT uMsg) {
    switch (uMsg) {
    case WM_INITDIALOG:
    case WM_QUERYDRAGICON:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
        return true;
    default:
        return false;
    }
}

void RegisterCommonControls() {
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_BAR_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
}

} // namespace

const MessageEntry* FindMessageEntry(MessageMap map, UINT uMessage, WPARAM wParam) {
    for (const MessageEntry& entry : map) {
        if (entry.uMessage != uMessage)
            continue;
        if (uMessage != WM_COMMAND ||
            (entry.nId == LOWORD(wParam) && entry.nCode == HIWORD(wParam)))
            return &entry;
    }
    return nullptr;
}

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() {
    if (IsWindow())
        DestroyWindow(m_hWnd);
}

HWND CDialog::OwnerWindow() const {
    if (m_pParentWnd)
        return m_pParentWnd->GetSafeHwnd();
    HWND hMain = AppMainWindowHandle();
    return hMain && ::IsWindow(hMain) ? hMain : nullptr;
}

INT_PTR CDialog::DoModal() {
    RegisterCommonControls();
    HWND hOwner = OwnerWindow();
    m_bEndModal = false;
    m_nModalResult = -1;
    // The owner takes no input while we run. Disable it before creating the window: the
    // dialog may already be activated while its initialisation sets the focus.
    bool bOwnerDisabled = hOwner && EnableWindow(hOwner, FALSE) == 0;
    HWND hWnd = CreateDialogParamA(ResourceModule(), MAKEINTRESOURCEA(m_nIDTemplate), hOwner,
                                   &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    if (!hWnd) {
        if (bOwnerDisabled)
            EnableWindow(hOwner, TRUE);
        return -1;
    }
    if (!m_bEndModal)
        ShowWindow(hWnd, SW_SHOW);
    RunModalLoop();
    // Enable the owner before destroying the window, or Windows activates another program.
    if (bOwnerDisabled)
        EnableWindow(hOwner, TRUE);
    if (hOwner)
        SetActiveWindow(hOwner);
    if (::IsWindow(hWnd))
        DestroyWindow(hWnd);
    return m_nModalResult;
}

void CDialog::RunModalLoop() {
    MSG msg;
    while (!m_bEndModal && IsWindow()) {
        BOOL bResult = GetMessageA(&msg, nullptr, 0, 0);
        if (bResult == -1)
            break;
        if (bResult == 0) {
            // WM_QUIT belongs to an outer loop: end this run and pass it on.
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (!PreTranslateMessage(&msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

void CDialog::EndDialog(int nResult) {
    m_nModalResult = nResult;
    m_bEndModal = true;
    // Wake the modal loop, which may be waiting in GetMessage.
    if (IsWindow())
        PostMessageA(m_hWnd, WM_NULL, 0, 0);
}

BOOL CDialog::PreTranslateMessage(MSG* pMsg) {
    return IsWindow() && IsDialogMessageA(m_hWnd, pMsg);
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(*this, bSaveAndValidate != FALSE);
    DoDataExchange(dx);
    return TRUE;
}

HWND CDialog::GetDlgItem(int nID) const { return m_hWnd ? ::GetDlgItem(m_hWnd, nID) : nullptr; }

void CDialog::SetDlgItemText(int nID, const char* pszText) const {
    if (m_hWnd)
        ::SetDlgItemTextA(m_hWnd, nID, pszText);
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange&) {}

void CDialog::OnOK() {
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

LRESULT CDialog::Default() {
    return DefWindowProcA(m_hWnd, m_msgCurrent.message, m_msgCurrent.wParam,
                          m_msgCurrent.lParam);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (uMsg == WM_INITDIALOG) {
        auto* pDlg = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrA(hWnd, DWLP_USER, lParam);
        pDlg->m_hWnd = hWnd;
        return pDlg->OnInitDialog();
    }
    auto* pDlg = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hWnd, DWLP_USER));
    if (!pDlg)
        return FALSE;
    if (uMsg == WM_NCDESTROY) {
        SetWindowLongPtrA(hWnd, DWLP_USER, 0);
        pDlg->m_hWnd = nullptr;
        pDlg->PostNcDestroy();
        return FALSE;
    }
    return pDlg->OnDialogMessage(uMsg, wParam, lParam);
}

INT_PTR CDialog::OnDialogMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
    const MessageEntry* pEntry = FindMessageEntry(GetMessageMap(), uMsg, wParam);
    if (!pEntry)
        return HandleCloseCommands(uMsg, wParam);

    MSG msgOuter = m_msgCurrent; // handlers may re-enter through SendMessage
    m_msgCurrent = {m_hWnd, uMsg, wParam, lParam, 0, {}};
    LRESULT lResult = pEntry->pfnThunk(*this, wParam, lParam);
    m_msgCurrent = msgOuter;

    if (ReturnsResultDirectly(uMsg))
        return static_cast<INT_PTR>(lResult);
    if (m_hWnd)
        SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, lResult);
    return TRUE;
}

// OK and Cancel (Escape, the close box) end the modal run unless the map handles them.
BOOL CDialog::HandleCloseCommands(UINT uMsg, WPARAM wParam) {
    if (uMsg != WM_COMMAND || HIWORD(wParam) != BN_CLICKED)
        return FALSE;
    if (LOWORD(wParam) == IDOK) {
        OnOK();
        return TRUE;
    }
    if (LOWORD(wParam) == IDCANCEL) {
        OnCancel();
        return TRUE;
    }
    return FALSE;
}
