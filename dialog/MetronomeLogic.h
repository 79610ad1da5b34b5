// The plain logic of the metronome: no windows, no timers, tested directly.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include <string>

// The tick source: the index of the checked radio button of the sound group.
enum TickSound : int { TickBuiltIn = 0, TickSpeaker = 1, TickWaveFile = 2 };

constexpr int kMinTempo = 40;
constexpr int kMaxTempo = 240;
constexpr int kStartTempo = 120;

// The literal path that means "no wave file chosen yet".
constexpr const char kNoWaveFile[] = "/none/";

// Beat period in whole milliseconds; truncation makes odd tempos slightly fast.
inline UINT BeatPeriodMs(int nTempo) { return static_cast<UINT>(60000 / nTempo); }

// Aim for 10 ms, but never finer than the device allows nor coarser than its maximum.
UINT ClampTimerResolution(const TIMECAPS& caps);

// The read-out text, for example "120 bpm".
std::string FormatTempo(int nTempo);

struct PriorityRow {
    const char* pszText;
    DWORD dwPriorityClass;
    int nThreadPriority;
};

// The rows of the priority list, in the order they are added.
constexpr PriorityRow kPriorityRows[] = {
    {"Idle", IDLE_PRIORITY_CLASS, THREAD_PRIORITY_IDLE},
    {"Normal", NORMAL_PRIORITY_CLASS, THREAD_PRIORITY_NORMAL},
    {"High", HIGH_PRIORITY_CLASS, THREAD_PRIORITY_HIGHEST},
    // Realtime deliberately pairs with a lower thread priority than High.
    {"Realtime", REALTIME_PRIORITY_CLASS, THREAD_PRIORITY_ABOVE_NORMAL},
};
constexpr int kNormalPriorityIndex = 1;

// The row for a list selection; anything unknown, including CB_ERR, counts as Normal.
const PriorityRow& PriorityRowForSelection(int nIndex);
