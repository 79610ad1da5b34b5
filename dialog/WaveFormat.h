// Reading the format of a wave sound from its RIFF/WAVE header, and asking the sound device
// whether it can play it. Under Wine the asynchronous PlaySoundA reports success for a file
// that holds no playable sound, so a file is checked before it is handed over.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include <vector>

// A format as the wave mapper takes it: a WAVEFORMATEX followed by any codec bytes.
using WaveFormatBlob = std::vector<BYTE>;

// The format of the wave file at pszPath; empty unless it is a RIFF/WAVE file with a complete
// format chunk and sample data. Reads the header only, sharing the file with everyone.
WaveFormatBlob ReadWaveFileFormat(const char* pszPath);

// The same for a wave image in memory.
WaveFormatBlob ReadWaveImageFormat(const void* pImage, DWORD cbImage);

// Whether the sound device can play the format; asks without opening a device.
bool CanPlayWaveFormat(const WaveFormatBlob& format);
