// The wave-file source: checking a file, the liveness check while it beats, and a tick's two
// calls. Choosing a file, and checking it off the panel's thread, is WaveFileChoice.cpp.
#include "WaveFile.h"

#include <mbstring.h>

#include <memory>

#include "MetronomeLogic.h"
#include "Multimedia.h"
#include "SoundThread.h"
#include "TickoraDlg.h"

namespace {

using CUniqueFile = CUniqueHandle<HANDLE, &CloseHandle>;

constexpr DWORD kLivenessCheckEveryMs = 1000;

WaveFileStamp StampOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return {info.nFileSizeHigh, info.nFileSizeLow, info.ftLastWriteTime};
}

WaveFormatBlob ReadFormatOfOpenFile(HANDLE hFile) {
    return ReadWaveFormat([hFile](DWORD dwOffset, void* pBuffer, DWORD cb) {
        DWORD cbRead = 0;
        return SetFilePointer(hFile, static_cast<LONG>(dwOffset), nullptr, FILE_BEGIN) ==
                   dwOffset &&
               WaveFileIo().ReadFile(hFile, pBuffer, cb, &cbRead, nullptr) && cbRead == cb;
    });
}

} // namespace

// A pipe or a device would hand us whatever arrives on it, or nothing, ever: only a disk file
// is read.
WaveFileCheck ReadWaveFileCheck(const char* pszPath) {
    HANDLE hFile = WaveFileIo().CreateFileA(pszPath, GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return {};
    CUniqueFile file(hFile);
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(hFile) != FILE_TYPE_DISK || !GetFileInformationByHandle(hFile, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return {};
    WaveFileCheck check;
    check.format = ReadFormatOfOpenFile(hFile);
    check.stamp = StampOf(info);
    return check;
}

// Wine answers a mere format query from what it learned when it first reached the sound
// server, even once the server has gone; opening a device for real fails then. Under Wine the
// asynchronous PlaySoundA reports success for a file it cannot play, so this is how we know.
bool OpensDeviceFor(const WaveFormatBlob& format) {
    if (format.empty())
        return false;
    auto* pFormat = reinterpret_cast<const WAVEFORMATEX*>(format.data());
    HWAVEOUT hWaveOut = nullptr;
    if (Multimedia().waveOutOpen(&hWaveOut, WAVE_MAPPER, pFormat, 0, 0, CALLBACK_NULL) !=
        MMSYSERR_NOERROR)
        return false;
    CUniqueWaveOut close(hWaveOut);
    return true;
}

bool IsUnchangedSinceCheck(const char* pszPath, const WaveFileStamp& stamp) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return WaveFileIo().GetFileAttributesExA(pszPath, GetFileExInfoStandard, &data) &&
           !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
           data.nFileSizeHigh == stamp.nSizeHigh && data.nFileSizeLow == stamp.nSizeLow &&
           CompareFileTime(&data.ftLastWriteTime, &stamp.ftLastWrite) == 0;
}

const WaveFileApi& SystemWaveFileIo() {
    static const WaveFileApi api = {::CreateFileA, ::ReadFile, ::GetFileAttributesExA};
    return api;
}

WaveFileApi& WaveFileIo() {
    static WaveFileApi api = SystemWaveFileIo();
    return api;
}

// --- the panel's side ---------------------------------------------------------------------

bool CTickoraDlg::NoWaveFileYet() {
    auto hold = HoldTicks();
    return _mbscmp(reinterpret_cast<const unsigned char*>(m_pTicks->strWaveFile.GetString()),
                   reinterpret_cast<const unsigned char*>(kNoWaveFile)) == 0;
}

void CTickoraDlg::SetWaveFile(const char* pszPath, WaveFileCheck check) {
    auto hold = HoldTicks();
    m_pTicks->strWaveFile = pszPath;
    m_pTicks->checkWaveFile = std::move(check);
    ++m_pTicks->nWaveFileChoice;
    m_pTicks->bWaveFileLost = false;
}

// A new start asks again at once, well before its first tick: a file gone meanwhile stops that
// tick, and a sound server that has come back may play again.
void CTickoraDlg::RearmWaveFileCheck() {
    {
        auto hold = HoldTicks();
        m_pTicks->bWaveFileLost = false;
        m_pTicks->dwLastLivenessCheck = GetTickCount() - kLivenessCheckEveryMs;
    }
    if (m_nTickSound == TickWaveFile)
        QueueLivenessCheck(m_pTicks);
}

// --- the tick's side ----------------------------------------------------------------------

// The two calls and nothing else: what a tick cannot see, a file changed since it was chosen
// or a sound server gone, the sound thread finds out, and the next tick stops the beat.
// The first call may be stuck long enough for a stop to come in between: then the file is not
// started, and the tick counts as played.
bool CTickoraDlg::PlayWaveFileTick(const TickToPlay& tick) {
    if (tick.bWaveFilePlayable)
        QueueLivenessCheck(tick.pShared);
    Multimedia().PlaySoundA(nullptr, nullptr, 0);
    if (tick.bWaveFilePlayable && tick.pShared->uTimerId != tick.uId)
        return true;
    return tick.bWaveFilePlayable &&
           Multimedia().PlaySoundA(tick.strWaveFile, nullptr,
                                   SND_FILENAME | SND_NODEFAULT | SND_ASYNC);
}

// Called by ticks and at a start; queues at most one check, about once a second.
void CTickoraDlg::QueueLivenessCheck(const std::shared_ptr<TickShared>& pShared) {
    DWORD dwNow = GetTickCount();
    if (dwNow - pShared->dwLastLivenessCheck < kLivenessCheckEveryMs ||
        pShared->bLivenessCheckQueued.exchange(true))
        return;
    pShared->dwLastLivenessCheck = dwNow;
    PostSoundJob([pShared] {
        CheckWaveFileStillPlays(*pShared);
        pShared->bLivenessCheckQueued = false;
    });
}

// On the sound thread: whether the file is unchanged since it was chosen and the device still
// opens for its format. A check of a file since replaced by a new choice finds nothing.
void CTickoraDlg::CheckWaveFileStillPlays(TickShared& shared) {
    CString strPath;
    WaveFileCheck check;
    unsigned nChoice;
    {
        auto hold = HoldTicks();
        strPath = shared.strWaveFile;
        check = shared.checkWaveFile;
        nChoice = shared.nWaveFileChoice;
    }
    if (IsUnchangedSinceCheck(strPath, check.stamp) && OpensDeviceFor(check.format))
        return;
    auto hold = HoldTicks();
    if (shared.nWaveFileChoice == nChoice)
        shared.bWaveFileLost = true;
}
