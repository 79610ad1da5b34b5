// The timer resolution a minimized metronome keeps. From Windows 11 on, a process whose
// window is minimized or hidden, or that Windows does not hear, is no longer sure to get the
// resolution it asked for with timeBeginPeriod: its beat may fall onto the 15.6 ms system
// tick while the musician plays along (the PC-speaker beep may well count as inaudible).
// Power throttling's ignore-timer-resolution control, with its state bit clear, asks Windows
// to keep honouring the request.
#pragma once

#include <windows.h>

// kernel32's SetProcessInformation (Windows 8 on), looked up at run time so that an older
// Windows starts as before: null where the system has none. A test may replace it; the
// program never does.
struct ProcessPowerApi {
    BOOL(WINAPI* SetProcessInformation)(HANDLE, int, LPVOID, DWORD);
};
ProcessPowerApi& ProcessPower();

// Asks Windows to keep honouring this process's timer resolution whatever its window's
// state; nothing where the system has no such request. The result is not needed: a system
// that refuses the request does not throttle timers either.
void KeepTimerResolutionWhenHidden();
