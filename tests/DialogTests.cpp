// The control panel right after initialisation, and what a refresh of the controls touches.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <vector>

#include "MetronomeLogic.h"
#include "ProcessPower.h"
#include "TestSupport.h"
#include "TickoraApp.h"
#include "resource.h"

namespace {

int SliderValue(HWND hSlider, UINT uMsg) { return static_cast<int>(SendMessageA(hSlider, uMsg, 0, 0)); }

bool IsChecked(CDialog& dlg, int nID) {
    return SendMessageA(dlg.GetDlgItem(nID), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// What start-up asked of power throttling, and the timer resolutions it had asked for by then.
std::vector<std::vector<ULONG>> g_powerRequests;
bool g_bPanelShown = false;

BOOL WINAPI RecordPowerRequest(HANDLE hProcess, int nClass, LPVOID pInfo, DWORD cb) {
    const auto* pState = static_cast<const ULONG*>(pInfo);
    g_powerRequests.push_back({hProcess == GetCurrentProcess(), ULONG(nClass), cb, pState[0],
                               pState[1], pState[2],
                               ULONG(MultimediaRecorder::s_pCurrent->nBeginPeriod)});
    return TRUE;
}

// Ends the start-up's modal run once the panel is there.
void CALLBACK CancelThePanel(HWND, UINT, UINT_PTR, DWORD) {
    g_bPanelShown |= AppMainWindowHandle() != nullptr;
    PostMessageA(AppMainWindowHandle(), WM_COMMAND, IDCANCEL, 0);
}

} // namespace

TEST(Dialog, StartUpAsksOnceToKeepTheTimerResolutionBeforeTheDialogIsMade) {
    MultimediaRecorder rec;
    const ProcessPowerApi system = ProcessPower();
    using SetFn = decltype(system.SetProcessInformation);
    for (SetFn pfnSet : {SetFn(&RecordPowerRequest), SetFn(nullptr)}) { // null: before Windows 8
        ProcessPower().SetProcessInformation = pfnSet;
        g_bPanelShown = false;
        UINT_PTR uTimer = SetTimer(nullptr, 0, 100, &CancelThePanel);
        EXPECT_FALSE(CTickoraApp().InitInstance());
        KillTimer(nullptr, uTimer);
        EXPECT_TRUE(g_bPanelShown);
    }
    ProcessPower() = system;
    // Once: this process, ProcessPowerThrottling, 12 bytes: version 1, the ignore-timer-
    // resolution control, its state clear; and no timer resolution asked for yet.
    EXPECT_EQ(g_powerRequests, (std::vector<std::vector<ULONG>>{{1, 4, 12, 1, 4, 0, 0}}));
}

TEST(Dialog, StartsAt120BpmWithTheBuiltInClickAndStopped) {
    CTestTickoraDlg dlg;
    EXPECT_EQ(dlg.Tempo(), 120);
    EXPECT_EQ(dlg.TickSoundChoice(), TickBuiltIn);
    EXPECT_EQ(dlg.TimerId(), 0u);
    EXPECT_EQ(dlg.ToolTip(), nullptr);
    bool bRan = false;
    RunModal(dlg, [&] {
        bRan = true;
        HWND hSlider = dlg.GetDlgItem(IDC_TEMPO_SLIDER);
        EXPECT_EQ(dlg.Slider().m_hWnd, hSlider);
        EXPECT_EQ(dlg.StartStopButton(), dlg.GetDlgItem(IDC_START_STOP));
        EXPECT_EQ(SliderValue(hSlider, TBM_GETRANGEMIN), 40);
        EXPECT_EQ(SliderValue(hSlider, TBM_GETRANGEMAX), 240);
        EXPECT_EQ(SliderValue(hSlider, TBM_GETPOS), 120);
        EXPECT_EQ(SliderValue(hSlider, TBM_GETLINESIZE), 1);
        EXPECT_EQ(SliderValue(hSlider, TBM_GETPAGESIZE), 10);
        // Tick marks every 20 between the ends: 60, 80, ..., 220.
        EXPECT_EQ(SliderValue(hSlider, TBM_GETNUMTICS), 11);
        EXPECT_EQ(SendMessageA(hSlider, TBM_GETTIC, 0, 0), 60);

        EXPECT_TRUE(IsChecked(dlg, IDC_SOUND_BUILTIN));
        EXPECT_FALSE(IsChecked(dlg, IDC_SOUND_SPEAKER));
        EXPECT_FALSE(IsChecked(dlg, IDC_SOUND_WAVE));
        EXPECT_EQ(WindowText(dlg.GetDlgItem(IDC_TEMPO_TEXT)), "120 bpm");
        EXPECT_FALSE(dlg.Running());
        EXPECT_STREQ(dlg.WaveFile(), "/none/");
        EXPECT_EQ(dlg.TimerId(), 0u);
        EXPECT_EQ(WindowText(dlg.m_hWnd), "Tickora 1.0");

        // Both window icons are the application icon.
        HICON hBig = reinterpret_cast<HICON>(SendMessageA(dlg.m_hWnd, WM_GETICON, ICON_BIG, 0));
        HICON hSmall = reinterpret_cast<HICON>(SendMessageA(dlg.m_hWnd, WM_GETICON, ICON_SMALL, 0));
        EXPECT_NE(hBig, nullptr);
        EXPECT_EQ(hBig, hSmall);
    });
    EXPECT_TRUE(bRan);
}

TEST(Dialog, RefreshingTheControlsChangesOnlyTheRadioButtons) {
    CTestTickoraDlg dlg;
    RunModal(dlg, [&] {
        HWND hSlider = dlg.GetDlgItem(IDC_TEMPO_SLIDER);
        SendMessageA(hSlider, TBM_SETPOS, TRUE, 77); // moved without a notification
        dlg.SetTickSoundMember(TickSpeaker);
        dlg.RefreshControls();
        EXPECT_TRUE(IsChecked(dlg, IDC_SOUND_SPEAKER));
        EXPECT_FALSE(IsChecked(dlg, IDC_SOUND_BUILTIN));
        EXPECT_EQ(SliderValue(hSlider, TBM_GETPOS), 77);
        EXPECT_EQ(WindowText(dlg.GetDlgItem(IDC_TEMPO_TEXT)), "120 bpm");
        EXPECT_EQ(dlg.Tempo(), 120);
    });
}

TEST(Dialog, KeyboardMovesTheSliderByOneAndByTen) {
    CTestTickoraDlg dlg;
    RunModal(dlg, [&] {
        HWND hSlider = dlg.GetDlgItem(IDC_TEMPO_SLIDER);
        SetFocus(hSlider);
        auto press = [&](UINT vk) {
            PostMessageA(hSlider, WM_KEYDOWN, vk, 1);
            PostMessageA(hSlider, WM_KEYUP, vk, 0xC0000001);
            PumpFor(dlg, 30);
        };
        press(VK_RIGHT);
        EXPECT_EQ(dlg.Tempo(), 121);
        press(VK_NEXT);
        EXPECT_EQ(dlg.Tempo(), 131);
        press(VK_END);
        EXPECT_EQ(dlg.Tempo(), 240);
        EXPECT_EQ(WindowText(dlg.GetDlgItem(IDC_TEMPO_TEXT)), "240 bpm");
        press(VK_HOME);
        EXPECT_EQ(dlg.Tempo(), 40);
        EXPECT_EQ(WindowText(dlg.GetDlgItem(IDC_TEMPO_TEXT)), "40 bpm");
    });
}
