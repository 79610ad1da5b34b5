// The cost of the sound call alone: the program's own PlayBuiltInWave four times a second
// (240 bpm) from a plain loop, with no window and no multimedia timer, and one idle wave-out
// handle held as the running panel holds it. The benchmark reads its CPU time beside
// tickora.exe's, to show how much of the beat's cost is the sound call.
#include <windows.h>

#include <cstdlib>

#include "Multimedia.h"
#include "Resources.h"
#include "TickoraDlg.h"
#include "WaveFormat.h"
#include "resource.h"

namespace {

// The handle the panel opens while it beats: the click's format, never written to.
CUniqueWaveOut OpenIdleWaveOut() {
    CCustomResource click(IDR_TICK_WAVE, "WAVE");
    WaveFormatBlob format = ReadWaveImageFormat(click.Data(), click.Size());
    HWAVEOUT hWaveOut = nullptr;
    if (format.empty() ||
        waveOutOpen(&hWaveOut, WAVE_MAPPER, reinterpret_cast<const WAVEFORMATEX*>(format.data()),
                    0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR)
        return CUniqueWaveOut();
    return CUniqueWaveOut(hWaveOut);
}

} // namespace

int main(int argc, char** argv) {
    int nSeconds = argc > 1 ? std::atoi(argv[1]) : 20;
    CUniqueWaveOut hIdle = OpenIdleWaveOut();
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
