// A wave file from the user's disk: hostile until checked, and possibly on a share that
// stalls. It is opened, its header read and the device opened for its format once, when it is
// chosen, on a thread of its own while the panel goes on taking messages. While it beats, the
// check thread looks about once a second whether it is unchanged, and the sound thread whether
// the device still opens; a
// tick itself only makes its two sound calls. Why none of it holds up the panel is told beside
// the tick gate (BeatTimer.cpp). All of it lives in WaveFile.cpp.
#pragma once

#include <windows.h>

#include <functional>

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

// Checks the file at pszPath: a disk file (not a pipe, device or folder) whose header reads as
// a wave sound within dwTimeoutMs, and for which the device then opens within a few seconds.
// Meanwhile the calling thread's
// messages go to dispatch (translated and dispatched when it is empty). One check at a time:
// while an earlier one is still stalled, a new one fails at once. A check that takes too long
// fails; its I/O is cancelled where the system can, and its thread ends on its own.
WaveFileCheck CheckWaveFile(const char* pszPath, DWORD dwTimeoutMs,
                            const std::function<void(MSG&)>& dispatch = nullptr);

// The header read of a check, on the calling thread; the format is empty when it does not
// hold up.
WaveFileCheck ReadWaveFileCheck(const char* pszPath);

// The liveness check while a wave file beats: whether the file is as it was when checked
// (on the check thread), and whether the device still opens for its format (on the sound
// thread). A file whose stamp changed has its header read again, once more a moment later if
// it does not hold up: a save may be half done.
bool IsUnchangedSinceCheck(const char* pszPath, const WaveFileStamp& stamp);
bool OpensDeviceFor(const WaveFormatBlob& format);
WaveFileCheck ReadSavedWaveFile(const char* pszPath);

// Waits up to dwTimeoutMs until no check is running; false if one still is.
bool WaitForWaveFileCheck(DWORD dwTimeoutMs);
