// The cost of the sound call alone: the program's own PlayBuiltInWave four times a second
// (240 bpm) from a plain loop, with no window and no multimedia timer. run-bench.sh reads
// its CPU time beside tickora.exe's, to show how much of the beat's cost is the sound call.
#include <windows.h>

#include <cstdlib>

#include "TickoraDlg.h"
#include "resource.h"

int main(int argc, char** argv) {
    int nSeconds = argc > 1 ? std::atoi(argv[1]) : 20;
    const DWORD dwPeriod = 250;
    DWORD dwDue = GetTickCount();
    for (int i = 0; i < nSeconds * 4; ++i) {
        PlayBuiltInWave(IDR_TICK_WAVE);
        dwDue += dwPeriod;
        LONG nWait = static_cast<LONG>(dwDue - GetTickCount());
        if (nWait > 0)
            Sleep(static_cast<DWORD>(nWait));
    }
    return 0;
}
