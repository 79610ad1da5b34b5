// CTickoraDlg: the tempo slider and the sound radio buttons.
#include <windows.h>

#include "MetronomeLogic.h"
#include "TickoraDlg.h"
#include "resource.h"

// The arguments go on unchanged to the default processing, which reads the message itself.
void CTickoraDlg::OnTempoScroll(UINT, UINT, HWND) {
    UpdateData(TRUE);
    int nPosition = m_sliderTempo.GetPos();
    if (nPosition != m_nTempo) {
        m_nTempo = nPosition;
        if (m_bRunning)
            RestartTickTimer();
    }
    SetDlgItemText(IDC_TEMPO_TEXT, FormatTempo(m_nTempo).c_str());
    UpdateData(FALSE);
    Default();
}

// A tick must never see Wave File with no file yet, which would report a failure over the file
// dialog: for that choice the event is retired before the choice reaches the member. A tick
// that let go of the dialog before has already read the old choice.
void CTickoraDlg::OnSoundChoice() {
    bool bWaveWithNoFile =
        IsDlgButtonChecked(m_hWnd, IDC_SOUND_WAVE) == BST_CHECKED && NoWaveFileYet();
    if (bWaveWithNoFile)
        KillTickTimer();
    UpdateData(TRUE);
    if (!bWaveWithNoFile)
        return;
    StopMetronome();
    OnSelectWave();
}
