// CTickoraDlg: the tick sounds. Runs on the timer service's thread; everything that touches
// the window is posted to the dialog's thread.
#include <atomic>

#include "MessageBox.h"
#include "MetronomeLogic.h"
#include "Multimedia.h"
#include "Resources.h"
#include "TickoraDlg.h"
#include "WaveFile.h"
#include "resource.h"

namespace {

// The click's failure is reported once per process; later failures stay silent.
std::atomic<bool> s_bPlayErrorShown{false};

// Under Wine the asynchronous PlaySoundA reports success for a file that is not there or holds
// no sound it can play, which would tick in silence forever: the file was checked when it was
// chosen, and a tick hands it over only while it is unchanged since and the device can still
// play its format. Nothing here reads the file, so no tick waits on a stalled disk.
bool IsStillPlayable(const char* pszPath, const WaveFileCheck& check) {
    return check.HoldsSound() && IsUnchangedSinceCheck(pszPath, check.stamp) &&
           CanPlayWaveFormat(check.format);
}

} // namespace

bool PlayBuiltInWave(UINT id) {
    CCustomResource wave(id, "WAVE");
    return wave.Data() &&
           Multimedia().sndPlaySoundA(static_cast<LPCSTR>(wave.Data()), SND_MEMORY | SND_NODEFAULT);
}

// The choice is read once: the built-in click holds this thread ~120 ms, and a choice made
// meanwhile must wait for the next tick rather than send this one on to a second sound (a
// switch to Wave File with no file yet would report a failure over the file dialog).
void CTickoraDlg::PlayTick() {
    switch (m_nTickSound.load()) {
    case TickBuiltIn:
        if (!PlayBuiltInWave(IDR_TICK_WAVE))
            ReportClickFailure();
        break;
    case TickSpeaker:
        MessageBeep(0xFFFFFFFF);
        // Wine leaves the beep on its X connection until the dialog's thread next wakes;
        // without a wake-up the beeps of an idle panel would come out bunched, late.
        PostToPanel(WM_NULL, 0);
        break;
    case TickWaveFile:
        PlayWaveFileTick();
        break;
    default:
        break;
    }
}

void CTickoraDlg::PostToPanel(UINT uMsg, WPARAM wParam) {
    if (HWND hWnd = m_hWndForTicks)
        PostMessageA(hWnd, uMsg, wParam, 0);
}

// A click that failed while a stop or the teardown retired its event is not reported: the
// report could land in a window that is going, and the once-per-process report would be used
// up unseen. The box opens on the dialog's thread; the beat goes on meanwhile.
void CTickoraDlg::ReportClickFailure() {
    if (m_uTimerId == 0 || s_bPlayErrorShown.exchange(true))
        return;
    PostToPanel(WM_APP_SHOW_MESSAGE, IDS_CANNOT_PLAY);
}

CString CTickoraDlg::CopyWaveFile(WaveFileCheck& check) {
    std::lock_guard lock(m_mutexWaveFile);
    check = m_checkWaveFile;
    return m_strWaveFile;
}

void CTickoraDlg::SetWaveFile(const char* pszPath, WaveFileCheck check) {
    std::lock_guard lock(m_mutexWaveFile);
    m_strWaveFile = pszPath;
    m_checkWaveFile = std::move(check);
}

void CTickoraDlg::PlayWaveFileTick() {
    Multimedia().PlaySoundA(nullptr, nullptr, 0);
    WaveFileCheck check;
    CString strPath = CopyWaveFile(check);
    if (IsStillPlayable(strPath, check) &&
        Multimedia().PlaySoundA(strPath, nullptr, SND_FILENAME | SND_NODEFAULT | SND_ASYNC))
        return;
    // Retire this tick's own event at once, so that no further tick starts; the rest of the
    // stop, the message and the return to the built-in click happen on the dialog's thread.
    // The id taken here is this callback's own, or 0 if a stop or the teardown retired it
    // meanwhile: a new id is only stored after the gate, which this tick holds, was drained.
    // A retired event has been stopped on purpose, and its failure goes unreported.
    if (UINT uId = m_uTimerId.exchange(0)) {
        Multimedia().timeKillEvent(uId);
        PostToPanel(WM_APP_WAVE_TICK_FAILED, 0);
    }
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
