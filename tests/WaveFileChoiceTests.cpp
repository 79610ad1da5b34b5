// Choosing a wave file while an earlier choice's check is held: the handler has returned, the
// latest choice wins, and a stuck check holds up neither a later choice nor the close.
#include <gtest/gtest.h>

#include <windows.h>

#include "MetronomeLogic.h"
#include "TestSupport.h"
#include "resource.h"

namespace {

bool IsChecked(CDialog& dlg, int nID) {
    return SendMessageA(dlg.GetDlgItem(nID), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::string CurrentDirectory() {
    char sz[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof sz, sz);
    return sz;
}

} // namespace

// A's check waits in its device open, as on a sound server that stopped answering; meanwhile B
// is chosen through the file dialog and taken. A's check, ending after, changes nothing. The
// file dialog leaves the current directory where it was.
TEST(DialogWaveFileChoice, TheLatestChoiceWinsOverAnEarlierCheckStillWaiting) {
    using Call = MultimediaRecorder::Call;
    MultimediaRecorder rec;
    TickHold hold;
    rec.onCall = [&](Call call) {
        if (call == Call::DeviceOpen)
            hold.Hold();
    };
    MessageBoxWatcher boxes;
    TempFile a("tickora choice a.wav", MakeWaveFile(0.05));
    TempFile b("tickora choice b.wav", MakeWaveFile(0.05));
    const std::string strDirBefore = CurrentDirectory();
    char szWindows[MAX_PATH];
    GetWindowsDirectoryA(szWindows, sizeof szWindows);
    SetCurrentDirectoryA(szWindows);
    CTestTickoraDlg dlg;
    RunModal(dlg, [&] {
        dlg.ChooseWaveFileForTest(a.Path().c_str(), false);
        ASSERT_TRUE(hold.WaitHeld());
        EXPECT_TRUE(IsChecked(dlg, IDC_SOUND_BUILTIN)); // the choice in force until A is taken
        boxes.AnswerFileDialog(b.Path());
        ClickButton(dlg, IDC_SELECT_WAVE);
        EXPECT_EQ(CurrentDirectory(), szWindows);
        ASSERT_TRUE(dlg.WaitForWaveFileChoice());
        hold.Release();
        dlg.WaitForWaveFileChecks();
        EXPECT_EQ(lstrcmpiA(dlg.WaveFile(), b.Path().c_str()), 0) << dlg.WaveFile().GetString();
        EXPECT_TRUE(IsChecked(dlg, IDC_SOUND_WAVE));
    });
    SetCurrentDirectoryA(strDirBefore.c_str());
    EXPECT_FALSE(hold.Expired());
    EXPECT_EQ(boxes.Count(), 0);
}

// A check stuck in an open that never returns, as of a FIFO under Wine or a share that dropped,
// while the beat plays a good file: the same file chosen ten times adds no thread, the last
// choice times out with the message, the beat goes on with the file it had, a good file chosen
// next is taken at once, and the close returns while the open is still held, with no message
// and nothing taken.
TEST(DialogWaveFileChoice, AStuckCheckHoldsUpNeitherALaterChoiceNorTheClose) {
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
        dlg.WaitForWaveFileChecks(); // the stuck check ends, once the close has begun
        EXPECT_EQ(dlg.WaveFile().GetString(), next.Path());
    });
    EXPECT_EQ(nResult, IDCANCEL);
    EXPECT_EQ(boxes.Count(), 1);
}
