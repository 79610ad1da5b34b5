#include "TestSupport.h"

#include <windows.h>

#include <commctrl.h>
#include <dlgs.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <utility>

#include "Multimedia.h"
#include "ObjectCounts.h"
#include "ProgramTexts.h"
#include "SoundThread.h"
#include "Sync.h"
#include "WaveFile.h"

namespace {

const std::function<void()>* g_pScript = nullptr;
CDialog* g_pScriptDialog = nullptr;
MessageBoxWatcher* g_pWatcher = nullptr;

UINT_PTR g_idLeftoverTimer = 0;

// A dialog the script left open is ended with -2, which no test expects.
void CALLBACK EndLeftover(HWND, UINT, UINT_PTR idEvent, DWORD) {
    KillTimer(nullptr, idEvent);
    if (g_pScriptDialog && g_pScriptDialog->IsWindow())
        g_pScriptDialog->EndDialog(-2);
}

void CALLBACK RunScript(HWND, UINT, UINT_PTR idEvent, DWORD) {
    KillTimer(nullptr, idEvent);
    const std::function<void()>* pScript = std::exchange(g_pScript, nullptr);
    if (!pScript)
        return;
    (*pScript)();
    g_idLeftoverTimer = SetTimer(nullptr, 0, 100, &EndLeftover);
}

} // namespace

INT_PTR RunModal(CDialog& dlg, const std::function<void()>& script) {
    g_pScript = &script;
    g_pScriptDialog = &dlg;
    SetTimer(nullptr, 0, 0, &RunScript);
    INT_PTR nResult = dlg.DoModal();
    if (g_idLeftoverTimer)
        KillTimer(nullptr, std::exchange(g_idLeftoverTimer, 0));
    g_pScript = nullptr;
    g_pScriptDialog = nullptr;
    return nResult;
}

void PumpFor(CDialog& dlg, DWORD dwMilliseconds) {
    PumpUntil(
        dlg, [] { return false; }, dwMilliseconds);
}

bool PumpUntil(CDialog& dlg, const std::function<bool()>& cond, DWORD dwTimeoutMs) {
    DWORD dwStart = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return cond();
            }
            if (!dlg.PreTranslateMessage(&msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
        if (cond())
            return true;
        if (GetTickCount() - dwStart >= dwTimeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

void ClickButton(CDialog& dlg, int nID) {
    SendMessageA(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(nID, BN_CLICKED),
                 reinterpret_cast<LPARAM>(dlg.GetDlgItem(nID)));
}

// --- message boxes and file dialogs ---------------------------------------------------

MessageBoxWatcher::MessageBoxWatcher() {
    g_pWatcher = this;
    m_hHook =
        SetWindowsHookExA(WH_CBT, &MessageBoxWatcher::HookProc, nullptr, GetCurrentThreadId());
}

MessageBoxWatcher::~MessageBoxWatcher() {
    UnhookWindowsHookEx(m_hHook);
    g_pWatcher = nullptr;
}

std::vector<std::string> MessageBoxWatcher::Texts() const { return m_texts; }

LRESULT CALLBACK MessageBoxWatcher::HookProc(int nCode, WPARAM wParam, LPARAM lParam) {
    if (nCode == HCBT_ACTIVATE && g_pWatcher)
        g_pWatcher->OnActivate(reinterpret_cast<HWND>(wParam));
    return CallNextHookEx(nullptr, nCode, wParam, lParam);
}

void MessageBoxWatcher::OnActivate(HWND hWnd) {
    if (ClassName(hWnd) != "#32770")
        return;
    // The About box has a static with id -1 too: tell it by its caption first.
    if (WindowText(hWnd) == kAboutCaption) {
        OnAboutBox(hWnd);
        return;
    }
    // A message box's text is the static with id 0xFFFF.
    if (HWND hText = GetDlgItem(hWnd, 0xFFFF)) {
        m_texts.push_back(WindowText(hText));
        PostMessageA(hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return;
    }
    if (WindowText(hWnd) != "Open")
        return;
    ++m_nFileDialogs;
    if (m_strFileAnswer.empty()) {
        PostMessageA(hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return;
    }
    // The explorer-style dialog names its file box cmb13, the old style edt1.
    SetDlgItemTextA(hWnd, cmb13, m_strFileAnswer.c_str());
    SetDlgItemTextA(hWnd, edt1, m_strFileAnswer.c_str());
    PostMessageA(hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

void MessageBoxWatcher::OnAboutBox(HWND hWnd) {
    ++m_nAboutBoxes;
    m_hAbout = hWnd;
    HWND hOwner = GetWindow(hWnd, GW_OWNER);
    m_bOwnerDisabled = m_bOwnerDisabled && hOwner && !IsWindowEnabled(hOwner);
    HWND hOk = GetDlgItem(hWnd, IDOK);
    if (m_aboutClose == AboutClose::ByOk) {
        PostMessageA(hOk, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
        PostMessageA(hOk, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
    } else {
        PostMessageA(hOk, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    }
    SetTimer(nullptr, 0, 3000, &MessageBoxWatcher::ForceAboutClosed);
}

void CALLBACK MessageBoxWatcher::ForceAboutClosed(HWND, UINT, UINT_PTR idEvent, DWORD) {
    KillTimer(nullptr, idEvent);
    if (g_pWatcher && g_pWatcher->m_hAbout && IsWindow(g_pWatcher->m_hAbout)) {
        ++g_pWatcher->m_nAboutForced;
        PostMessageA(g_pWatcher->m_hAbout, WM_COMMAND, IDCANCEL, 0);
    }
}

// --- multimedia recorder --------------------------------------------------------------

MultimediaRecorder* MultimediaRecorder::s_pCurrent = nullptr;

namespace {

MultimediaRecorder& Rec() { return *MultimediaRecorder::s_pCurrent; }
CCriticalSection g_winmmLock;

// Takes the stand-in for winmm's own lock while the recorder models it.
struct WinmmLock {
    bool bTaken = Rec().bSilenceHoldsWinmmLock;
    WinmmLock() {
        if (bTaken)
            g_winmmLock.lock();
    }
    ~WinmmLock() {
        if (bTaken)
            g_winmmLock.unlock();
    }
};
const MultimediaApi& Sys() { return SystemMultimedia(); }
using Call = MultimediaRecorder::Call;

// No multimedia or file call is made under the tick gate, by any thread; and the dialog's
// thread makes no sound call, which could wait on the sound server. Then starts the call.
void Enter(Call call, bool bSoundCall) {
    if (CTestTickoraDlg::TicksHeldByThisThreadForTest())
        ++Rec().nCallsWithTicksHeld;
    if (bSoundCall && GetCurrentThreadId() == Rec().DialogThread())
        ++Rec().nSoundCallsOfThePanel;
    if (Rec().onCall)
        Rec().onCall(call);
}

MMRESULT WINAPI RecDevCaps(LPTIMECAPS pCaps, UINT cb) {
    Enter(Call::Timer, false);
    if (Rec().bFailDevCaps)
        return TIMERR_NOCANDO;
    if (Rec().capsOverride.wPeriodMax != 0) {
        *pCaps = Rec().capsOverride;
        return TIMERR_NOERROR;
    }
    return Sys().timeGetDevCaps(pCaps, cb);
}

MMRESULT WINAPI RecBeginPeriod(UINT u) {
    Enter(Call::Timer, false);
    ++Rec().nBeginPeriod;
    Rec().uLastBeginPeriod = u;
    return Sys().timeBeginPeriod(u);
}

MMRESULT WINAPI RecEndPeriod(UINT u) {
    Enter(Call::Timer, false);
    ++Rec().nEndPeriod;
    Rec().uLastEndPeriod = u;
    return Sys().timeEndPeriod(u);
}

MMRESULT WINAPI RecSetEvent(UINT uDelay, UINT uRes, LPTIMECALLBACK pfn, DWORD_PTR dw, UINT f) {
    Enter(Call::Timer, false);
    WinmmLock lock;
    ++Rec().nSetEvent;
    Rec().uLastDelay = uDelay;
    Rec().uLastResolution = uRes;
    if (Rec().bFailTimeSetEvent)
        return 0;
    UINT uId = Sys().timeSetEvent(uDelay, uRes, pfn, dw, f);
    Rec().uLastEventId = uId;
    return uId;
}

MMRESULT WINAPI RecKillEvent(UINT uId) {
    WinmmLock lock;
    ++Rec().nKillEvent;
    MMRESULT result = Sys().timeKillEvent(uId);
    Enter(Call::KillEvent, false);
    return result;
}

BOOL WINAPI RecPlaySound(LPCSTR psz, HMODULE h, DWORD f) {
    if (!psz) {
        WinmmLock lock;
        // Wine's silence stops the sound in progress, a click too, and waits for it.
        for (int n = 0; lock.bTaken && Rec().nClicks != Rec().nClicksDone && n < 6000; ++n)
            Sleep(1);
        Enter(Call::WaveStop, true);
        ++Rec().nWaveStops;
        return Sys().PlaySoundA(psz, h, f);
    }
    ++Rec().nWaveStarts;
    Enter(Call::WaveStart, true);
    Rec().m_strLastWavePath = psz;
    if (Rec().bFailWavePlay)
        return FALSE;
    return Sys().PlaySoundA(psz, h, f);
}

BOOL WINAPI RecSndPlaySound(LPCSTR psz, UINT f) {
    ++Rec().nClicks;
    Enter(Call::Click, true);
    BOOL bPlayed = !Rec().bFailClick && Sys().sndPlaySoundA(psz, f);
    ++Rec().nClicksDone;
    return bPlayed;
}

BOOL WINAPI RecMessageBeep(UINT uType) {
    ++Rec().nBeeps;
    Enter(Call::Beep, true);
    return Sys().MessageBeep(uType);
}

MMRESULT WINAPI RecWaveOutOpen(LPHWAVEOUT ph, UINT uDevice, LPCWAVEFORMATEX pFormat,
                               DWORD_PTR dwCallback, DWORD_PTR dwInstance, DWORD fdwOpen) {
    Enter(Call::DeviceOpen, true);
    if (Rec().bNoWaveDevice)
        return MMSYSERR_NODRIVER;
    MMRESULT result = Sys().waveOutOpen(ph, uDevice, pFormat, dwCallback, dwInstance, fdwOpen);
    if (result == MMSYSERR_NOERROR && !(fdwOpen & WAVE_FORMAT_QUERY))
        ++Rec().nWaveOutOpens;
    return result;
}

MMRESULT WINAPI RecWaveOutClose(HWAVEOUT h) {
    Enter(Call::DeviceClose, true);
    ++Rec().nWaveOutCloses;
    return Sys().waveOutClose(h);
}

BOOL WINAPI RecFileAttributes(LPCSTR psz, GET_FILEEX_INFO_LEVELS level, LPVOID pInfo) {
    Enter(Call::FileStamp, true);
    return SystemWaveFileIo().GetFileAttributesExA(psz, level, pInfo);
}

} // namespace

MultimediaRecorder::MultimediaRecorder() : m_dwDialogThread(GetCurrentThreadId()) {
    s_pCurrent = this;
    Multimedia() = {RecDevCaps,   RecBeginPeriod,  RecEndPeriod,   RecSetEvent,     RecKillEvent,
                    RecPlaySound, RecSndPlaySound, RecWaveOutOpen, RecWaveOutClose, RecMessageBeep};
    WaveFileIo().GetFileAttributesExA = RecFileAttributes;
}

// Jobs of the workers posted meanwhile are recorded too.
MultimediaRecorder::~MultimediaRecorder() {
    EXPECT_TRUE(WaitForSoundThread());
    EXPECT_TRUE(WaitForKilledEvents());
    EXPECT_NE(CheckThreadId(), 0u);
    EXPECT_EQ(nCallsWithTicksHeld, 0) << "a multimedia call made while holding the tick gate";
    EXPECT_EQ(nSoundCallsOfThePanel, 0) << "a sound call on the dialog's thread";
    Multimedia() = SystemMultimedia();
    WaveFileIo().GetFileAttributesExA = SystemWaveFileIo().GetFileAttributesExA;
    s_pCurrent = nullptr;
}

std::string MultimediaRecorder::LastWavePath() const { return m_strLastWavePath; }

// --- stalling wave-file opens --------------------------------------------------------

WaveFileOpenStall* WaveFileOpenStall::s_pCurrent = nullptr;

namespace {

HANDLE WINAPI StallableCreateFile(LPCSTR psz, DWORD dwAccess, DWORD dwShare,
                                  LPSECURITY_ATTRIBUTES pSecurity, DWORD dwCreation,
                                  DWORD dwFlags, HANDLE hTemplate) {
    WaveFileOpenStall& stall = *WaveFileOpenStall::s_pCurrent;
    if (std::string(psz).find(stall.m_strPart) != std::string::npos)
        WaitForSingleObject(stall.m_hRelease, 10000);
    return SystemWaveFileIo().CreateFileA(psz, dwAccess, dwShare, pSecurity, dwCreation, dwFlags,
                                          hTemplate);
}

} // namespace

WaveFileOpenStall::WaveFileOpenStall(std::string strPart)
    : m_strPart(std::move(strPart)), m_hRelease(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    s_pCurrent = this;
    WaveFileIo().CreateFileA = StallableCreateFile;
}

// The check still running refers to this object: it must have ended first.
WaveFileOpenStall::~WaveFileOpenStall() {
    Release();
    EXPECT_TRUE(WaitForWaveFileChecks(5000));
    WaveFileIo().CreateFileA = SystemWaveFileIo().CreateFileA;
    s_pCurrent = nullptr;
    CloseHandle(m_hRelease);
}

void WaveFileOpenStall::Release() { SetEvent(m_hRelease); }

// --- choosing wave files --------------------------------------------------------------

void CTestTickoraDlg::SetWaveFileForTest(const char* psz) {
    WaveFileCheck check;
    std::thread([&] { check = CheckWaveFile(psz); }).join();
    SetWaveFile(psz, std::move(check));
}

void CTestTickoraDlg::ChooseWaveFileForTest(const char* psz, bool bWait) {
    UseChosenWaveFile(psz);
    if (bWait) {
        EXPECT_TRUE(WaitForWaveFileChoice()) << psz;
    }
}

// The deadlines of a check are 1 s for the header and 5 s for the device.
bool CTestTickoraDlg::WaitForWaveFileChoice() {
    return PumpUntil(
        *this, [this] { return !m_pChoiceCheck; }, 8000);
}

// --- holding a call -------------------------------------------------------------------

TickHold::TickHold()
    : m_hHeld(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      m_hRelease(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      m_hReturned(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

TickHold::~TickHold() {
    Release();
    if (m_bHeldOnce)
        WaitReturned();
    CloseHandle(m_hHeld);
    CloseHandle(m_hRelease);
    CloseHandle(m_hReturned);
}

// A held call gives up by itself only so that a test that never releases it cannot hang; a
// test asserts that it released the call first. In the emulated PC, beside other entries, a
// file dialog alone has taken over 5 s while a call was held.
constexpr DWORD kHoldGivesUpMs = 20000;

void TickHold::Hold() {
    if (m_bHeldOnce.exchange(true))
        return;
    SetEvent(m_hHeld);
    if (WaitForSingleObject(m_hRelease, kHoldGivesUpMs) != WAIT_OBJECT_0)
        m_bExpired = true;
    SetEvent(m_hReturned);
}

bool TickHold::WaitHeld(DWORD dwTimeoutMs) {
    return WaitForSingleObject(m_hHeld, dwTimeoutMs) == WAIT_OBJECT_0;
}

void TickHold::Release() { SetEvent(m_hRelease); }

bool TickHold::WaitReturned(DWORD dwTimeoutMs) {
    return WaitForSingleObject(m_hReturned, dwTimeoutMs) == WAIT_OBJECT_0;
}

namespace {

// Runs fn on the worker that post feeds and waits for it.
bool RunOnWorker(void (*post)(std::function<void()>), std::function<void()> fn,
                 DWORD dwTimeoutMs) {
    auto hDone = std::shared_ptr<void>(CreateEventA(nullptr, TRUE, FALSE, nullptr), CloseHandle);
    post([hDone, fn] {
        fn();
        SetEvent(hDone.get());
    });
    return WaitForSingleObject(hDone.get(), dwTimeoutMs) == WAIT_OBJECT_0;
}

void CALLBACK SignalEvent(UINT, UINT, DWORD_PTR dwUser, DWORD_PTR, DWORD_PTR) {
    SetEvent(reinterpret_cast<HANDLE>(dwUser));
}

} // namespace

namespace {

// The counts once they hold still: the threads of a sound that just ended take a moment to go.
ObjectCounts SteadyCounts() {
    EXPECT_TRUE(WaitForSoundThread());
    ObjectCounts last = CountObjects(GetCurrentProcess(), GetCurrentProcessId());
    for (int n = 0; n < 30; ++n) {
        Sleep(100);
        ObjectCounts now = CountObjects(GetCurrentProcess(), GetCurrentProcessId());
        if (now == last)
            break;
        last = now;
    }
    return last;
}

std::string CountsText(const std::vector<ObjectCounts>& history) {
    std::string s;
    for (const ObjectCounts& c : history) {
        char sz[96];
        std::snprintf(sz, sizeof sz, "(%ld GDI, %ld windows, %ld handles) ", c.nGdiObjects,
                      c.nWindows, c.nHandles);
        s += sz;
    }
    return s;
}

} // namespace

void ExpectRoundsLeaveNothing(const char* pszWhat, const std::function<void()>& round,
                              int nExtraRounds, int nLateSteps) {
    const int nQuietNeeded = 1 + nExtraRounds;
    const int nMaxRounds = 1 + nQuietNeeded * (1 + nLateSteps);
    std::vector<ObjectCounts> history;
    for (int nQuiet = 0; nQuiet < nQuietNeeded;) {
        ASSERT_LT(static_cast<int>(history.size()), nMaxRounds)
            << pszWhat << ": objects keep growing round after round: " << CountsText(history);
        round();
        history.push_back(SteadyCounts());
        const ObjectCounts& now = history.back();
        ASSERT_TRUE(now.nGdiObjects > 0 && now.nWindows >= 0 && now.nHandles > 0)
            << pszWhat << ": the counts cannot be read: " << CountsText(history);
        nQuiet = history.size() > 1 && now == history[history.size() - 2] ? nQuiet + 1 : 0;
    }
}

bool WaitForSoundThread(DWORD dwTimeoutMs) {
    return RunOnWorker(PostSoundJob, [] {}, dwTimeoutMs);
}

bool WaitForKilledEvents(DWORD dwTimeoutMs) {
    return RunOnWorker(PostTimerJob, [] {}, dwTimeoutMs);
}

DWORD CheckThreadId() {
    auto pId = std::make_shared<std::atomic<DWORD>>(0);
    RunOnWorker(PostCheckJob, [pId] { *pId = GetCurrentThreadId(); }, 5000);
    return *pId;
}

bool WaitForTimerThread(DWORD dwTimeoutMs) {
    HANDLE hDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    UINT uId = SystemMultimedia().timeSetEvent(1, 0, SignalEvent,
                                               reinterpret_cast<DWORD_PTR>(hDone), TIME_ONESHOT);
    bool bDone = uId && WaitForSingleObject(hDone, dwTimeoutMs) == WAIT_OBJECT_0;
    if (bDone)
        CloseHandle(hDone); // else the event may still fire: leave the handle
    return bDone;
}

DWORD SoundThreadId() {
    auto pId = std::make_shared<std::atomic<DWORD>>(0);
    RunOnWorker(PostSoundJob, [pId] { *pId = GetCurrentThreadId(); }, 5000);
    return *pId;
}

namespace {
ControlSpy* g_pSpy = nullptr;
}

ControlSpy::ControlSpy(HWND hControl, std::function<void(UINT)> onMessage)
    : m_hControl(hControl), m_onMessage(std::move(onMessage)) {
    g_pSpy = this;
    m_pfnOld = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hControl, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SpyProc)));
}

ControlSpy::~ControlSpy() {
    if (IsWindow(m_hControl))
        SetWindowLongPtrA(m_hControl, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnOld));
    g_pSpy = nullptr;
}

LRESULT CALLBACK ControlSpy::SpyProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    WNDPROC pfnOld = g_pSpy->m_pfnOld;
    g_pSpy->m_onMessage(uMsg);
    return CallWindowProcA(pfnOld, hWnd, uMsg, wParam, lParam);
}

// --- windows --------------------------------------------------------------------------

std::string WindowText(HWND hWnd) {
    char buffer[512] = "";
    GetWindowTextA(hWnd, buffer, sizeof buffer);
    return buffer;
}

std::string ClassName(HWND hWnd) {
    char buffer[256] = "";
    GetClassNameA(hWnd, buffer, sizeof buffer);
    return buffer;
}

void MoveSlider(CTestTickoraDlg& dlg, int nPos, UINT nCode) {
    HWND hSlider = dlg.GetDlgItem(1000);
    SendMessageA(hSlider, TBM_SETPOS, TRUE, nPos);
    SendMessageA(dlg.m_hWnd, WM_HSCROLL, MAKEWPARAM(nCode, nPos),
                 reinterpret_cast<LPARAM>(hSlider));
}

COLORREF ClientPixel(HWND hWnd, int x, int y) {
    HDC hDC = GetDC(hWnd);
    COLORREF color = GetPixel(hDC, x, y);
    ReleaseDC(hWnd, hDC);
    return color;
}

// --- files ----------------------------------------------------------------------------

TempFile::TempFile(const std::string& strName, const std::string& strContent) {
    char szDir[MAX_PATH];
    GetTempPathA(sizeof szDir, szDir);
    m_strPath = std::string(szDir) + strName;
    HANDLE hFile = CreateFileA(m_strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD dwWritten = 0;
    WriteFile(hFile, strContent.data(), static_cast<DWORD>(strContent.size()), &dwWritten, nullptr);
    CloseHandle(hFile);
}

TempFile::~TempFile() { DeleteFileA(m_strPath.c_str()); }

namespace {
void PutLE(std::string& s, uint32_t v, int nBytes) {
    for (int i = 0; i < nBytes; ++i)
        s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
} // namespace

// A mono 16-bit 44.1 kHz tone of the given length.
std::string MakeWaveFile(double dSeconds) {
    const uint32_t nSamples = static_cast<uint32_t>(dSeconds * 44100);
    std::string s = "RIFF";
    PutLE(s, 36 + nSamples * 2, 4);
    s += "WAVEfmt ";
    PutLE(s, 16, 4);
    PutLE(s, 1, 2);
    PutLE(s, 1, 2);
    PutLE(s, 44100, 4);
    PutLE(s, 88200, 4);
    PutLE(s, 2, 2);
    PutLE(s, 16, 2);
    s += "data";
    PutLE(s, nSamples * 2, 4);
    for (uint32_t i = 0; i < nSamples; ++i)
        PutLE(s, static_cast<uint16_t>(static_cast<int16_t>(8000 * std::sin(i * 0.1))), 2);
    return s;
}
