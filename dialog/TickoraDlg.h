// CTickoraDlg: the control panel. It owns all run-time state: the beat engine, the tick
// choice, the bound controls, the tooltips and the application icon. Its source is split by
// concern: TickoraDlg.cpp (object and initialisation), BeatTimer.cpp, TickSound.cpp,
// TempoHandlers.cpp, Priority.cpp, Lamp.cpp, ToolTips.cpp, AboutDlg.cpp.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include <memory>
#include <mutex>

#include "Dialog.h"
#include "SliderCtrl.h"
#include "String.h"
#include "ToolTipCtrl.h"

// Work raised on the timer's thread that must run on the dialog's thread.
constexpr UINT WM_APP_WAVE_TICK_FAILED = WM_APP + 1;
constexpr UINT WM_APP_SHOW_MESSAGE = WM_APP + 2; // wParam: string id

// Plays the click stored as a "WAVE" resource, synchronously; reports the first failure of
// the process only.
void PlayBuiltInWave(UINT id);

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
    void NegotiateTimerResolution();
    void OnStartStop();
    void StopMetronome();
    void RestartTickTimer();
    void StopWaveSound() const;

    // Tick sounds
    void PlayTick();
    void PlayWaveFileTick();
    CString CopyWaveFile();
    LRESULT OnWaveTickFailed(WPARAM, LPARAM);
    LRESULT OnShowMessage(WPARAM wParam, LPARAM);

    // Tempo and sound-choice handlers
    void OnTempoScroll(UINT nSBCode, UINT nPos, HWND hScrollBar);
    void OnSoundChoice();
    void OnSelectWave();

    // Priority
    void FillPriorityList();
    void ApplyPriorityClass();

    // Lamp and painting
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
    CString m_strWaveFile;
    BOOL m_bRunning = FALSE;
    UINT m_uTimerRes;
    UINT m_uTimerId;
    int m_nTempo;
    CButton m_btnStartStop;
    CSliderCtrl m_sliderTempo;
    int m_nTickSound;

private:
    // Ticks reach only dialogs that accept them; refusing waits for a tick still running,
    // so no tick touches the object after its teardown.
    static void AcceptTicks(CTickoraDlg* pDlg);
    static void RefuseTicks(CTickoraDlg* pDlg);

    // Guards m_strWaveFile: a tick copies it while the dialog thread may replace it.
    std::mutex m_mutexWaveFile;
};
