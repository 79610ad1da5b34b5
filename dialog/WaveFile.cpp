#include "WaveFile.h"

#include <memory>
#include <string>

#include "Gdi.h"

namespace {

using CUniqueFile = CUniqueHandle<HANDLE, &CloseHandle>;

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

// Runs on the check's own thread. A pipe or a device would hand us whatever arrives on it,
// or nothing, ever: only a disk file is read.
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

// Shared by the caller and the check's thread; whichever lets go last frees it, so a caller
// that stopped waiting leaves nothing behind that the thread could still touch.
struct PendingCheck {
    std::string strPath;
    WaveFileCheck check;
    CUniqueHandle<HANDLE, &CloseHandle> hDone{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};

DWORD WINAPI RunCheck(LPVOID pParam) {
    std::unique_ptr<std::shared_ptr<PendingCheck>> ppPending(
        static_cast<std::shared_ptr<PendingCheck>*>(pParam));
    PendingCheck& pending = **ppPending;
    pending.check = ReadWaveFileCheck(pending.strPath.c_str());
    SetEvent(pending.hDone.get());
    return 0;
}

} // namespace

const WaveFileApi& SystemWaveFileIo() {
    static const WaveFileApi api = {::CreateFileA, ::ReadFile};
    return api;
}

WaveFileApi& WaveFileIo() {
    static WaveFileApi api = SystemWaveFileIo();
    return api;
}

WaveFileCheck CheckWaveFile(const char* pszPath, DWORD dwTimeoutMs) {
    auto pPending = std::make_shared<PendingCheck>();
    pPending->strPath = pszPath;
    if (!pPending->hDone)
        return {};
    auto* ppForThread = new std::shared_ptr<PendingCheck>(pPending);
    HANDLE hThread = CreateThread(nullptr, 0, RunCheck, ppForThread, 0, nullptr);
    if (!hThread) {
        delete ppForThread;
        return {};
    }
    CloseHandle(hThread);
    // The event is set after the result is written, so the result may be read once it is.
    if (WaitForSingleObject(pPending->hDone.get(), dwTimeoutMs) != WAIT_OBJECT_0)
        return {};
    return pPending->check;
}

bool IsUnchangedSinceCheck(const char* pszPath, const WaveFileStamp& stamp) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(pszPath, GetFileExInfoStandard, &data) &&
           !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
           data.nFileSizeHigh == stamp.nSizeHigh && data.nFileSizeLow == stamp.nSizeLow &&
           CompareFileTime(&data.ftLastWriteTime, &stamp.ftLastWrite) == 0;
}
