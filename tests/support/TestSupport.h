// Helpers for driving real dialogs under Wine from GoogleTest.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "Dialog.h"
#include "TickoraDlg.h"
#include "WinApp.h"

// Runs dlg modally; script runs inside the modal loop once the window exists. A dialog the
// script leaves open is ended with -2 soon after, so a failing test never hangs the run.
INT_PTR RunModal(CDialog& dlg, const std::function<void()>& script);

// Dispatches the thread's messages through dlg's pre-translation, as the modal loop does.
void PumpFor(CDialog& dlg, DWORD dwMilliseconds);
// Pumps until cond holds or the time is up; returns cond's last value.
bool PumpUntil(CDialog& dlg, const std::function<bool()>& cond, DWORD dwTimeoutMs);

// Sends what a click of a button sends to its dialog.
void ClickButton(CDialog& dlg, int nID);

// Watches this thread for message boxes: records each box's text and presses OK.
class MessageBoxWatcher {
public:
    MessageBoxWatcher();
    ~MessageBoxWatcher();
    std::vector<std::string> Texts() const;
    int Count() const { return static_cast<int>(Texts().size()); }

    // Answers the next file-open dialog: with a path (confirm) or cancel when empty.
    void AnswerFileDialog(const std::string& strPath) { m_strFileAnswer = strPath; }
    int FileDialogsSeen() const { return m_nFileDialogs; }

    // Closes each About box that opens, by its OK button or by Escape, and notes whether
    // its owner was disabled meanwhile. A box still open after 3 s is closed by force.
    enum class AboutClose { ByOk, ByEscape };
    void CloseAboutBoxes(AboutClose how) { m_aboutClose = how; }
    int AboutBoxesSeen() const { return m_nAboutBoxes; }
    int AboutBoxesForced() const { return m_nAboutForced; }
    bool OwnerWasDisabled() const { return m_bOwnerDisabled; }

private:
    static LRESULT CALLBACK HookProc(int nCode, WPARAM wParam, LPARAM lParam);
    static void CALLBACK ForceAboutClosed(HWND, UINT, UINT_PTR idEvent, DWORD);
    void OnActivate(HWND hWnd);
    void OnAboutBox(HWND hWnd);

    HHOOK m_hHook;
    std::vector<std::string> m_texts;
    std::string m_strFileAnswer;
    int m_nFileDialogs = 0;
    AboutClose m_aboutClose = AboutClose::ByOk;
    int m_nAboutBoxes = 0;
    int m_nAboutForced = 0;
    bool m_bOwnerDisabled = true;
    HWND m_hAbout = nullptr;
};

// Records the engine's multimedia calls and can make them fail; the real calls still run
// unless a failure is forced. Restores the system table when destroyed.
class MultimediaRecorder {
public:
    MultimediaRecorder();
    ~MultimediaRecorder();

    bool bFailTimeSetEvent = false;
    bool bFailDevCaps = false;
    TIMECAPS capsOverride = {0, 0};         // used when wPeriodMax != 0
    bool bFailClick = false;                // sndPlaySoundA refuses
    bool bFailWavePlay = false;             // asynchronous PlaySoundA refuses
    std::atomic<bool> bNoWaveDevice{false}; // waveOutOpen refuses, queries included
    // Run on the calling thread as each call starts, where a test may hold it.
    enum class Call {
        Timer, // the timer's calls but timeKillEvent
        Click,
        Beep,
        WaveStop,
        WaveStart,
        DeviceOpen,
        DeviceClose,
        FileStamp,
        KillEvent
    };
    std::function<void(Call)> onCall;
    // A silence (PlaySoundA(NULL)) holds winmm's own lock for as long as onCall holds it, or a
    // click is in its call, and the timer's calls take that lock: as Wine's PlaySound does
    // while it stops a playing sound on a server that has stopped answering.
    bool bSilenceHoldsWinmmLock = false;

    std::atomic<int> nBeginPeriod{0}, nEndPeriod{0}, nSetEvent{0}, nKillEvent{0};
    std::atomic<int> nClicks{0}, nClicksDone{0}, nBeeps{0}, nWaveStarts{0}, nWaveStops{0};
    std::atomic<int> nWaveOutOpens{0}, nWaveOutCloses{0}; // handles, not format queries
    std::atomic<UINT> uLastBeginPeriod{0}, uLastEndPeriod{0}, uLastDelay{0}, uLastResolution{0};
    std::atomic<UINT> uLastEventId{0};
    // Sounds started: clicks, beeps and wave files handed over.
    int SoundsStarted() const { return nClicks + nBeeps + nWaveStarts; }
    // Calls made by a thread that held the tick gate, and sound calls of the dialog's thread.
    std::atomic<int> nCallsWithTicksHeld{0}, nSoundCallsOfThePanel{0};
    std::string LastWavePath() const;
    DWORD DialogThread() const { return m_dwDialogThread; }

    static MultimediaRecorder* s_pCurrent;
    std::string m_strLastWavePath;

private:
    DWORD m_dwDialogThread; // the thread that made the recorder
};

// Holds the check's open (CreateFileA through its seam) of each file whose path contains
// strPart, as a share that dropped or a FIFO under Wine would, until the test lets it go.
class WaveFileOpenStall {
public:
    explicit WaveFileOpenStall(std::string strPart);
    ~WaveFileOpenStall(); // lets go, and waits for the checks to end
    void Release();

    static WaveFileOpenStall* s_pCurrent;
    const std::string m_strPart;
    HANDLE m_hRelease;
};

// Holds a call at a chosen point: the calling thread waits in Hold() until the test releases
// it, or 20 s at most (then Expired()), so that a failing test never hangs.
class TickHold {
public:
    TickHold();
    ~TickHold();
    void Hold();                             // on the held thread; only the first call holds
    bool WaitHeld(DWORD dwTimeoutMs = 3000); // until a call is held
    void Release();
    bool WaitReturned(DWORD dwTimeoutMs = 6000); // until the held thread went on
    bool Expired() const { return m_bExpired; }

private:
    HANDLE m_hHeld, m_hRelease, m_hReturned;
    std::atomic<bool> m_bHeldOnce{false}, m_bExpired{false};
};

// Repeats round until 1 + nExtraRounds rounds in a row leave this process's GDI objects,
// windows and kernel handles as they found them; a leak grows every round and never gets
// there. Wine makes some objects lazily, in the first round or a later one, so the counts may
// step up nLateSteps times before they hold.
void ExpectRoundsLeaveNothing(const char* pszWhat, const std::function<void()>& round,
                              int nExtraRounds = 1, int nLateSteps = 1);

// Waits until the sound thread has run every job posted before; false after dwTimeoutMs.
bool WaitForSoundThread(DWORD dwTimeoutMs = 5000);
// Waits until the timer service has delivered every callback that was due: a one-shot event
// of its own comes after them on the same thread.
bool WaitForTimerThread(DWORD dwTimeoutMs = 5000);
// Waits until every retired event posted for killing before has been killed.
bool WaitForKilledEvents(DWORD dwTimeoutMs = 5000);
DWORD SoundThreadId();
DWORD CheckThreadId();

// Calls a function on the window procedure's path of one control (subclassing it) for every
// message it receives, until the object goes.
class ControlSpy {
public:
    ControlSpy(HWND hControl, std::function<void(UINT uMsg)> onMessage);
    ~ControlSpy();

private:
    static LRESULT CALLBACK SpyProc(HWND, UINT, WPARAM, LPARAM);
    HWND m_hControl;
    WNDPROC m_pfnOld;
    std::function<void(UINT)> m_onMessage;
};

// A control panel whose state the tests can read. Like the application's own, it is the
// main window while it lives: message boxes raised on the timer's thread go to it.
class CTestTickoraDlg : public CTickoraDlg {
public:
    CTestTickoraDlg() { SetAppMainWindow(this); }
    ~CTestTickoraDlg() override { SetAppMainWindow(nullptr); }

    std::atomic<int> nTicks{0};
    bool bSilentTicks = true; // count only; false also plays the tick
    std::function<void()> onTickInHand; // runs in each tick before it lets go of the dialog

    // Freed memory is overwritten, so that a tick touching a dialog that is gone shows.
    static void operator delete(void* p, size_t cb) {
        std::memset(p, 0xDD, cb);
        ::operator delete(p);
    }

    BOOL Running() const { return m_bRunning; }
    UINT TimerId() const { return m_pTicks->uTimerId; }
    UINT TimerRes() const { return m_uTimerRes; }
    int Tempo() const { return m_nTempo; }
    int TickSoundChoice() const { return m_nTickSound; }
    CString WaveFile() const {
        auto hold = HoldTicks();
        return m_pTicks->strWaveFile;
    }
    CToolTipCtrl* ToolTip() const { return m_pToolTip.get(); }
    CSliderCtrl& Slider() { return m_sliderTempo; }
    HWND StartStopButton() const { return m_btnStartStop.m_hWnd; }
    // The file as if chosen, with what its check finds, playable or not; checked, as a choice
    // is, off the dialog's thread.
    void SetWaveFileForTest(const char* psz);
    // What confirming the file dialog with psz does; by default the messages are then taken
    // until the choice is settled (WaitForWaveFileChoice).
    void ChooseWaveFileForTest(const char* psz, bool bWait = true);
    // Takes the thread's messages until the latest file chosen is taken or refused.
    bool WaitForWaveFileChoice();
    static bool TicksHeldByThisThreadForTest() { return TicksHeldByThisThread(); }
    void RefreshControls() { UpdateData(FALSE); }
    void RefreshMembers() { UpdateData(TRUE); }
    void SetTickSoundMember(int n) { m_nTickSound = n; }
    // What a callback of event uId does when the timer service delivers it now.
    void DeliverTick(UINT uId) { TickTimerProc(uId, 0, reinterpret_cast<DWORD_PTR>(this), 0, 0); }

protected:
    void OnTick() override {
        ++nTicks;
        if (onTickInHand)
            onTickInHand();
        if (!bSilentTicks)
            CTickoraDlg::OnTick();
    }
};

// The control's text, class name and style.
std::string WindowText(HWND hWnd);
std::string ClassName(HWND hWnd);

// Moves the slider as the user would and sends the notification the trackbar sends.
void MoveSlider(CTestTickoraDlg& dlg, int nPos, UINT nCode = TB_THUMBPOSITION);

// Reads a pixel of the dialog's client area.
COLORREF ClientPixel(HWND hWnd, int x, int y);

// A file in the test's temporary folder; removed with the object.
class TempFile {
public:
    TempFile(const std::string& strName, const std::string& strContent);
    ~TempFile();
    const std::string& Path() const { return m_strPath; }

private:
    std::string m_strPath;
};
std::string MakeWaveFile(double dSeconds);
