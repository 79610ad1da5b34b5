// CTickoraDlg: the beat timer and run control.
#include <algorithm>
#include <vector>

#include "MessageBox.h"
#include "MetronomeLogic.h"
#include "Multimedia.h"
#include "TickoraDlg.h"
#include "resource.h"

namespace {

// The tick gate. A tick holds it from start to end; the dialog thread takes it only to wait for
// a tick in flight and to change the list of dialogs that take ticks.
//
// No deadlock is possible, whatever the multimedia functions do inside. The dialog thread
// calls nothing while it holds the gate: no multimedia function, no window function, nothing
// that could wait for another thread. So the only wait on the dialog thread is for the gate,
// and the tick that holds it never waits for the dialog thread: it plays, beeps, asks the
// device, looks at a file's attributes, kills its own event and posts, and reads no file
// contents. None of these calls is handed a window, callback or lock of the dialog thread's,
// and posting never waits. Events are started and killed outside the gate; a new id is stored
// only after the old event was retired and the gate drained. The dialog thread thus waits at
// most for one tick, the built-in click (~120 ms).
std::recursive_mutex g_mutexTicks;
std::vector<CTickoraDlg*> g_ticking;

} // namespace

std::unique_lock<std::recursive_mutex> CTickoraDlg::HoldTicks() {
    return std::unique_lock(g_mutexTicks);
}

void CTickoraDlg::AcceptTicks(CTickoraDlg* pDlg) {
    auto hold = HoldTicks();
    g_ticking.push_back(pDlg);
}

void CTickoraDlg::RefuseTicks(CTickoraDlg* pDlg) {
    auto hold = HoldTicks();
    g_ticking.erase(std::remove(g_ticking.begin(), g_ticking.end(), pDlg), g_ticking.end());
}

void CTickoraDlg::NegotiateTimerResolution() {
    TIMECAPS caps = {};
    if (Multimedia().timeGetDevCaps(&caps, sizeof caps) != TIMERR_NOERROR)
        return;
    m_uTimerRes = ClampTimerResolution(caps);
    Multimedia().timeBeginPeriod(m_uTimerRes);
}

// Outside the gate: timeSetEvent may wait for the timer's thread, which may be waiting for the
// gate. The first callback of the new event can therefore come before its id is stored; it is
// not matched and plays nothing. That can only happen if this thread stalls for a whole period
// (250 ms at least), and costs one tick, never a deadlock.
BOOL CTickoraDlg::StartTickTimer(UINT uPeriod, BOOL bOneShot) {
    UINT uId = Multimedia().timeSetEvent(uPeriod, m_uTimerRes, &CTickoraDlg::TickTimerProc,
                                         reinterpret_cast<DWORD_PTR>(this),
                                         bOneShot ? TIME_ONESHOT : TIME_PERIODIC);
    if (uId == 0)
        return FALSE;
    m_uTimerId = uId;
    return TRUE;
}

// The id is retired before the event is killed and the gate taken, so that callbacks of the
// old event, late ones included, return at once and cannot keep the dialog thread waiting;
// inside the gate a tick still running finishes first. A failed kill names no event, so its id
// is forgotten too.
BOOL CTickoraDlg::KillTickTimer() {
    UINT uId = m_uTimerId.exchange(0);
    MMRESULT result = Multimedia().timeKillEvent(uId);
    WaitForTickInFlight();
    return result == TIMERR_NOERROR;
}

void CTickoraDlg::WaitForTickInFlight() { auto hold = HoldTicks(); }

void CALLBACK CTickoraDlg::TickTimerProc(UINT uTimerID, UINT, DWORD_PTR dwUser, DWORD_PTR,
                                         DWORD_PTR) {
    auto* pDlg = reinterpret_cast<CTickoraDlg*>(dwUser);
    auto hold = HoldTicks();
    // A callback already on its way when its event was killed must not reach a dialog that is
    // gone, nor play for an event that has been stopped or replaced.
    if (uTimerID == 0 || std::find(g_ticking.begin(), g_ticking.end(), pDlg) == g_ticking.end() ||
        pDlg->m_uTimerId != uTimerID)
        return;
    pDlg->OnTick();
}

void CTickoraDlg::OnTick() { PlayTick(); }

// Whatever was chosen when it started, a wave sound may still be playing: the user may have
// switched away from a long file. Stopping the beat silences it.
void CTickoraDlg::StopWaveSound() const { Multimedia().PlaySoundA(nullptr, nullptr, 0); }

void CTickoraDlg::StopWaveSoundIfChosen() const {
    if (m_nTickSound == TickWaveFile)
        StopWaveSound();
}

void CTickoraDlg::OnStartStop() {
    UpdateData(TRUE);
    const char* pszTip;
    if (m_bRunning) {
        m_bRunning = FALSE;
        UpdateData(FALSE);
        KillTickTimer();
        StopWaveSound();
        ReleaseSoundPath();
        pszTip = "Starts the metronome";
    } else {
        m_bRunning = TRUE;
        UpdateData(FALSE);
        KillTickTimer();
        HoldSoundPathWarm();
        if (!StartTickTimer(BeatPeriodMs(m_nTempo), FALSE))
            MessageBoxFromString(IDS_NO_TIMER);
        pszTip = "Stops the metronome";
    }
    SetStartStopTip(pszTip);
    DrawLight();
}

// Replaces the running event with one of the current tempo's period.
void CTickoraDlg::RestartTickTimer() {
    KillTickTimer();
    StopWaveSoundIfChosen();
    if (!StartTickTimer(BeatPeriodMs(m_nTempo), FALSE))
        MessageBoxFromString(IDS_NO_TIMER);
}

void CTickoraDlg::StopMetronome() {
    m_bRunning = FALSE;
    UpdateData(FALSE);
    KillTickTimer();
    StopWaveSound();
    ReleaseSoundPath();
    SetStartStopTip("Starts the metronome");
    DrawLight();
}

// At WM_DESTROY, while every handle still exists: once this returns, no tick runs, posts or
// plays, and nothing is left sounding.
void CTickoraDlg::OnDestroy() {
    KillTickTimer();
    m_hWndForTicks = nullptr;
    StopWaveSound();
    ReleaseSoundPath();
}
