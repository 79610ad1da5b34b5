// CTickoraDlg: the beat timer and run control.
#include <algorithm>
#include <vector>

#include "MessageBox.h"
#include "MetronomeLogic.h"
#include "Multimedia.h"
#include "SoundThread.h"
#include "TickoraDlg.h"
#include "resource.h"

namespace {

// Why nothing waits for long: every lock, every wait and what they rest on, in one place.
//
// Words. A tick has its dialog "in hand" from the moment it finds its event live under the
// gate until it "lets go" (LetGoOfTick), having copied what it plays into TickToPlay; after
// that it touches only TickShared. An event is "retired" once its id is no longer the live one
// in TickShared (a stop, a restart, the teardown, or a failing tick set it under the gate);
// every callback of a retired event, late ones included, does nothing.
//
// Threads. Ticks run on the timer service's thread; the dialog's thread runs everything else,
// and hands what may wait on a server, a driver or a disk to workers: the sound thread
// (silences, the held handle's open and close, the device part of the liveness check), a
// thread that kills retired events (a failing tick kills its own on the timer's thread), the
// check thread (the file part of the liveness check of a beating wave file: a share that
// stalls holds up no silence), and a thread for each chosen file's check (WaveFileChoice.cpp).
// A chosen file's check takes no lock and touches only its own record; it may wait for ever
// in a file or device open that cannot be cancelled, so the panel never waits for it: each
// phase it reaches comes back as a post, each deadline as the panel's timer. A file chosen
// again while its check is stuck is given that check again, so choices add no stuck threads.
//
// Locks. (1) The tick gate guards the list of dialogs that take ticks, each dialog's count of
// ticks in hand and what TickShared keeps under it. Whoever holds it, a tick, a worker or the
// dialog thread, only reads and writes memory and posts (PostMessageA, which never waits): no
// multimedia or file call is made under it, and nothing under it waits for another thread (the
// teardown's wait lets go of it). So nobody waits on it for longer than a few lines of ours.
// (2) Each worker's queue lock is held only to add or take a job. No lock of ours is held
// across a call that can wait, and none is taken while another is held, so no deadlock forms.
//
// Waits of ours. The teardown waits, a millisecond at a time, for ticks still in hand, which
// make no call that can wait before they let go. Workers wait for their next job. Nothing
// else of ours waits for another thread: results come back as posted messages, and one for an
// older request is dropped. The liveness check's answer is awaited by a timer, not a wait: one
// that has not come within its bound counts as a failure.
//
// What we rest on. (a) winmm's timeSetEvent, timeKillEvent and timeEndPeriod do not wait for a
// callback in flight (no TIME_KILL_SYNCHRONOUS): our tests hold calls above winmm and cannot
// show it. (b) But Wine's timeSetEvent and timeKillEvent take winmm's own lock, and Wine's
// PlaySound holds that lock while it stops a sound in progress (waveOutReset), which waits for
// a server that has stopped answering. So the dialog thread kills no event itself (a worker
// does, and only when there is one), and silences only while a wave sound of ours may
// play, never a click. A Start while a tick's or a silence's stop of a wave sound is stuck
// there still waits in timeSetEvent: that wait is Wine's. (c) Devices are opened and closed by
// one thread of ours, the sound thread (ticks' own sounds aside): opened and closed on two at
// once around a server's return, Wine lost the completion of every later click. On a hung
// server the device part of a liveness check holds up the silences behind it, which would wait
// on that server themselves; its bound still stops the beat. (d) PostMessageA and the critical
// sections of Sync.h never wait on another thread's calls.
//
// Sound after Stop. A stop retires the event under the gate and returns without waiting for
// any tick. A tick that let go before that finishes the call it is in: a click plays to its
// end (about 120 ms), a beep rings once. A wave tick looks at its event again before its start
// and starts no file once it is retired; a start that was already under way and returns after
// the stop is silenced at once by its own thread, so the file sounds only until that silence
// returns. A wave file started before the stop plays until the stop's silence, which the sound
// thread makes as soon as the jobs before it are done. A silence belongs to its run: once a
// tick of a newer run has gone on to its sound, an older silence is dropped rather than cut it.
// A tick posts only if its event is still live, checked under the gate, so nothing is posted
// after a stop.
//
// The gate and the list are never destroyed: a tick back late from a stuck sound call still
// takes the gate to look at its event, even while the process ends.
CTickGate& g_gate = *new CTickGate;
std::vector<CTickoraDlg*>& g_ticking = *new std::vector<CTickoraDlg*>;

// The tick on the calling thread, in a slot of the system's own: the runtime's thread_local
// takes locks of its own at a thread's first use and end, which make kernel objects when two
// threads meet there.
struct TickOnThread {
    UINT uId;
    bool bLetGo; // it has let go of its dialog
};
const DWORD g_dwTickSlot = TlsAlloc();

TickOnThread* TickOfThisThread() { return static_cast<TickOnThread*>(TlsGetValue(g_dwTickSlot)); }

} // namespace

std::unique_lock<CTickGate> CTickoraDlg::HoldTicks() { return std::unique_lock(g_gate); }

bool CTickoraDlg::TicksHeldByThisThread() { return g_gate.HeldByThisThread(); }

void CTickoraDlg::AcceptTicks(CTickoraDlg* pDlg) {
    auto hold = HoldTicks();
    g_ticking.push_back(pDlg);
}

void CTickoraDlg::RefuseTicks(CTickoraDlg* pDlg) {
    auto hold = HoldTicks();
    g_ticking.erase(std::remove(g_ticking.begin(), g_ticking.end(), pDlg), g_ticking.end());
    // A tick in hand lets go within a few lines of ours; it is looked at again each millisecond.
    while (pDlg->m_nTicksInHand != 0) {
        hold.unlock();
        Sleep(1);
        hold.lock();
    }
}

void CTickoraDlg::NegotiateTimerResolution() {
    TIMECAPS caps = {};
    if (Multimedia().timeGetDevCaps(&caps, sizeof caps) != TIMERR_NOERROR)
        return;
    m_uTimerRes = ClampTimerResolution(caps);
    Multimedia().timeBeginPeriod(m_uTimerRes);
}

// The first callback of the new event can come before its id is stored; it is not matched and
// plays nothing. That can only happen if this thread stalls for a whole period (250 ms at
// least), and costs one tick.
BOOL CTickoraDlg::StartTickTimer(UINT uPeriod, BOOL bOneShot) {
    UINT uId = Multimedia().timeSetEvent(uPeriod, m_uTimerRes, &CTickoraDlg::TickTimerProc,
                                         reinterpret_cast<DWORD_PTR>(this),
                                         bOneShot ? TIME_ONESHOT : TIME_PERIODIC);
    if (uId == 0)
        return FALSE;
    auto hold = HoldTicks();
    m_pTicks->uTimerId = uId;
    ++m_pTicks->nRun;
    return TRUE;
}

// The id is retired under the gate, and from then on every callback of the old event, late
// ones included, finds it retired and does nothing. The event itself is killed by a worker:
// timeKillEvent takes winmm's own lock, which Wine's PlaySound holds while it stops a playing
// sound on a server that has stopped answering (see the block above).
void CTickoraDlg::KillTickTimer() {
    UINT uId;
    {
        auto hold = HoldTicks();
        uId = m_pTicks->uTimerId.exchange(0);
    }
    if (uId != 0)
        PostTimerJob([uId] { Multimedia().timeKillEvent(uId); });
}

void CALLBACK CTickoraDlg::TickTimerProc(UINT uTimerID, UINT, DWORD_PTR dwUser, DWORD_PTR,
                                         DWORD_PTR) {
    auto* pDlg = reinterpret_cast<CTickoraDlg*>(dwUser);
    {
        auto hold = HoldTicks();
        // A callback already on its way when its event was killed must not reach a dialog
        // that is gone, nor play for an event that has been stopped or replaced.
        if (uTimerID == 0 ||
            std::find(g_ticking.begin(), g_ticking.end(), pDlg) == g_ticking.end() ||
            pDlg->m_pTicks->uTimerId != uTimerID)
            return;
        ++pDlg->m_nTicksInHand;
    }
    TickOnThread tick = {uTimerID, false};
    if (TlsSetValue(g_dwTickSlot, &tick))
        pDlg->OnTick();
    // An override that played nothing, or a tick with no slot to follow it, still holds the
    // dialog.
    if (!tick.bLetGo)
        pDlg->LetGoOfTick();
    TlsSetValue(g_dwTickSlot, nullptr);
}

void CTickoraDlg::OnTick() { PlayTick(); }

// Everything the tick will play is copied, and the dialog let go of, before any sound call:
// the call may be stuck for seconds, and the dialog may be gone when it returns.
TickToPlay CTickoraDlg::LetGoOfTick() {
    TickToPlay tick;
    TickOnThread* pOnThread = TickOfThisThread();
    auto hold = HoldTicks();
    if (pOnThread && m_pTicks->uTimerId == pOnThread->uId) {
        tick.pShared = m_pTicks;
        tick.uId = pOnThread->uId;
        tick.nRun = m_pTicks->nRun;
        tick.nSound = m_nTickSound;
        tick.strWaveFile = m_pTicks->strWaveFile;
        tick.bWaveFilePlayable = m_pTicks->checkWaveFile.HoldsSound();
        m_pTicks->nRunSounding = tick.nRun;
    }
    --m_nTicksInHand;
    if (pOnThread)
        pOnThread->bLetGo = true;
    return tick;
}

void CTickoraDlg::PlayTick() { PlayTickSound(LetGoOfTick()); }

// Whatever was chosen when it started, a wave sound may still be playing: the user may have
// switched away from a long file. Stopping the beat silences it, but only if a wave sound of
// ours may still play: a silence during a click makes Wine stop the click under winmm's own
// lock, which a stopped sound server then holds for as long as it does not answer.
void CTickoraDlg::StopWaveSound() const {
    if (m_pTicks->nWaveStarts == m_pTicks->nWaveStartsSilenced)
        return;
    PostSoundJob([pShared = m_pTicks, nRun = m_pTicks->nRun.load()] {
        SilenceWaveSound(*pShared, nRun);
    });
}

// A silence belongs to the run it was asked for: once a tick of a newer run has gone on to its
// sound, it could only cut that tick, and is dropped.
void CTickoraDlg::SilenceWaveSound(TickShared& shared, unsigned nRun) {
    if (static_cast<int>(shared.nRunSounding - nRun) > 0)
        return;
    unsigned nStarts = shared.nWaveStarts;
    Multimedia().PlaySoundA(nullptr, nullptr, 0);
    shared.nWaveStartsSilenced = nStarts;
}

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
        RearmWaveFileCheck();
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

// At WM_DESTROY: once this returns no tick posts or touches the dialog, and a wave sound that
// may still play is silenced by the sound thread, however long that takes it; what may still
// sound meanwhile is told in the block above. It makes no call that can wait.
void CTickoraDlg::OnDestroy() {
    KillTickTimer();
    {
        auto hold = HoldTicks();
        m_pTicks->hWnd = nullptr;
    }
    StopWaveSound();
    ReleaseSoundPath();
}
