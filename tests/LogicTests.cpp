// The metronome's plain logic: period, resolution clamp, read-out, priority table.
#include <gtest/gtest.h>

#include "MetronomeLogic.h"

TEST(Logic, BeatPeriodTruncatesToWholeMilliseconds) {
    EXPECT_EQ(BeatPeriodMs(40), 1500u);
    EXPECT_EQ(BeatPeriodMs(60), 1000u);
    EXPECT_EQ(BeatPeriodMs(70), 857u); // 857.14 truncated: slightly fast
    EXPECT_EQ(BeatPeriodMs(100), 600u);
    EXPECT_EQ(BeatPeriodMs(120), 500u);
    EXPECT_EQ(BeatPeriodMs(180), 333u);
    EXPECT_EQ(BeatPeriodMs(240), 250u);
}

TEST(Logic, TimerResolutionAimsAtTenMillisecondsWithinTheDeviceRange) {
    EXPECT_EQ(ClampTimerResolution({1, 1000000}), 10u);
    EXPECT_EQ(ClampTimerResolution({10, 1000000}), 10u);
    EXPECT_EQ(ClampTimerResolution({15, 1000000}), 15u); // device cannot go finer
    EXPECT_EQ(ClampTimerResolution({1, 5}), 5u);         // nor coarser than its maximum
    EXPECT_EQ(ClampTimerResolution({20, 20}), 20u);
}

TEST(Logic, ReadOutShowsTempoInBpm) {
    EXPECT_EQ(FormatTempo(40), "40 bpm");
    EXPECT_EQ(FormatTempo(120), "120 bpm");
    EXPECT_EQ(FormatTempo(240), "240 bpm");
}

TEST(Logic, PriorityRowsPairClassesWithDialogThreadPriorities) {
    const PriorityRow& idle = PriorityRowForSelection(0);
    EXPECT_STREQ(idle.pszText, "Idle");
    EXPECT_EQ(idle.dwPriorityClass, 0x40u);
    EXPECT_EQ(idle.nThreadPriority, -15);

    const PriorityRow& high = PriorityRowForSelection(2);
    EXPECT_STREQ(high.pszText, "High");
    EXPECT_EQ(high.dwPriorityClass, 0x80u);
    EXPECT_EQ(high.nThreadPriority, 2);

    const PriorityRow& realtime = PriorityRowForSelection(3);
    EXPECT_STREQ(realtime.pszText, "Realtime");
    EXPECT_EQ(realtime.dwPriorityClass, 0x100u);
    EXPECT_EQ(realtime.nThreadPriority, 1);
}

TEST(Logic, UnknownPrioritySelectionCountsAsNormal) {
    for (int nIndex : {1, -1 /* CB_ERR: nothing selected */, 4, 1000}) {
        const PriorityRow& row = PriorityRowForSelection(nIndex);
        EXPECT_STREQ(row.pszText, "Normal") << nIndex;
        EXPECT_EQ(row.dwPriorityClass, 0x20u) << nIndex;
        EXPECT_EQ(row.nThreadPriority, 0) << nIndex;
    }
}
