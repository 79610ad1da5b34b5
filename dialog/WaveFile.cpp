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
// A healthy liveness check takes 8 ms at the median and 42 ms at the most (docs/BENCHMARKS.md);
// 1.5 s leaves room for a busy machine many times over, and still finds a hung server within
// about 2.5 s. A check that has not answered by then counts as failed.
constexpr DWORD kLivenessCheckBoundMs = 1500;
// A sound editor writes a file in a few milliseconds; a header read in the middle of it is
// read once more this much later before the file counts as unplayable.
constexpr DWORD kHalfWrittenRetryMs = 200;

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

// Runs on a check's own thread. A pipe or a device would hand us whatever arrives on it, or
// nothing, ever: only a disk file is read.
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

WaveFileCheck ReadSavedWaveFile(const char* pszPath) {
    WaveFileCheck check = ReadWaveFileCheck(pszPath);
    if (!check.HoldsSound()) {
        Sleep(kHalfWrittenRetryMs);
        check = ReadWaveFileCheck(pszPath);
    }
    return check;
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
}

// A new start asks at once, well before its first tick: a file gone meanwhile stops the beat,
// and a sound server that has come back may play again.
void CTickoraDlg::RearmWaveFileCheck() {
    SetTimer(m_hWnd, kLivenessTimer, kLivenessCheckEveryMs, nullptr);
    AskWhetherWaveFileStillPlays();
}

// One request at a time: while an answer is awaited, a hung check is not joined by another.
// The check thread looks at the file, the sound thread opens the device and answers by
// message; the bound's own timer gives up on an answer that does not come.
void CTickoraDlg::AskWhetherWaveFileStillPlays() {
    // A file that never held a sound stops the first tick: there is nothing to ask.
    if (m_bLivenessAwaited || !m_bRunning || m_nTickSound != TickWaveFile || !ChosenFilePlays())
        return;
    m_bLivenessAwaited = true;
    unsigned nAsked = ++m_nLivenessAsked;
    SetTimer(m_hWnd, kLivenessBoundTimer, kLivenessCheckBoundMs, nullptr);
    PostCheckJob([pShared = m_pTicks, nAsked] {
        auto pSeen = std::make_shared<WaveFileSeen>(LookAtWaveFileAgain(*pShared));
        PostSoundJob([pShared, nAsked, pSeen] {
            bool bPlays = DeviceOpensForWaveFile(*pShared, *pSeen);
            auto hold = HoldTicks();
            if (pShared->hWnd)
                PostMessageA(pShared->hWnd, WM_APP_LIVENESS_ANSWER, nAsked, bPlays);
        });
    });
}

bool CTickoraDlg::ChosenFilePlays() {
    auto hold = HoldTicks();
    return m_pTicks->checkWaveFile.HoldsSound();
}

LRESULT CTickoraDlg::OnTimer(WPARAM wParam, LPARAM) {
    if (wParam == kChoiceDeadlineTimer) {
        OnWaveFileCheckDeadline();
    } else if (wParam == kLivenessTimer) {
        if (!m_bRunning)
            KillTimer(m_hWnd, kLivenessTimer);
        AskWhetherWaveFileStillPlays();
    } else if (wParam == kLivenessBoundTimer) {
        // A check that has not answered by now counts as failed. Its answer, if it ever comes,
        // belongs to a request given up on: a new one is numbered on.
        KillTimer(m_hWnd, kLivenessBoundTimer);
        if (m_bLivenessAwaited) {
            m_bLivenessAwaited = false;
            ++m_nLivenessAsked;
            OnLivenessAnswer(m_nLivenessAsked, FALSE);
        }
    }
    return 0;
}

// Only the answer to the latest request counts, and only while a wave file beats.
LRESULT CTickoraDlg::OnLivenessAnswer(WPARAM wParam, LPARAM lParam) {
    if (wParam != m_nLivenessAsked)
        return 0;
    m_bLivenessAwaited = false;
    KillTimer(m_hWnd, kLivenessBoundTimer);
    if (!lParam && m_bRunning && m_nTickSound == TickWaveFile)
        OnWaveTickFailed(0, 0);
    return 0;
}

// --- the tick's side ----------------------------------------------------------------------

// The two calls and nothing else: what a tick cannot see, a file changed since it was chosen
// or a sound server gone, the check thread finds out. The first call may be stuck long enough
// for a stop to come in between: then the file is not started, and the tick counts as played.
// The start itself may be stuck and return after a stop: then the file is silenced at once,
// on this thread, unless a tick of a newer run has gone on to its sound since.
bool CTickoraDlg::PlayWaveFileTick(const TickToPlay& tick) {
    TickShared& shared = *tick.pShared;
    Multimedia().PlaySoundA(nullptr, nullptr, 0);
    if (tick.bWaveFilePlayable && shared.uTimerId != tick.uId)
        return true;
    if (!tick.bWaveFilePlayable)
        return false;
    ++shared.nWaveStarts;
    if (!Multimedia().PlaySoundA(tick.strWaveFile, nullptr,
                                 SND_FILENAME | SND_NODEFAULT | SND_ASYNC))
        return false;
    if (shared.uTimerId != tick.uId)
        SilenceWaveSound(shared, tick.nRun);
    return true;
}

// On the check thread: the file's part of the liveness check, for the choice in force. A file
// whose stamp has changed, as when the user saved it again in a sound editor, is read again.
WaveFileSeen CTickoraDlg::LookAtWaveFileAgain(TickShared& shared) {
    WaveFileSeen seen;
    CString strPath;
    {
        auto hold = HoldTicks();
        strPath = shared.strWaveFile;
        seen.check = shared.checkWaveFile;
        seen.nChoice = shared.nWaveFileChoice;
    }
    if (!IsUnchangedSinceCheck(strPath, seen.check.stamp)) {
        seen.check = ReadSavedWaveFile(strPath);
        seen.bSavedAgain = true;
    }
    return seen;
}

// On the sound thread, in order with the held handle's open and close: Wine loses the
// completion of later sounds when a server that went away comes back while devices were
// opened and closed on two threads at once. A file saved again that plays is taken as it is
// now; a check of a file since replaced by a new choice says yes, having nothing to say about
// the new one.
bool CTickoraDlg::DeviceOpensForWaveFile(TickShared& shared, WaveFileSeen& seen) {
    bool bOpens = OpensDeviceFor(seen.check.format);
    auto hold = HoldTicks();
    if (shared.nWaveFileChoice != seen.nChoice)
        return true;
    if (bOpens && seen.bSavedAgain)
        shared.checkWaveFile = std::move(seen.check);
    return bOpens;
}
