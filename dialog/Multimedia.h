// The multimedia and sound calls of the engine, the speaker's beep included, reached through
// one table so that a test can make the platform refuse (timer not available, sound device
// refusing or missing) or hold a call. The program itself never changes the table.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include "Gdi.h"

struct MultimediaApi {
    MMRESULT(WINAPI* timeGetDevCaps)(LPTIMECAPS, UINT);
    MMRESULT(WINAPI* timeBeginPeriod)(UINT);
    MMRESULT(WINAPI* timeEndPeriod)(UINT);
    MMRESULT(WINAPI* timeSetEvent)(UINT, UINT, LPTIMECALLBACK, DWORD_PTR, UINT);
    MMRESULT(WINAPI* timeKillEvent)(UINT);
    BOOL(WINAPI* PlaySoundA)(LPCSTR, HMODULE, DWORD);
    BOOL(WINAPI* sndPlaySoundA)(LPCSTR, UINT);
    MMRESULT(WINAPI* waveOutOpen)(LPHWAVEOUT, UINT, LPCWAVEFORMATEX, DWORD_PTR, DWORD_PTR, DWORD);
    MMRESULT(WINAPI* waveOutClose)(HWAVEOUT);
    BOOL(WINAPI* MessageBeep)(UINT);
};

// The table in use; initially the system's own functions.
MultimediaApi& Multimedia();
const MultimediaApi& SystemMultimedia();

// Closes a wave-out handle through the table, so that owners can hold it in a CUniqueHandle.
void CloseWaveOut(HWAVEOUT hWaveOut);
using CUniqueWaveOut = CUniqueHandle<HWAVEOUT, &CloseWaveOut>;
