// CTickoraDlg: the tempo slider, the sound radio buttons and the choice of a wave file.
#include <windows.h>

#include <commdlg.h>
#include <mbstring.h>

#include "FileDialog.h"
#include "MessageBox.h"
#include "MetronomeLogic.h"
#include "TickoraDlg.h"
#include "resource.h"

namespace {

// A header on a local disk reads in well under a millisecond; a share that has not answered
// by then is treated as unreadable rather than left to freeze the panel.
constexpr DWORD kWaveFileCheckTimeoutMs = 1000;

} // namespace

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
// dialog: for that choice the event is retired, and a tick in flight waited for, before the
// choice reaches the member.
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

bool CTickoraDlg::NoWaveFileYet() {
    std::lock_guard lock(m_mutexWaveFile);
    return _mbscmp(reinterpret_cast<const unsigned char*>(m_strWaveFile.GetString()),
                   reinterpret_cast<const unsigned char*>(kNoWaveFile)) == 0;
}

void CTickoraDlg::OnSelectWave() {
    CFileDialog dlg(TRUE, "wav", nullptr, OFN_FILEMUSTEXIST | OFN_HIDEREADONLY,
                    "Wave Files (*.wav)|*.wav|All Files (*.*)|*.*||");
    if (dlg.DoModal() == IDOK)
        UseChosenWaveFile(dlg.GetPathName());
}

// The file is checked here, once, so that no tick reads it. One that cannot be played, or
// cannot be read in time, is refused with the message a failing tick shows, and the previous
// choice stays as it was.
void CTickoraDlg::UseChosenWaveFile(const char* pszPath) {
    WaveFileCheck check = CheckWaveFile(pszPath, kWaveFileCheckTimeoutMs);
    if (!CanPlayWaveFormat(check.format)) {
        MessageBoxFromString(IDS_CANNOT_PLAY);
        return;
    }
    SetWaveFile(pszPath, std::move(check));
    m_nTickSound = TickWaveFile;
    UpdateData(FALSE);
}
