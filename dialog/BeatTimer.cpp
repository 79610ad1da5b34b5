// CTickoraDlg: the beat timer and run control.
#include <algorithm>
#include <vector>

#include "MessageBox.h"
#include "MetronomeLogic.h"
#include "Multimedia.h"
#include "TickoraDlg.h"
#include "resource.h"

namespace {

std::mutex g_mutexTicks; // held while a tick runs
std::vector<CTickoraDlg*> g_ticking;

} // namespace

void CTickoraDlg::AcceptTicks(CTickoraDlg* pDlg) {
    std::lock_guard lock(g_mutexTicks);
    g_ticking.push_back(pDlg);
}

void CTickoraDlg::RefuseTicks(CTickoraDlg* pDlg) {
    std::lock_guard lock(g_mutexTicks);
    g_ticking.erase(std::remove(g_ticking.begin(), g_ticking.end(), pDlg), g_ticking.end());
}

void CTickoraDlg::NegotiateTimerResolution() {
    TIMECAPS caps = {};
    if (Multimedia().timeGetDevCaps(&caps, sizeof caps) != TIMERR_NOERROR)
        return;
    m_uTimerRes = ClampTimerResolution(caps);
    Multimedia().timeBeginPeriod(m_uTimerRes);
}

BOOL CTickoraDlg::StartTickTimer(UINT uPeriod, BOOL bOneShot) {
    UINT uId = Multimedia().timeSetEvent(uPeriod, m_uTimerRes, &CTickoraDlg::TickTimerProc,
                                         reinterpret_cast<DWORD_PTR>(this),
                                         bOneShot ? TIME_ONESHOT : TIME_PERIODIC);
    if (uId == 0)
        return FALSE;
    m_uTimerId = uId;
    return TRUE;
}

BOOL CTickoraDlg::KillTickTimer() {
    if (Multimedia().timeKillEvent(m_uTimerId) != TIMERR_NOERROR)
        return FALSE;
    m_uTimerId = 0;
    return TRUE;
}

void CALLBACK CTickoraDlg::TickTimerProc(UINT, UINT, DWORD_PTR dwUser, DWORD_PTR, DWORD_PTR) {
    auto* pDlg = reinterpret_cast<CTickoraDlg*>(dwUser);
    std::lock_guard lock(g_mutexTicks);
    // A tick already on its way when the event was killed must not reach a dialog that is gone.
    if (std::find(g_ticking.begin(), g_ticking.end(), pDlg) == g_ticking.end())
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
        pszTip = "Starts the metronome";
    } else {
        m_bRunning = TRUE;
        UpdateData(FALSE);
        KillTickTimer();
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
    SetStartStopTip("Starts the metronome");
    DrawLight();
}
