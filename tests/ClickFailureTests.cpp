// The built-in click that cannot be played: reported at the first failure of the process
// only, while the beat goes on, and never lost to a closing window. Runs in a process of its own.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "resource.h"

TEST(ClickFailure, ReportedOncePerProcessWhileTheBeatGoesOn) {
    MultimediaRecorder rec;
    rec.bFailClick = true;
    MessageBoxWatcher boxes;
    {
        // A failing click held across the close: the teardown waits for it, and it reports
        // nothing into a window that is going, so the one report is kept for the next panel.
        TickHold hold;
        rec.onClick = [&] { hold.Hold(); };
        CTestTickoraDlg dlg;
        dlg.bSilentTicks = false;
        RunModal(dlg, [&] {
            MoveSlider(dlg, 240);
            ClickButton(dlg, IDC_START_STOP);
            ASSERT_TRUE(hold.WaitHeld());
            hold.ReleaseAfter(300);
            ClickButton(dlg, IDCANCEL);
        });
        EXPECT_TRUE(hold.Released());
        EXPECT_EQ(rec.nClicksDone, 1) << "the close returned while the click still played";
        rec.onClick = nullptr;
    }
    EXPECT_EQ(boxes.Count(), 0);
    for (int nRun = 0; nRun < 2; ++nRun) {
        CTestTickoraDlg dlg;
        dlg.bSilentTicks = false;
        RunModal(dlg, [&] {
            MoveSlider(dlg, 240);
            for (int nCycle = 0; nCycle < 2; ++nCycle) {
                ClickButton(dlg, IDC_START_STOP);
                PumpFor(dlg, 800);
                EXPECT_TRUE(dlg.Running());
                ClickButton(dlg, IDC_START_STOP);
            }
            EXPECT_GE(dlg.nTicks, 4);
        });
    }
    EXPECT_GE(rec.nClicks, 9);
    ASSERT_EQ(boxes.Count(), 1);
    EXPECT_EQ(boxes.Texts()[0],
              "Cannot play sound! Maybe the\naudio device is currently in use...\nor maybe the "
              "file is invalid.");
}
