// CTickoraDlg: the control panel. It owns all run-time state: the beat engine, the tick
// choice, the bound controls, the tooltips and the application icon. Its source is split by
// concern: TickoraDlg.cpp (object and initialisation), BeatTimer.cpp, TickSound.cpp,
// WarmSoundPath.cpp, TempoHandlers.cpp, Priority.cpp, Lamp.cpp, ToolTips.cpp, AboutDlg.cpp.
//
// Threads: ticks run on the timer service's thread, everything else on the dialog's. A tick
// runs inside the process-wide tick gate (BeatTimer.cpp) and only while its event is the live
// one, m_uTimerId. The dialog thread retires the id and then takes the same gate, so a tick
// either finishes before a stop returns or sees that its event is gone. The tick reads
// m_uTimerId, m_nTickSound and m_hWndForTicks atomically and the wave file under its own lock;
// it writes only m_uTimerId, to retire its own event when its wave file fails.
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
#include "ToolTipCtrl.h"
#include "WaveFile.h"

// Work raised on the timer's thread that must run on the dialog's thread.
constexpr UINT WM_APP_WAVE_TICK_FAILED = WM_APP + 1;
constexpr UINT WM_APP_SHOW_MESSAGE = WM_APP + 2; // wParam: string id

// Plays the click stored as a "WAVE" resource, synchronously; false when it could not.
bool PlayBuiltInWave(UINT id);

class CTickoraDlg : public CDialog {
public:
    explicit CTickoraDlg(CWnd* pParent = nullptr);
    ~CTickoraDlg() override;

    BOOL PreTranslateMessage(MSG* pMsg) override;

protected:
    // The tick hook, called on the timer service's thread once per period.
    virtual void OnTick();

    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;
    void PostNcDestroy() override;
    MessageMap GetMessageMap() const override;

    // Beat timer and run control
    BOOL StartTickTimer(UINT uPeriod, BOOL bOneShot);
    BOOL KillTickTimer();
    static void CALLBACK TickTimerProc(UINT uTimerID, UINT uMsg, DWORD_PTR dwUser, DWORD_PTR dw1,
                                       DWORD_PTR dw2);
    // Holds ticks off while the dialog thread changes what they depend on; re-entrant.
    [[nodiscard]] static std::unique_lock<std::recursive_mutex> HoldTicks();
    void NegotiateTimerResolution();
    void OnStartStop();
    void StopMetronome();
    void RestartTickTimer();
    void StopWaveSound() const;
    void StopWaveSoundIfChosen() const;
    void WaitForTickInFlight();
    void OnDestroy();

    // Tick sounds
    void PlayTick();
    void PlayWaveFileTick();
    CString CopyWaveFile(WaveFileCheck& check);
    void SetWaveFile(const char* pszPath, WaveFileCheck check);
    // Posts to the panel from the timer's thread; nowhere once the teardown has begun.
    void PostToPanel(UINT uMsg, WPARAM wParam);
    void ReportClickFailure();
    LRESULT OnWaveTickFailed(WPARAM, LPARAM);
    LRESULT OnShowMessage(WPARAM wParam, LPARAM);

    // An idle wave-out handle held while the beat runs, so that Wine does not start and end
    // its sound device thread at every tick.
    void HoldSoundPathWarm();
    void ReleaseSoundPath();

    // Tempo and sound-choice handlers
    void OnTempoScroll(UINT nSBCode, UINT nPos, HWND hScrollBar);
    void OnSoundChoice();
    bool NoWaveFileYet();
    void OnSelectWave();
    void UseChosenWaveFile(const char* pszPath);

    // Priority
    void FillPriorityList();
    void ApplyPriorityClass();

    // Lamp and painting
    void LoadLampIcons();
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
    CString m_strWaveFile;
    BOOL m_bRunning = FALSE;
    UINT m_uTimerRes;
    std::atomic<UINT> m_uTimerId; // the live event; a new one is stored inside the tick gate
    int m_nTempo;
    CButton m_btnStartStop;
    CSliderCtrl m_sliderTempo;
    std::atomic<int> m_nTickSound;
    CUniqueWaveOut m_hWarmWaveOut;
    // The window ticks post to: set when it exists, cleared at WM_DESTROY after the last tick.
    std::atomic<HWND> m_hWndForTicks{nullptr};

private:
    // Ticks reach only dialogs that accept them; refusing waits for a tick still running,
    // so no tick touches the object after its teardown.
    static void AcceptTicks(CTickoraDlg* pDlg);
    static void RefuseTicks(CTickoraDlg* pDlg);

    // Guards the wave file and its check: a tick copies them while the dialog thread may
    // replace them.
    std::mutex m_mutexWaveFile;
    WaveFileCheck m_checkWaveFile;
};
