// CTickoraDlg: the on/off lamp and the painting of the dialog.
#include "Gdi.h"
#include "Resources.h"
#include "TickoraDlg.h"
#include "resource.h"

namespace {
constexpr int kLampX = 256;
constexpr int kLampY = 76;
constexpr int kLampSize = 16;
constexpr RECT kLampRect = {kLampX, kLampY, kLampX + kLampSize, kLampY + kLampSize};
constexpr char kControlProcProperty[] = "Tickora.ControlProc";

// Messages a control only answers; it paints nothing for them.
bool OnlyAsks(UINT uMsg) {
    switch (uMsg) {
    case WM_NCHITTEST:
    case WM_SETCURSOR:
    case WM_GETDLGCODE:
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH:
    case WM_GETFONT:
    case WM_DESTROY:
    case WM_NCDESTROY:
        return true;
    default:
        return false;
    }
}

// The window procedure of a control over the lamp: the control's own, then the lamp again.
LRESULT CALLBACK PaintLampAfterControl(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    auto pfnControl = reinterpret_cast<WNDPROC>(GetPropA(hWnd, kControlProcProperty));
    if (uMsg == WM_NCDESTROY) {
        SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(pfnControl));
        RemovePropA(hWnd, kControlProcProperty);
    }
    LRESULT lResult = CallWindowProcA(pfnControl, hWnd, uMsg, wParam, lParam);
    if (!OnlyAsks(uMsg))
        SendMessageA(GetParent(hWnd), WM_APP_LAMP_PAINTED_OVER, 0, 0);
    return lResult;
}

CUniqueIcon LoadLampIcon(UINT nIcon) {
    return CUniqueIcon(static_cast<HICON>(LoadImageA(ResourceModule(), MAKEINTRESOURCEA(nIcon),
                                                     IMAGE_ICON, kLampSize, kLampSize, 0)));
}

} // namespace

// Loaded once for the dialog's life: under Wine a LoadImage made while Wine ends its sound
// device thread (which it does as the beat stops) now and then fails, and the lamp would
// stay lit after Stop.
void CTickoraDlg::LoadLampIcons() {
    m_hLampOn = LoadLampIcon(IDI_LIGHT_ON);
    m_hLampOff = LoadLampIcon(IDI_LIGHT_OFF);
}

// The lamp is painted on the dialog, inside the unnamed group box: a child window over it
// whose class paints with its parent's clipping (CS_PARENTDC), so that not even a window
// region without the lamp keeps its painting off the lamp (under Wine it does not). A
// themed group box fills its rectangle with the dialog's background when it paints, after
// the dialog and also alone, and would wipe the lamp out; a control of another theme or
// font could do the same. So the lamp is painted last: every control over it draws it
// again after each message it handles, except those it only answers, whether it painted in
// WM_PAINT or at once (as a control does on a state change). A message missing from that
// list costs one more drawing of the same 16 x 16 icon, never the lamp.
void CTickoraDlg::PaintLampAfterCoveringControls() {
    for (HWND hChild = GetWindow(m_hWnd, GW_CHILD); hChild;
         hChild = GetWindow(hChild, GW_HWNDNEXT)) {
        RECT rc, overlap;
        GetWindowRect(hChild, &rc);
        MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rc), 2);
        if (!IntersectRect(&overlap, &rc, &kLampRect))
            continue;
        SetPropA(hChild, kControlProcProperty,
                 reinterpret_cast<HANDLE>(GetWindowLongPtrA(hChild, GWLP_WNDPROC)));
        SetWindowLongPtrA(hChild, GWLP_WNDPROC,
                          reinterpret_cast<LONG_PTR>(&PaintLampAfterControl));
    }
}

void CTickoraDlg::OnLampPaintedOver() {
    if (!IsIconic(m_hWnd))
        DrawLight();
}

void CTickoraDlg::DrawLight() {
    if (!m_hWnd)
        return;
    CClientDC dc(m_hWnd);
    HICON hLamp = m_bRunning ? m_hLampOn.get() : m_hLampOff.get();
    DrawIconEx(dc.GetSafeHdc(), kLampX, kLampY, hLamp, kLampSize, kLampSize, 0, nullptr,
               DI_NORMAL);
}

void CTickoraDlg::OnPaint() {
    if (!IsIconic(m_hWnd)) {
        Default();
        DrawLight();
        return;
    }
    CPaintDC dc(m_hWnd);
    SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    int cxIcon = GetSystemMetrics(SM_CXICON);
    int cyIcon = GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(m_hWnd, &rect);
    int x = (rect.right - rect.left - cxIcon + 1) / 2;
    int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
    DrawIcon(dc.GetSafeHdc(), x, y, m_hIcon);
}

HCURSOR CTickoraDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }
