// A wave file from the user's disk: hostile until checked, and possibly on a share that
// stalls. It is opened and its header read once, when it is chosen, on a thread of its own so
// that a stalled read cannot hang the panel; a tick afterwards looks only at the file's
// attributes, which never reads its contents.
#pragma once

#include <windows.h>

#include "WaveFormat.h"

// The file calls of the check, reached through one table so that a test can make a read stall.
// The program itself never changes the table.
struct WaveFileApi {
    decltype(&::CreateFileA) CreateFileA;
    decltype(&::ReadFile) ReadFile;
};
WaveFileApi& WaveFileIo();
const WaveFileApi& SystemWaveFileIo();

// What the file looked like when it was checked.
struct WaveFileStamp {
    DWORD nSizeHigh = 0, nSizeLow = 0;
    FILETIME ftLastWrite = {};
};

// The result of a check: the file's format (empty when it holds no sound we may hand over) and
// its stamp.
struct WaveFileCheck {
    WaveFormatBlob format;
    WaveFileStamp stamp;
    bool HoldsSound() const { return !format.empty(); }
};

// Checks the file at pszPath: a disk file (not a pipe, device or folder) whose header reads
// as a wave sound within dwTimeoutMs. A read that takes longer counts as a failure; it finishes
// on its own thread, harmlessly.
WaveFileCheck CheckWaveFile(const char* pszPath, DWORD dwTimeoutMs);

// Whether the file is still there with the stamp it had when it was checked.
bool IsUnchangedSinceCheck(const char* pszPath, const WaveFileStamp& stamp);
