#include "Multimedia.h"

const MultimediaApi& SystemMultimedia() {
    static const MultimediaApi api = {
        ::timeGetDevCaps, ::timeBeginPeriod, ::timeEndPeriod, ::timeSetEvent, ::timeKillEvent,
        ::PlaySoundA,     ::sndPlaySoundA,   ::waveOutOpen,   ::waveOutClose, ::MessageBeep};
    return api;
}

MultimediaApi& Multimedia() {
    static MultimediaApi api = SystemMultimedia();
    return api;
}

void CloseWaveOut(HWAVEOUT hWaveOut) { Multimedia().waveOutClose(hWaveOut); }
