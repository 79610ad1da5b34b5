// The sound call alone, from a plain loop with no window and no multimedia timer, four times a
// second (240 bpm), with one idle wave-out handle held as the running panel holds it:
//   click_baseline.exe [seconds] [wave file]
// With no file it is the program's own PlayBuiltInWave; with one, the wave-file tick's two
// calls. The benchmark reads its CPU time beside tickora.exe's and records it as heard, to
// show how much of the beat's cost and timing is the sound call and Wine beneath it. One sound
// a second before the beat starts the device, as the benchmark's warm-up does for the panel.
#include <windows.h>

#include <mmsystem.h>

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
    int nSeconds = argc > 1 ? std::atoi(argv[1]) : 30;
    const char* pszWave = argc > 2 ? argv[2] : nullptr;
    CUniqueWaveOut hIdle = OpenIdleWaveOut();
    // Due times on the 1 ms multimedia clock, as the panel's timer keeps them.
    auto play = [pszWave] {
        if (pszWave) {
            PlaySoundA(nullptr, nullptr, 0);
            PlaySoundA(pszWave, nullptr, SND_FILENAME | SND_NODEFAULT | SND_ASYNC);
        } else {
            PlayBuiltInWave(IDR_TICK_WAVE);
        }
    };
    play();
    Sleep(1000);
    timeBeginPeriod(1);
    const DWORD dwPeriod = 250;
    DWORD dwDue = timeGetTime();
    for (int i = 0; i < nSeconds * 4; ++i) {
        play();
        dwDue += dwPeriod;
        LONG nWait = static_cast<LONG>(dwDue - timeGetTime());
        if (nWait > 0)
            Sleep(static_cast<DWORD>(nWait));
    }
    timeEndPeriod(1);
    return 0;
}
