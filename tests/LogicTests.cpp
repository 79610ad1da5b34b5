// The metronome's plain logic where it has rules of its own: the period's truncation, the
// resolution clamp and the fallback of the priority table. The read-out and the table's rows
// are checked where the panel shows and applies them (DialogTests, PanelTests).
#include <gtest/gtest.h>

#include "MetronomeLogic.h"

// Truncated, not rounded: the beat is at most a millisecond fast, never slow.
TEST(Logic, BeatPeriodIsTheMinuteTruncatedToWholeMilliseconds) {
    for (int nBpm = 40; nBpm <= 240; ++nBpm) {
        unsigned uPeriod = BeatPeriodMs(nBpm);
        EXPECT_LE(uPeriod * nBpm, 60000u) << nBpm;
        EXPECT_GT((uPeriod + 1) * nBpm, 60000u) << nBpm;
    }
}

TEST(Logic, TimerResolutionAimsAtTenMillisecondsWithinTheDeviceRange) {
    EXPECT_EQ(ClampTimerResolution({1, 1000000}), 10u);
    EXPECT_EQ(ClampTimerResolution({10, 1000000}), 10u);
    EXPECT_EQ(ClampTimerResolution({15, 1000000}), 15u); // device cannot go finer
    EXPECT_EQ(ClampTimerResolution({1, 5}), 5u);         // nor coarser than its maximum
    EXPECT_EQ(ClampTimerResolution({20, 20}), 20u);
}

TEST(Logic, UnknownPrioritySelectionCountsAsNormal) {
    for (int nIndex : {1, -1 /* CB_ERR: nothing selected */, 4, 1000}) {
        const PriorityRow& row = PriorityRowForSelection(nIndex);
        EXPECT_STREQ(row.pszText, "Normal") << nIndex;
        EXPECT_EQ(row.dwPriorityClass, 0x20u) << nIndex;
        EXPECT_EQ(row.nThreadPriority, 0) << nIndex;
    }
}
