// CTickoraDlg: keeping the sound path warm while the beat runs. Every PlaySound opens the wave
// mapper and closes it again; under Wine, when no other wave device is open in the process,
// each open starts a device thread and each close ends it, which costs CPU and delays the
// sound now and then. One idle handle, never written to, keeps that thread alive. Windows
// shares its wave devices between openers, so the handle is harmless there.
#include "Resources.h"
#include "SoundThread.h"
#include "TickoraDlg.h"
#include "WaveFormat.h"
#include "resource.h"

namespace {

WaveFormatBlob ClickFormat() {
    CCustomResource click(IDR_TICK_WAVE, "WAVE");
    return click.Data() ? ReadWaveImageFormat(click.Data(), click.Size()) : WaveFormatBlob{};
}

} // namespace

// Both run on the sound thread, in the order posted. Without a handle the beat goes on as
// before, so a refusal is not reported.
void CTickoraDlg::HoldSoundPathWarm() {
    PostSoundJob([pShared = m_pTicks] {
        WaveFormatBlob format = ClickFormat();
        HWAVEOUT hWaveOut = nullptr;
        if (pShared->hWarmWaveOut || format.empty() ||
            Multimedia().waveOutOpen(&hWaveOut, WAVE_MAPPER,
                                     reinterpret_cast<const WAVEFORMATEX*>(format.data()), 0, 0,
                                     CALLBACK_NULL) != MMSYSERR_NOERROR)
            return;
        pShared->hWarmWaveOut = CUniqueWaveOut(hWaveOut);
    });
}

void CTickoraDlg::ReleaseSoundPath() {
    PostSoundJob([pShared = m_pTicks] { pShared->hWarmWaveOut = CUniqueWaveOut(); });
}
