// Reading the format of a wave sound from its RIFF/WAVE header: a parser with no I/O of its
// own, fed by whoever holds the image.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include <functional>
#include <vector>

// A format as the wave mapper takes it: a WAVEFORMATEX followed by exactly cbSize codec bytes.
using WaveFormatBlob = std::vector<BYTE>;

// Reads exactly cb bytes at an offset of a wave image; false when they are not all there.
using WaveReadAt = std::function<bool(DWORD dwOffset, void* pBuffer, DWORD cb)>;

// The format of a wave image read through read; empty unless it is a RIFF/WAVE image with a
// well-formed format chunk followed by sample data. Reads the header only.
WaveFormatBlob ReadWaveFormat(const WaveReadAt& read);

// The same for a wave image in memory; never reads outside it.
WaveFormatBlob ReadWaveImageFormat(const void* pImage, DWORD cbImage);
