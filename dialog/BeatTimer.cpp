// CTickoraDlg: the beat timer and run control.
#include <algorithm>
#include <vector>

#include "MessageBox.h"
#include "MetronomeLogic.h"
#include "Multimedia.h"
#include "TickoraDlg.h"
#include "resource.h"

namespace {

// The tick gate. A tick holds it from start to end; the dialog thread holds it while it starts,
// kills or retires the event, or changes what the next tick will read.
//
// No deadlock is possible. The timer thread takes only this lock (and, inside it, the wave
// path's lock, which nothing holds for long), and while holding it calls nothing that waits
// for the dialog thread: it plays sounds, beeps, kills its own event and posts. The dialog
// thread, while holding it, calls nothing that waits for the timer thread: events are made
// without TIME_KILL_SYNCHRONOUS, so timeKillEvent never waits for a callback, and a wave sound
// it stops plays on the sound service's own thread, since no tick runs meanwhile. So the
// dialog thread waits at most for one tick in flight, the built-in click (~120 ms) at most.
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

// Inside the gate, so that the first tick of the new event finds its id already stored.
BOOL CTickoraDlg::StartTickTimer(UINT uPeriod, BOOL bOneShot) {
    auto hold = HoldTicks();
    UINT uId = Multimedia().timeSetEvent(uPeriod, m_uTimerRes, &CTickoraDlg::TickTimerProc,
                                         reinterpret_cast<DWORD_PTR>(this),
                                         bOneShot ? TIME_ONESHOT : TIME_PERIODIC);
    if (uId == 0)
        return FALSE;
    m_uTimerId = uId;
    return TRUE;
}

// The id is retired before the gate is taken, so that callbacks of the old event, late ones
// included, return at once and cannot keep the dialog thread waiting; inside the gate a tick
// still running finishes first. A failed kill names no event, so its id is forgotten too.
BOOL CTickoraDlg::KillTickTimer() {
    UINT uId = m_uTimerId.exchange(0);
    MMRESULT result = Multimedia().timeKillEvent(uId);
    auto hold = HoldTicks();
    return result == TIMERR_NOERROR;
}

void CALLBACK CTickoraDlg::TickTimerProc(UINT uTimerID, UINT, DWORD_PTR dwUser, DWORD_PTR,
                                         DWORD_PTR) {
    auto* pDlg = reinterpret_cast<CTickoraDlg*>(dwUser);
    auto hold = HoldTicks();
    // A callback already on its way when its event was killed must not reach a dialog that is
    // gone, nor play for an event that has been stopped or replaced.
    if (std::find(g_ticking.begin(), g_ticking.end(), pDlg) == g_ticking.end() ||
        pDlg->m_uTimerId != uTimerID)
        return;
    pDlg->OnTick();
}

void CTickoraDlg::OnTick() { PlayTick(); }

void CTickoraDlg::StopWaveSound() const {
    if (m_nTickSound == TickWaveFile)
        Multimedia().PlaySoundA(nullptr, nullptr, 0);
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
    StopWaveSound();
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
