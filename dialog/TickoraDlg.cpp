// CTickoraDlg: construction, data exchange, initialisation and message routing.
#include "TickoraDlg.h"

#include "DataExchange.h"
#include "MetronomeLogic.h"
#include "Multimedia.h"
#include "Resources.h"
#include "resource.h"

CTickoraDlg::CTickoraDlg(CWnd* pParent)
    : CDialog(IDD_TICKORA_DIALOG, pParent), m_pToolTip(nullptr), m_uTimerRes(0),
      m_nTempo(kStartTempo), m_nTickSound(TickBuiltIn) {
    m_hIcon = LoadAppIcon(IDR_MAINFRAME);
    LoadLampIcons();
    NegotiateTimerResolution();
    AcceptTicks(this);
}

CTickoraDlg::~CTickoraDlg() {
    RefuseTicks(this);
    if (m_uTimerRes != 0)
        Multimedia().timeEndPeriod(m_uTimerRes);
}

void CTickoraDlg::DoDataExchange(CDataExchange& dx) {
    DDX_Control(dx, IDC_START_STOP, m_btnStartStop);
    DDX_Control(dx, IDC_TEMPO_SLIDER, m_sliderTempo);
    DDX_Radio(dx, IDC_SOUND_BUILTIN, m_nTickSound);
}

BOOL CTickoraDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    AddAboutMenuItem();
    SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    PaintLampAfterCoveringControls();
    CreateToolTips();
    FillPriorityList();
    ApplyPriorityClass();

    m_sliderTempo.SetRange(kMinTempo, kMaxTempo, FALSE);
    m_sliderTempo.SetPos(m_nTempo, TRUE);
    m_sliderTempo.SetTicFreq(20);
    m_sliderTempo.SetLineSize(1);
    m_sliderTempo.SetPageSize(10);

    m_bRunning = FALSE;
    SetWaveFile(kNoWaveFile, {});
    {
        auto hold = HoldTicks();
        m_pTicks->hWnd = m_hWnd;
    }
    UpdateData(FALSE);
    return TRUE;
}

void CTickoraDlg::PostNcDestroy() {
    RefuseTicks(this);
    CDialog::PostNcDestroy();
}

MessageMap CTickoraDlg::GetMessageMap() const {
    static constexpr MessageEntry kEntries[] = {
        MapSysCommand<&CTickoraDlg::OnSysCommand>(),
        MapMessage<&CTickoraDlg::OnPaint>(WM_PAINT),
        MapMessage<&CTickoraDlg::OnQueryDragIcon>(WM_QUERYDRAGICON),
        MapMessage<&CTickoraDlg::OnDestroy>(WM_DESTROY),
        MapMessage<&CTickoraDlg::OnLampPaintedOver>(WM_APP_LAMP_PAINTED_OVER),
        MapHScroll<&CTickoraDlg::OnTempoScroll>(),
        MapCommand<&CTickoraDlg::OnStartStop>(IDC_START_STOP, BN_CLICKED),
        MapCommand<&CTickoraDlg::OnSelectWave>(IDC_SELECT_WAVE, BN_CLICKED),
        MapCommand<&CTickoraDlg::OnAboutButton>(IDC_ABOUT, BN_CLICKED),
        MapCommand<&CTickoraDlg::OnSoundChoice>(IDC_SOUND_BUILTIN, BN_CLICKED),
        MapCommand<&CTickoraDlg::ApplyPriorityClass>(IDC_PRIORITY, CBN_SELCHANGE),
        MapCommand<&CTickoraDlg::OnSoundChoice>(IDC_SOUND_WAVE, BN_CLICKED),
        MapCommand<&CTickoraDlg::OnSoundChoice>(IDC_SOUND_SPEAKER, BN_CLICKED),
        // Work handed over from the timer's thread
        MapRawMessage<&CTickoraDlg::OnWaveTickFailed>(WM_APP_WAVE_TICK_FAILED),
        MapRawMessage<&CTickoraDlg::OnShowMessage>(WM_APP_SHOW_MESSAGE),
        // From the check of a chosen file, the liveness check, and their timers
        MapRawMessage<&CTickoraDlg::OnWaveFileChecked>(WM_APP_WAVE_FILE_CHECKED),
        MapRawMessage<&CTickoraDlg::OnLivenessAnswer>(WM_APP_LIVENESS_ANSWER),
        MapRawMessage<&CTickoraDlg::OnTimer>(WM_TIMER),
    };
    return kEntries;
}
