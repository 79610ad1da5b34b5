// CTickoraDlg: the tooltips of the controls and the lamp.
#include "TickoraDlg.h"
#include "resource.h"

namespace {

struct ControlTip {
    int nID;
    const char* pszText;
};

constexpr ControlTip kControlTips[] = {
    {IDC_SOUND_BUILTIN, "Use built-in tick sound (through Wave Mapper)"},
    {IDC_SOUND_SPEAKER, "Use PC speaker beep"},
    {IDC_SOUND_WAVE, "Use an external wave file..."},
    {IDC_SELECT_WAVE, "Chooses a wave file to use as a tick sound"},
    {IDC_TEMPO_SLIDER, "Selects tempo in beats per minute"},
    {IDC_START_STOP, "Starts the metronome"},
    {IDOK, "A wise decision"},
    {IDC_ABOUT, "Get da 411 on the funky dude who made this app"},
    {IDC_TEMPO_TEXT, "Displays the current tempo (in BPM)"},
    {IDC_PRIORITY, "Changes program's priority class (advanced)"},
};

constexpr RECT kLampRect = {256, 76, 272, 92};

} // namespace

void CTickoraDlg::CreateToolTips() {
    m_pToolTip = std::make_unique<CToolTipCtrl>();
    m_pToolTip->Create(m_hWnd, 0);
    m_pToolTip->Activate(TRUE);
    for (const ControlTip& tip : kControlTips)
        m_pToolTip->AddTool(GetDlgItem(tip.nID), tip.pszText);
    m_pToolTip->AddTool(m_hWnd, "On/off light", kLampRect, ID_LIGHT_TOOL);
}

void CTickoraDlg::SetStartStopTip(const char* pszText) {
    if (m_pToolTip)
        m_pToolTip->UpdateTipText(pszText, GetDlgItem(IDC_START_STOP));
}

BOOL CTickoraDlg::PreTranslateMessage(MSG* pMsg) {
    if (m_pToolTip)
        m_pToolTip->RelayEvent(pMsg);
    return CDialog::PreTranslateMessage(pMsg);
}
