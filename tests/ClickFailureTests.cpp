// The built-in click that cannot be played: reported at the first failure of the process
// only, while the beat goes on, and never lost to a closing window. No other case of its
// process may fail a click: the engine's run in one of their own.
#include <gtest/gtest.h>

#include "ProgramTexts.h"
#include "TestSupport.h"
#include "resource.h"

TEST(ClickFailure, ReportedOncePerProcessWhileTheBeatGoesOn) {
    MultimediaRecorder rec;
    rec.bFailClick = true;
    MessageBoxWatcher boxes;
    {
        // A failing click held across the close, which returns meanwhile: released after the
        // window has gone, it reports nothing, so the one report is kept for the next panel.
        TickHold hold;
        rec.onCall = [&](MultimediaRecorder::Call call) {
            if (call == MultimediaRecorder::Call::Click)
                hold.Hold();
        };
        CTestTickoraDlg dlg;
        dlg.bSilentTicks = false;
        RunModal(dlg, [&] {
            MoveSlider(dlg, 240);
            ClickButton(dlg, IDC_START_STOP);
            ASSERT_TRUE(hold.WaitHeld());
            ClickButton(dlg, IDCANCEL);
        });
        EXPECT_FALSE(hold.Expired()) << "the close waited for the click";
        hold.Release();
        EXPECT_TRUE(hold.WaitReturned());
        EXPECT_TRUE(WaitForTimerThread());
        rec.onCall = nullptr;
    }
    EXPECT_EQ(boxes.Count(), 0);
    for (int nRun = 0; nRun < 2; ++nRun) {
        CTestTickoraDlg dlg;
        dlg.bSilentTicks = false;
        RunModal(dlg, [&] {
            MoveSlider(dlg, 240);
            for (int nCycle = 0; nCycle < 2; ++nCycle) {
                int nClicks = rec.nClicksDone;
                ClickButton(dlg, IDC_START_STOP);
                EXPECT_TRUE(PumpUntil(
                    dlg, [&] { return rec.nClicksDone >= nClicks + 2; }, 3000));
                EXPECT_TRUE(dlg.Running());
                ClickButton(dlg, IDC_START_STOP);
            }
        });
    }
    ASSERT_EQ(boxes.Count(), 1);
    EXPECT_EQ(boxes.Texts()[0], kCannotPlayText);
}
