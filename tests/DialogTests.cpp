// The control panel right after initialisation, what a refresh of the controls touches, and
// choosing a wave file while an earlier choice's check is held.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <vector>

#include "MetronomeLogic.h"
#include "ProcessPower.h"
#include "TestSupport.h"
#include "TickoraApp.h"
#include "WaveFile.h"
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

// A's check waits in its device open, as on a sound server that stopped answering; meanwhile B
// is chosen through the file dialog and taken. A's check, ending after, changes nothing. The
// file dialog leaves the current directory where it was.
TEST(Dialog, TheLatestWaveFileChoiceWinsOverAnEarlierCheckStillWaiting) {
    using Call = MultimediaRecorder::Call;
    MultimediaRecorder rec;
    TickHold hold;
    rec.onCall = [&](Call call) {
        if (call == Call::DeviceOpen)
            hold.Hold();
    };
    MessageBoxWatcher boxes;
    TempFile a("tickora choice a.wav", MakeWaveFile(0.05)), b("tickora b.wav", MakeWaveFile(0.05));
    char szDir[MAX_PATH], szWindows[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, szDir);
    GetWindowsDirectoryA(szWindows, MAX_PATH);
    SetCurrentDirectoryA(szWindows);
    CTestTickoraDlg dlg;
    RunModal(dlg, [&] {
        dlg.ChooseWaveFileForTest(a.Path().c_str(), false);
        ASSERT_TRUE(hold.WaitHeld());
        EXPECT_TRUE(IsChecked(dlg, IDC_SOUND_BUILTIN)); // the choice in force until A is taken
        boxes.AnswerFileDialog(b.Path());
        ClickButton(dlg, IDC_SELECT_WAVE);
        char szAfter[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, szAfter);
        EXPECT_STREQ(szAfter, szWindows);
        ASSERT_TRUE(dlg.WaitForWaveFileChoice());
        hold.Release();
        ASSERT_TRUE(WaitForWaveFileChecks(5000));
        PumpFor(dlg, 0); // what A's check posted at its end
        EXPECT_EQ(lstrcmpiA(dlg.WaveFile(), b.Path().c_str()), 0) << dlg.WaveFile().GetString();
        EXPECT_TRUE(IsChecked(dlg, IDC_SOUND_WAVE));
    });
    SetCurrentDirectoryA(szDir);
    EXPECT_FALSE(hold.Expired());
    EXPECT_EQ(boxes.Count(), 0);
}

// A check stuck in an open that never returns, as of a FIFO under Wine or a share that dropped,
// while the beat plays a good file: the same file chosen ten times adds no thread, the last
// choice times out with the message, the beat goes on with the file it had, a good file chosen
// next is taken at once, and the close returns while the open is still held, with no message
// and nothing taken.
TEST(Dialog, AStuckWaveFileCheckHoldsUpNeitherALaterChoiceNorTheClose) {
    MultimediaRecorder rec;
    MessageBoxWatcher boxes;
    WaveFileOpenStall stall("dropped share");
    TempFile playing("tickora playing.wav", MakeWaveFile(0.05));
    TempFile next("tickora next.wav", MakeWaveFile(0.05));
    TempFile stuck("tickora on a dropped share.wav", MakeWaveFile(0.05));
    CString strCannotPlay;
    strCannotPlay.LoadString(IDS_CANNOT_PLAY);
    CTestTickoraDlg dlg;
    dlg.bSilentTicks = false;
    INT_PTR nResult = RunModal(dlg, [&] {
        dlg.ChooseWaveFileForTest(playing.Path().c_str());
        MoveSlider(dlg, 240);
        ClickButton(dlg, IDC_START_STOP);
        for (int nChoice = 0; nChoice < 10; ++nChoice)
            dlg.ChooseWaveFileForTest(stuck.Path().c_str(), false);
        EXPECT_EQ(RunningWaveFileChecks(), 1) << "a stuck thread per choice";
        ASSERT_TRUE(dlg.WaitForWaveFileChoice());
        ASSERT_EQ(boxes.Texts(), std::vector<std::string>{strCannotPlay.GetString()});
        EXPECT_EQ(dlg.WaveFile().GetString(), playing.Path());
        int nStarts = rec.nWaveStarts;
        EXPECT_TRUE(PumpUntil(
            dlg, [&] { return rec.nWaveStarts > nStarts; }, 3000));

        dlg.ChooseWaveFileForTest(next.Path().c_str());
        EXPECT_EQ(boxes.Count(), 1) << "a good file refused behind a stuck check";
        EXPECT_EQ(dlg.WaveFile().GetString(), next.Path());
        dlg.ChooseWaveFileForTest(stuck.Path().c_str(), false);
        EXPECT_EQ(RunningWaveFileChecks(), 1);
        ClickButton(dlg, IDCANCEL);
        stall.Release();
        ASSERT_TRUE(WaitForWaveFileChecks(5000));
        PumpFor(dlg, 0); // what the stuck check posted, once the close had begun
        EXPECT_EQ(dlg.WaveFile().GetString(), next.Path());
    });
    EXPECT_EQ(nResult, IDCANCEL);
    EXPECT_EQ(boxes.Count(), 1);
}
