#include "WaveFormat.h"

#include <cstring>

namespace {

constexpr DWORD kPlainFormatChunk = 16;    // WAVEFORMAT plus wBitsPerSample, no cbSize
constexpr DWORD kMaxFormatChunk = 1024;    // far beyond any codec's extra bytes
constexpr WORD kFormatExtensible = 0xFFFE; // WAVE_FORMAT_EXTENSIBLE
constexpr DWORD kExtensibleExtra = 22;     // what it adds to WAVEFORMATEX
constexpr int kMaxChunks = 64;             // a header, not a whole file, is walked
static_assert(sizeof(WAVEFORMATEX) == kPlainFormatChunk + sizeof(WORD), "packed as on disk");

bool HasTag(const BYTE* p, const char* pszTag) { return std::memcmp(p, pszTag, 4) == 0; }

WORD LittleEndian16(const BYTE* p) { return static_cast<WORD>(p[0] | p[1] << 8); }
DWORD LittleEndian32(const BYTE* p) { return p[0] | p[1] << 8 | p[2] << 16 | DWORD(p[3]) << 24; }

bool IsSaneFormat(const WAVEFORMATEX& wfx) {
    return wfx.nChannels != 0 && wfx.nSamplesPerSec != 0 && wfx.nBlockAlign != 0;
}

// The codec bytes a format chunk really holds, or -1 when it claims more than it holds: the
// wave mapper and the codecs read cbSize bytes behind the WAVEFORMATEX, so a claim that
// outruns the chunk would send them past the end of our copy. PCM has no codec bytes, whatever
// its chunk says.
int CodecBytesInChunk(WORD wFormatTag, const std::vector<BYTE>& chunk) {
    if (wFormatTag == WAVE_FORMAT_PCM)
        return 0;
    if (chunk.size() == kPlainFormatChunk)
        return wFormatTag == kFormatExtensible ? -1 : 0;
    if (chunk.size() < sizeof(WAVEFORMATEX))
        return -1; // half a cbSize
    DWORD cbExtra = LittleEndian16(&chunk[kPlainFormatChunk]);
    if (cbExtra > chunk.size() - sizeof(WAVEFORMATEX))
        return -1;
    if (wFormatTag == kFormatExtensible && cbExtra < kExtensibleExtra)
        return -1;
    return static_cast<int>(cbExtra);
}

WaveFormatBlob ReadFormatChunk(const WaveReadAt& read, DWORD dwOffset, DWORD cbChunk) {
    if (cbChunk < kPlainFormatChunk || cbChunk > kMaxFormatChunk)
        return {};
    std::vector<BYTE> chunk(cbChunk);
    if (!read(dwOffset, chunk.data(), cbChunk))
        return {};
    WAVEFORMATEX wfx = {};
    std::memcpy(&wfx, chunk.data(), kPlainFormatChunk);
    int cbExtra = CodecBytesInChunk(wfx.wFormatTag, chunk);
    if (cbExtra < 0 || !IsSaneFormat(wfx))
        return {};
    wfx.cbSize = static_cast<WORD>(cbExtra);
    WaveFormatBlob format(sizeof wfx + cbExtra);
    std::memcpy(format.data(), &wfx, sizeof wfx);
    std::memcpy(format.data() + sizeof wfx, chunk.data() + sizeof wfx, cbExtra);
    return format;
}

} // namespace

WaveFormatBlob ReadWaveFormat(const WaveReadAt& read) {
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
        // Summed in 64 bits: a size near 4 GiB must end the walk, not wrap it round.
        ULONGLONG ullNext = ULONGLONG(dwOffset) + 8 + cbChunk + (cbChunk & 1);
        if (ullNext > MAXDWORD)
            return {};
        dwOffset = static_cast<DWORD>(ullNext);
    }
    return {};
}

WaveFormatBlob ReadWaveImageFormat(const void* pImage, DWORD cbImage) {
    return ReadWaveFormat([&](DWORD dwOffset, void* pBuffer, DWORD cb) {
        if (dwOffset > cbImage || cb > cbImage - dwOffset)
            return false;
        std::memcpy(pBuffer, static_cast<const BYTE*>(pImage) + dwOffset, cb);
        return true;
    });
}
