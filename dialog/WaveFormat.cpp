#include "WaveFormat.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "Gdi.h"
#include "Multimedia.h"

namespace {

// Reads exactly cb bytes at an offset; false when they are not all there.
using ReadAt = std::function<bool(DWORD dwOffset, void* pBuffer, DWORD cb)>;

constexpr DWORD kMaxFormatChunk = 1024; // far beyond any codec's extra bytes
constexpr int kMaxChunks = 64;          // a header, not a whole file, is walked

bool HasTag(const BYTE* p, const char* pszTag) { return std::memcmp(p, pszTag, 4) == 0; }

DWORD LittleEndian32(const BYTE* p) { return p[0] | p[1] << 8 | p[2] << 16 | DWORD(p[3]) << 24; }

bool IsSaneFormat(const WaveFormatBlob& format) {
    WAVEFORMATEX wfx;
    std::memcpy(&wfx, format.data(), sizeof wfx);
    return wfx.nChannels != 0 && wfx.nSamplesPerSec != 0 && wfx.nBlockAlign != 0;
}

// The format chunk as a WAVEFORMATEX with its codec bytes; a plain 16-byte PCM chunk gets
// cbSize 0.
WaveFormatBlob ReadFormatChunk(const ReadAt& read, DWORD dwOffset, DWORD cbChunk) {
    if (cbChunk < 16 || cbChunk > kMaxFormatChunk)
        return {};
    WaveFormatBlob format(std::max<DWORD>(cbChunk, sizeof(WAVEFORMATEX)), 0);
    if (!read(dwOffset, format.data(), cbChunk))
        return {};
    if (cbChunk < sizeof(WAVEFORMATEX))
        reinterpret_cast<WAVEFORMATEX*>(format.data())->cbSize = 0;
    return IsSaneFormat(format) ? format : WaveFormatBlob{};
}

WaveFormatBlob ReadWaveFormat(const ReadAt& read) {
    BYTE riff[12];
    if (!read(0, riff, sizeof riff) || !HasTag(riff, "RIFF") || !HasTag(riff + 8, "WAVE"))
        return {};
    WaveFormatBlob format;
    DWORD dwOffset = sizeof riff;
    for (int nChunk = 0; nChunk < kMaxChunks; ++nChunk) {
        BYTE header[8];
        if (!read(dwOffset, header, sizeof header))
            return {};
        DWORD cbChunk = LittleEndian32(header + 4);
        if (HasTag(header, "fmt ")) {
            format = ReadFormatChunk(read, dwOffset + 8, cbChunk);
            if (format.empty())
                return {};
        } else if (HasTag(header, "data")) {
            // Sound needs a format first and at least one whole block of samples.
            if (format.empty())
                return {};
            WORD nBlockAlign = reinterpret_cast<const WAVEFORMATEX*>(format.data())->nBlockAlign;
            std::vector<BYTE> block(nBlockAlign);
            bool bHasBlock =
                cbChunk >= nBlockAlign && read(dwOffset + 8, block.data(), nBlockAlign);
            return bHasBlock ? format : WaveFormatBlob{};
        }
        DWORD dwNext = dwOffset + 8 + cbChunk + (cbChunk & 1);
        if (dwNext <= dwOffset)
            return {};
        dwOffset = dwNext;
    }
    return {};
}

} // namespace

WaveFormatBlob ReadWaveFileFormat(const char* pszPath) {
    HANDLE hFile = CreateFileA(pszPath, GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return {};
    CUniqueHandle<HANDLE, &CloseHandle> file(hFile);
    return ReadWaveFormat([&](DWORD dwOffset, void* pBuffer, DWORD cb) {
        DWORD cbRead = 0;
        return SetFilePointer(file.get(), static_cast<LONG>(dwOffset), nullptr, FILE_BEGIN) ==
                   dwOffset &&
               ReadFile(file.get(), pBuffer, cb, &cbRead, nullptr) && cbRead == cb;
    });
}

WaveFormatBlob ReadWaveImageFormat(const void* pImage, DWORD cbImage) {
    return ReadWaveFormat([&](DWORD dwOffset, void* pBuffer, DWORD cb) {
        if (dwOffset > cbImage || cb > cbImage - dwOffset)
            return false;
        std::memcpy(pBuffer, static_cast<const BYTE*>(pImage) + dwOffset, cb);
        return true;
    });
}

bool CanPlayWaveFormat(const WaveFormatBlob& format) {
    if (format.empty())
        return false;
    auto* pFormat = reinterpret_cast<const WAVEFORMATEX*>(format.data());
    return Multimedia().waveOutOpen(nullptr, WAVE_MAPPER, pFormat, 0, 0, WAVE_FORMAT_QUERY) ==
           MMSYSERR_NOERROR;
}
