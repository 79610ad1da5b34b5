// Choosing a wave file: the file dialog, and the check of the chosen file on a thread of its
// own, while the panel goes on as before.
//
// A check's thread touches only its ChosenFileCheck: the path it was given, the result it
// writes before it marks itself finished, its phase and the window it posts to (both atomic).
// It takes no lock and makes nobody wait; it may itself wait for ever, in an open of a share
// that dropped or of a FIFO under Wine, or in a device open on a hung sound server, calls that
// nothing can cancel. So the panel never waits for it: the handler that took the choice has
// returned long before, each phase the check reaches comes back as a post, and each phase's
// deadline as the panel's timer. Only the check of the latest choice counts, and only until
// the close begins; whatever else arrives is dropped. The list of checks is the panel's
// thread's alone. A stuck check stays in it, and is taken again when the same file is chosen
// again: choosing a file over and over leaves one stuck thread, not one per choice.
#include <windows.h>

#include <commdlg.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "FileDialog.h"
#include "MessageBox.h"
#include "MetronomeLogic.h"
#include "SoundThread.h"
#include "TickoraDlg.h"
#include "WaveFile.h"
#include "resource.h"

namespace {

// A header on a local disk reads in well under a millisecond; a share that has not answered
// by then is treated as unreadable. A sound server may take seconds to open the process's
// first stream, more so just after it started.
constexpr DWORD kHeaderReadTimeoutMs = 1000;
constexpr DWORD kDeviceOpenTimeoutMs = 5000;

// Cancels the stalled I/O of the check's thread, where the system offers a way (Vista on).
void CancelStalledIo(HANDLE hThread) {
    using CancelSynchronousIoFn = BOOL(WINAPI*)(HANDLE);
    static const auto pfnCancel = reinterpret_cast<CancelSynchronousIoFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "CancelSynchronousIo")));
    if (pfnCancel)
        pfnCancel(hThread);
}

} // namespace

// One check of one chosen file, shared by the panel and the check's thread; whichever lets go
// last frees it.
struct ChosenFileCheck {
    enum class Phase { ReadingHeader, OpeningDevice, Finished };

    ChosenFileCheck(const char* pszPath, HWND hPostTo) : strPath(pszPath), hNotify(hPostTo) {}

    // Posts WM_APP_WAVE_FILE_CHECKED with nId to hNotify as each phase is reached.
    static std::shared_ptr<ChosenFileCheck> Start(const char* pszPath, HWND hNotify) {
        auto pCheck = std::make_shared<ChosenFileCheck>(pszPath, hNotify);
        pCheck->hThread = StartThread([pCheck] { pCheck->Run(); });
        return pCheck->hThread ? pCheck : nullptr;
    }

    bool Finished() const { return phase == Phase::Finished; }

    static inline UINT s_nLastId = 0; // the panel's thread only
    const UINT nId = ++s_nLastId;
    const std::string strPath;
    std::atomic<HWND> hNotify;
    std::atomic<Phase> phase{Phase::ReadingHeader};
    WaveFileCheck result; // written before the phase becomes Finished, read after
    CUniqueThread hThread;

private:
    void Run() {
        WaveFileCheck check = ReadWaveFileCheck(strPath.c_str());
        Reach(Phase::OpeningDevice);
        if (OpensDeviceFor(check.format))
            result = std::move(check);
        Reach(Phase::Finished);
    }

    void Reach(Phase next) {
        phase = next;
        PostMessageA(hNotify, WM_APP_WAVE_FILE_CHECKED, nId, 0);
    }
};

namespace {

// Every check whose thread had not ended at the latest choice.
std::vector<std::shared_ptr<ChosenFileCheck>> g_checks;

// A check of the same file still under way serves the new choice as well.
std::shared_ptr<ChosenFileCheck> CheckForChoice(const char* pszPath, HWND hNotify) {
    std::erase_if(g_checks, [](const auto& pCheck) {
        return WaitForSingleObject(pCheck->hThread.get(), 0) == WAIT_OBJECT_0;
    });
    for (const auto& pCheck : g_checks) {
        if (!pCheck->Finished() && lstrcmpiA(pCheck->strPath.c_str(), pszPath) == 0) {
            pCheck->hNotify = hNotify;
            return pCheck;
        }
    }
    auto pCheck = ChosenFileCheck::Start(pszPath, hNotify);
    if (pCheck)
        g_checks.push_back(pCheck);
    return pCheck;
}

} // namespace

WaveFileCheck CheckWaveFile(const char* pszPath) {
    WaveFileCheck check = ReadWaveFileCheck(pszPath);
    return OpensDeviceFor(check.format) ? check : WaveFileCheck{};
}

int RunningWaveFileChecks() {
    return static_cast<int>(std::count_if(g_checks.begin(), g_checks.end(),
                                          [](const auto& pCheck) { return !pCheck->Finished(); }));
}

bool WaitForWaveFileChecks(DWORD dwTimeoutMs) {
    DWORD dwStart = GetTickCount();
    for (const auto& pCheck : g_checks) {
        DWORD dwElapsed = GetTickCount() - dwStart;
        if (dwElapsed > dwTimeoutMs ||
            WaitForSingleObject(pCheck->hThread.get(), dwTimeoutMs - dwElapsed) != WAIT_OBJECT_0)
            return false;
    }
    return true;
}

// --- the panel's side ---------------------------------------------------------------------

void CTickoraDlg::OnSelectWave() {
    CFileDialog dlg(TRUE, "wav", nullptr, OFN_FILEMUSTEXIST | OFN_HIDEREADONLY,
                    "Wave Files (*.wav)|*.wav|All Files (*.*)|*.*||");
    if (dlg.DoModal() == IDOK)
        UseChosenWaveFile(dlg.GetPathName());
}

// Replaces any choice still being checked; the one in force stays until this one is taken.
void CTickoraDlg::UseChosenWaveFile(const char* pszPath) {
    m_pChoiceCheck = CheckForChoice(pszPath, m_hWnd);
    if (!m_pChoiceCheck) {
        KillTimer(m_hWnd, kChoiceDeadlineTimer);
        MessageBoxFromString(IDS_CANNOT_PLAY);
        return;
    }
    m_bAwaitingDevice = false;
    SetTimer(m_hWnd, kChoiceDeadlineTimer, kHeaderReadTimeoutMs, nullptr);
    // A check taken again may be past its header already.
    PostMessageA(m_hWnd, WM_APP_WAVE_FILE_CHECKED, m_pChoiceCheck->nId, 0);
}

// A post of a check of an older choice, or one that comes once the close has begun, is dropped.
LRESULT CTickoraDlg::OnWaveFileChecked(WPARAM wParam, LPARAM) {
    if (m_pChoiceCheck && m_pChoiceCheck->nId == wParam && !IsEnding())
        FollowWaveFileCheck(false);
    return 0;
}

void CTickoraDlg::OnWaveFileCheckDeadline() {
    KillTimer(m_hWnd, kChoiceDeadlineTimer);
    if (m_pChoiceCheck && !IsEnding())
        FollowWaveFileCheck(true);
}

// What the latest choice's check has reached: its result, the next phase and its deadline,
// or, past the deadline, a check that took too long.
void CTickoraDlg::FollowWaveFileCheck(bool bDeadlinePassed) {
    ChosenFileCheck& check = *m_pChoiceCheck;
    ChosenFileCheck::Phase phase = check.phase;
    if (phase == ChosenFileCheck::Phase::Finished) {
        SettleWaveFileChoice(check.result);
        return;
    }
    if (phase == ChosenFileCheck::Phase::OpeningDevice && !m_bAwaitingDevice) {
        m_bAwaitingDevice = true;
        SetTimer(m_hWnd, kChoiceDeadlineTimer, kDeviceOpenTimeoutMs, nullptr);
        return;
    }
    if (!bDeadlinePassed)
        return;
    CancelStalledIo(check.hThread.get());
    SettleWaveFileChoice({});
}

// The file is checked once, when chosen, so that no tick reads it. One that cannot be played,
// or cannot be checked in time, is refused with the message a failing tick shows, and the
// previous choice stays as it was.
void CTickoraDlg::SettleWaveFileChoice(const WaveFileCheck& check) {
    KillTimer(m_hWnd, kChoiceDeadlineTimer);
    std::shared_ptr<ChosenFileCheck> pCheck = std::exchange(m_pChoiceCheck, nullptr);
    if (!check.HoldsSound()) {
        MessageBoxFromString(IDS_CANNOT_PLAY);
        return;
    }
    SetWaveFile(pCheck->strPath.c_str(), check);
    m_nTickSound = TickWaveFile;
    UpdateData(FALSE);
}
