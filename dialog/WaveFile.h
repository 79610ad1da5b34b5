// A wave file from the user's disk: hostile until checked, and possibly on a share that
// stalls. It is opened, its header read and the device opened for its format once, when it is
// chosen, on a thread of its own that posts what it found to the panel (WaveFileChoice.cpp).
// While it beats, the check thread looks about once a second whether it is unchanged, and the
// sound thread whether the device still opens; a tick itself only makes its two sound calls
// (WaveFile.cpp). Why none of it holds up the panel is told beside the tick gate
// (BeatTimer.cpp).
#pragma once

#include <windows.h>

#include "WaveFormat.h"

// The file calls of the checks, reached through one table so that a test can make them stall.
// The program itself never changes the table.
struct WaveFileApi {
    decltype(&::CreateFileA) CreateFileA;
    decltype(&::ReadFile) ReadFile;
    decltype(&::GetFileAttributesExA) GetFileAttributesExA;
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

// Reads the file at pszPath as a wave sound: a disk file (not a pipe, device or folder) whose
// header holds up. It may stall on a share that dropped, or for ever on a FIFO.
WaveFileCheck ReadWaveFileCheck(const char* pszPath);
// The same, and then the device opened for its format: what a chosen file's check finds.
// It may wait on the sound server as well; the panel has it made on a thread of its own.
WaveFileCheck CheckWaveFile(const char* pszPath);

// The liveness check while a wave file beats: whether the file is as it was when checked
// (on the check thread), and whether the device still opens for its format (on the sound
// thread). A file whose stamp changed has its header read again, once more a moment later if
// it does not hold up: a save may be half done.
bool IsUnchangedSinceCheck(const char* pszPath, const WaveFileStamp& stamp);
bool OpensDeviceFor(const WaveFormatBlob& format);
WaveFileCheck ReadSavedWaveFile(const char* pszPath);

// The checks of chosen files that have not finished, stuck ones included; and a wait, up to
// dwTimeoutMs, until the thread of each has ended, its last post made. For tests.
int RunningWaveFileChecks();
bool WaitForWaveFileChecks(DWORD dwTimeoutMs);
