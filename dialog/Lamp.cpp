// CTickoraDlg: the on/off lamp and the painting of the dialog.
#include "Gdi.h"
#include "Resources.h"
#include "TickoraDlg.h"
#include "resource.h"

namespace {
constexpr int kLampX = 256;
constexpr int kLampY = 76;
constexpr int kLampSize = 16;

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
