// CTickoraDlg: the tick sounds. Runs on the timer service's thread; everything that touches
// the window is posted to the dialog's thread.
#include <atomic>

#include "MessageBox.h"
#include "MetronomeLogic.h"
#include "Multimedia.h"
#include "Resources.h"
#include "TickoraDlg.h"
#include "WaveFormat.h"
#include "WinApp.h"
#include "resource.h"

namespace {

// The click's failure is reported once per process; later failures stay silent.
std::atomic<bool> s_bPlayErrorShown{false};

bool PlayWaveResource(UINT id) {
    CCustomResource wave(id, "WAVE");
    return wave.Data() && Multimedia().sndPlaySoundA(static_cast<LPCSTR>(wave.Data()),
                                                     SND_MEMORY | SND_NODEFAULT);
}

// Under Wine the asynchronous PlaySoundA reports success for a file that is not there or holds
// no sound it can play, which would tick in silence forever: such a file fails before it is
// played. Only its header is read.
bool IsPlayableWaveFile(const char* pszPath) {
    return lstrcmpA(pszPath, kNoWaveFile) != 0 && CanPlayWaveFormat(ReadWaveFileFormat(pszPath));
}

} // namespace

void PlayBuiltInWave(UINT id) {
    if (PlayWaveResource(id) || s_bPlayErrorShown.exchange(true))
        return;
    // The box opens on the dialog's thread; the beat goes on meanwhile.
    PostMessageA(AppMainWindowHandle(), WM_APP_SHOW_MESSAGE, IDS_CANNOT_PLAY, 0);
}

// The choice is read once: the built-in click holds this thread ~120 ms, and a choice made
// meanwhile must wait for the next tick rather than send this one on to a second sound (a
// switch to Wave File with no file yet would report a failure over the file dialog).
void CTickoraDlg::PlayTick() {
    switch (m_nTickSound.load()) {
    case TickBuiltIn:
        PlayBuiltInWave(IDR_TICK_WAVE);
        break;
    case TickSpeaker:
        MessageBeep(0xFFFFFFFF);
        break;
    case TickWaveFile:
        PlayWaveFileTick();
        break;
    default:
        break;
    }
}

CString CTickoraDlg::CopyWaveFile() {
    std::lock_guard lock(m_mutexWaveFile);
    return m_strWaveFile;
}

void CTickoraDlg::PlayWaveFileTick() {
    Multimedia().PlaySoundA(nullptr, nullptr, 0);
    CString strPath = CopyWaveFile();
    if (IsPlayableWaveFile(strPath) &&
        Multimedia().PlaySoundA(strPath, nullptr, SND_FILENAME | SND_NODEFAULT | SND_ASYNC))
        return;
    // Retire this tick's own event at once, so that no further tick starts; the rest of the
    // stop, the message and the return to the built-in click happen on the dialog's thread.
    // The id taken here is this callback's own, or 0 if the dialog retired it meanwhile: a new
    // event can only be stored inside the tick gate, which this tick holds.
    if (UINT uId = m_uTimerId.exchange(0))
        Multimedia().timeKillEvent(uId);
    PostMessageA(m_hWnd, WM_APP_WAVE_TICK_FAILED, 0, 0);
}

LRESULT CTickoraDlg::OnWaveTickFailed(WPARAM, LPARAM) {
    StopMetronome();
    MessageBoxFromString(IDS_CANNOT_PLAY);
    m_nTickSound = TickBuiltIn;
    UpdateData(FALSE);
    return 0;
}

LRESULT CTickoraDlg::OnShowMessage(WPARAM wParam, LPARAM) {
    MessageBoxFromString(static_cast<UINT>(wParam));
    return 0;
}
