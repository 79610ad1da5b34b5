// CTickoraDlg: the tempo slider, the sound radio buttons and the choice of a wave file.
#include <windows.h>

#include <commdlg.h>
#include <mbstring.h>

#include "FileDialog.h"
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

// Ticks are held off until a needed stop has happened: a tick must not see Wave File with no
// file yet, which would report a failure over the file dialog.
void CTickoraDlg::OnSoundChoice() {
    {
        auto hold = HoldTicks();
        UpdateData(TRUE);
        if (m_nTickSound != TickWaveFile || !NoWaveFileYet())
            return;
        StopMetronome();
    }
    OnSelectWave();
}

bool CTickoraDlg::NoWaveFileYet() {
    std::lock_guard lock(m_mutexWaveFile);
    return _mbscmp(reinterpret_cast<const unsigned char*>(m_strWaveFile.GetString()),
                   reinterpret_cast<const unsigned char*>(kNoWaveFile)) == 0;
}

void CTickoraDlg::OnSelectWave() {
    CFileDialog dlg(TRUE, "wav", nullptr, OFN_FILEMUSTEXIST | OFN_HIDEREADONLY,
                    "Wave Files (*.wav)|*.wav|All Files (*.*)|*.*||");
    if (dlg.DoModal() != IDOK)
        return;
    {
        std::lock_guard lock(m_mutexWaveFile);
        m_strWaveFile = dlg.GetPathName();
    }
    m_nTickSound = TickWaveFile;
    UpdateData(FALSE);
}
