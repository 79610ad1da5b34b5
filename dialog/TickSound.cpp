// CTickoraDlg: the tick sounds. Runs on the timer service's thread once the tick has let go of
// its dialog, with only TickShared and its copy; everything that touches the window is posted
// to the dialog's thread. The words and the threading argument: beside the gate (BeatTimer.cpp).
#include <atomic>

#include "MessageBox.h"
#include "MetronomeLogic.h"
#include "Multimedia.h"
#include "Resources.h"
#include "TickoraDlg.h"
#include "resource.h"

namespace {

// The click's failure is reported once per process; later failures stay silent.
std::atomic<bool> s_bPlayErrorShown{false};

} // namespace

// Posts for a tick only while its event is still the live one. Checked and posted under the
// gate, where a stop or the teardown retire the event, so that nothing is posted after they
// returned; posting never waits. bRetire also retires the event, so that no further tick
// starts. Returns whether the event was live.
bool CTickoraDlg::PostIfLive(const TickToPlay& tick, UINT uMsg, WPARAM wParam, bool bRetire,
                             std::atomic<bool>* pbOnce) {
    auto hold = HoldTicks();
    TickShared& shared = *tick.pShared;
    if (shared.uTimerId != tick.uId || !shared.hWnd || (pbOnce && pbOnce->exchange(true)))
        return false;
    if (bRetire)
        shared.uTimerId = 0;
    PostMessageA(shared.hWnd, uMsg, wParam, 0);
    return true;
}

bool PlayBuiltInWave(UINT id) {
    CCustomResource wave(id, "WAVE");
    return wave.Data() &&
           Multimedia().sndPlaySoundA(static_cast<LPCSTR>(wave.Data()), SND_MEMORY | SND_NODEFAULT);
}

// The choice was read once, when the tick let go of the dialog: the built-in click holds this
// thread ~120 ms, and a choice made meanwhile waits for the next tick rather than send this one
// on to a second sound.
void CTickoraDlg::PlayTickSound(const TickToPlay& tick) {
    switch (tick.nSound) {
    case TickBuiltIn:
        // A click that failed while a stop or the teardown retired its event is not reported:
        // the once-per-process report would be used up unseen.
        if (!PlayBuiltInWave(IDR_TICK_WAVE))
            PostIfLive(tick, WM_APP_SHOW_MESSAGE, IDS_CANNOT_PLAY, false, &s_bPlayErrorShown);
        break;
    case TickSpeaker:
        Multimedia().MessageBeep(0xFFFFFFFF);
        // Wine leaves the beep on its X connection until the dialog's thread next wakes;
        // without a wake-up the beeps of an idle panel would come out bunched, late.
        PostIfLive(tick, WM_NULL, 0);
        break;
    case TickWaveFile:
        // The rest of the stop, the message and the return to the built-in click happen on
        // the dialog's thread; the event is killed here so that no further tick starts.
        if (!PlayWaveFileTick(tick) && PostIfLive(tick, WM_APP_WAVE_TICK_FAILED, 0, true))
            Multimedia().timeKillEvent(tick.uId);
        break;
    default:
        break;
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
