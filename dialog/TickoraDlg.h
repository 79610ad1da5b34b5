// CTickoraDlg: the control panel. It owns all run-time state: the beat engine, the tick
// choice, the bound controls, the tooltips and the application icon. Its source is split by
// concern: TickoraDlg.cpp (object and initialisation), BeatTimer.cpp, TickSound.cpp,
// WaveFile.cpp and WaveFileChoice.cpp (the wave-file source), WarmSoundPath.cpp,
// TempoHandlers.cpp, Priority.cpp, Lamp.cpp, ToolTips.cpp, AboutDlg.cpp.
//
// Threads: ticks run on the timer service's thread, everything else on the dialog's, which
// hands what may wait on a server, a driver or a disk to workers (SoundThread.h). Which thread
// waits for what, and why none waits for long, is told once, beside the tick gate
// (BeatTimer.cpp). What a tick needs after it let go of the dialog lives in TickShared.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "Dialog.h"
#include "Gdi.h"
#include "Multimedia.h"
#include "SliderCtrl.h"
#include "String.h"
#include "Sync.h"
#include "ToolTipCtrl.h"
#include "WaveFile.h"

// The tick gate: a plain lock, as nothing takes it twice. It remembers its holder, so that a
// check can tell whether the calling thread holds it.
class CTickGate {
public:
    void lock() {
        m_lock.lock();
        m_dwHolder = GetCurrentThreadId();
    }
    void unlock() {
        m_dwHolder = 0;
        m_lock.unlock();
    }
    bool HeldByThisThread() const { return m_dwHolder == GetCurrentThreadId(); }

private:
    CCriticalSection m_lock;
    std::atomic<DWORD> m_dwHolder{0};
};

// What ticks share with the dialog. A tick holds it through a shared_ptr from the moment it
// lets go of the dialog, so one that returns late from a stuck sound call touches only this.
struct TickShared {
    std::atomic<UINT> uTimerId{0}; // the live event, 0 for none; written under the tick gate
    // Under the tick gate:
    HWND hWnd = nullptr; // where ticks post; null once the window is going
    CString strWaveFile;
    WaveFileCheck checkWaveFile;
    unsigned nWaveFileChoice = 0; // counts choices, so that a late check of an old one is ignored
    // Runs: each start of an event begins one. nRun is written under the tick gate; nRunSounding
    // is the run of the latest tick that went on to its sound, so that a late silence of an
    // older run can tell that it would cut a newer one's tick.
    std::atomic<unsigned> nRun{0}, nRunSounding{0};
    // Wave sounds started and, as of the latest silence, silenced: while they differ a wave
    // sound of ours may still play, and only then does a stop silence it.
    std::atomic<unsigned> nWaveStarts{0}, nWaveStartsSilenced{0};
    // Sound thread only.
    CUniqueWaveOut hWarmWaveOut;
};

// What the file's part of a liveness check found, for the device's part.
struct WaveFileSeen {
    WaveFileCheck check;
    unsigned nChoice = 0;
    bool bSavedAgain = false; // the stamp had changed: check holds the file read again
};

// One tick's sound, taken from the dialog before any sound call.
struct TickToPlay {
    std::shared_ptr<TickShared> pShared;
    UINT uId = 0;
    unsigned nRun = 0;
    int nSound = -1; // a TickSound, or -1 for none
    CString strWaveFile;
    bool bWaveFilePlayable = false;
};

// Work raised on the timer's thread that must run on the dialog's thread.
constexpr UINT WM_APP_WAVE_TICK_FAILED = WM_APP + 1;
constexpr UINT WM_APP_SHOW_MESSAGE = WM_APP + 2; // wParam: string id
// A chosen file's check has reached its next phase (WaveFileChoice.cpp); wParam: its id.
constexpr UINT WM_APP_WAVE_FILE_CHECKED = WM_APP + 3;
// Sent by a control over the lamp once it has handled a message (Lamp.cpp).
constexpr UINT WM_APP_LAMP_PAINTED_OVER = WM_APP + 4;
// The check thread's answer: wParam the request it answers, lParam nonzero if the file plays.
constexpr UINT WM_APP_LIVENESS_ANSWER = WM_APP + 5;

// The panel's timers: the liveness check's pace and bound, and a chosen file's check deadline.
constexpr UINT_PTR kLivenessTimer = 1, kLivenessBoundTimer = 2, kChoiceDeadlineTimer = 3;

struct ChosenFileCheck;

// Plays the click stored as a "WAVE" resource, synchronously; false when it could not.
bool PlayBuiltInWave(UINT id);

class CTickoraDlg : public CDialog {
public:
    explicit CTickoraDlg(CWnd* pParent = nullptr);
    ~CTickoraDlg() override;

    BOOL PreTranslateMessage(MSG* pMsg) override;

protected:
    // The tick hook, called on the timer service's thread once per period; plays the tick.
    virtual void OnTick();

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;
    void PostNcDestroy() override;
    MessageMap GetMessageMap() const override;

    // Beat timer and run control
    BOOL StartTickTimer(UINT uPeriod, BOOL bOneShot);
    void KillTickTimer();
    static void CALLBACK TickTimerProc(UINT uTimerID, UINT uMsg, DWORD_PTR dwUser, DWORD_PTR dw1,
                                       DWORD_PTR dw2);
    // Takes the tick gate, a plain lock held only for a few reads and writes of memory.
    [[nodiscard]] static std::unique_lock<CTickGate> HoldTicks();
    static bool TicksHeldByThisThread();
    void NegotiateTimerResolution();
    void OnStartStop();
    void StopMetronome();
    void RestartTickTimer();
    void StopWaveSound() const;
    void StopWaveSoundIfChosen() const;
    static void SilenceWaveSound(TickShared& shared, unsigned nRun);
    void OnDestroy();

    // Tick sounds
    void PlayTick();
    TickToPlay LetGoOfTick();
    static void PlayTickSound(const TickToPlay& tick);
    static bool PlayWaveFileTick(const TickToPlay& tick);
    static bool PostIfLive(const TickToPlay& tick, UINT uMsg, WPARAM wParam, bool bRetire = false,
                           std::atomic<bool>* pbOnce = nullptr);
    static WaveFileSeen LookAtWaveFileAgain(TickShared& shared);
    static bool DeviceOpensForWaveFile(TickShared& shared, WaveFileSeen& seen);
    void RearmWaveFileCheck();
    void AskWhetherWaveFileStillPlays();
    bool ChosenFilePlays();
    LRESULT OnTimer(WPARAM wParam, LPARAM);
    LRESULT OnLivenessAnswer(WPARAM wParam, LPARAM lParam);
    void SetWaveFile(const char* pszPath, WaveFileCheck check);
    LRESULT OnWaveTickFailed(WPARAM, LPARAM);
    LRESULT OnShowMessage(WPARAM wParam, LPARAM);

    // An idle wave-out handle held while the beat runs, so that Wine does not start and end
    // its sound device thread at every tick. Both post to the sound thread.
    void HoldSoundPathWarm();
    void ReleaseSoundPath();

    // Tempo and sound-choice handlers
    void OnTempoScroll(UINT nSBCode, UINT nPos, HWND hScrollBar);
    void OnSoundChoice();
    bool NoWaveFileYet();
    void OnSelectWave();
    void UseChosenWaveFile(const char* pszPath);
    LRESULT OnWaveFileChecked(WPARAM wParam, LPARAM);
    void OnWaveFileCheckDeadline();
    void FollowWaveFileCheck(bool bDeadlinePassed);
    void SettleWaveFileChoice(const WaveFileCheck& check);

    // Priority
    void FillPriorityList();
    void ApplyPriorityClass();

    // Lamp and painting
    void LoadLampIcons();
    void PaintLampAfterCoveringControls();
    void OnLampPaintedOver();
    void DrawLight();
    void OnPaint();
    HCURSOR OnQueryDragIcon();

    // Tooltips
    void CreateToolTips();
    void SetStartStopTip(const char* pszText);

    // About box
    void AddAboutMenuItem();
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnAboutButton();

    std::unique_ptr<CToolTipCtrl> m_pToolTip;
    HICON m_hIcon;
    CUniqueIcon m_hLampOn, m_hLampOff;
    BOOL m_bRunning = FALSE;
    UINT m_uTimerRes;
    int m_nTempo;
    CButton m_btnStartStop;
    CSliderCtrl m_sliderTempo;
    std::atomic<int> m_nTickSound; // read by ticks before they let go of the dialog
    const std::shared_ptr<TickShared> m_pTicks = std::make_shared<TickShared>();
    // The latest choice's check until it settles, and whether it is past its header.
    std::shared_ptr<ChosenFileCheck> m_pChoiceCheck;
    bool m_bAwaitingDevice = false;

private:
    // Ticks reach only dialogs that accept them. Refusing waits for the ticks that have not
    // yet let go of the dialog: they run a few lines of ours and no call that can wait.
    static void AcceptTicks(CTickoraDlg* pDlg);
    static void RefuseTicks(CTickoraDlg* pDlg);
    int m_nTicksInHand = 0; // under the tick gate
    // The liveness check, on the dialog's thread: the latest request and whether its answer is
    // still awaited.
    unsigned m_nLivenessAsked = 0;
    bool m_bLivenessAwaited = false;
};
