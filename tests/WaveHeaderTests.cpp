// The wave header reader on hostile headers: what it accepts must never lead the sound system
// past the end of the format it is handed, and it must never read outside the image itself.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "WaveFormat.h"

namespace {

void PutLE(std::string& s, uint32_t v, int nBytes) {
    for (int i = 0; i < nBytes; ++i)
        s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::string Chunk(const char* pszTag, const std::string& strBody, uint32_t cbDeclared) {
    std::string s(pszTag, 4);
    PutLE(s, cbDeclared, 4);
    s += strBody;
    if (strBody.size() & 1)
        s += '\0';
    return s;
}
std::string Chunk(const char* pszTag, const std::string& strBody) {
    return Chunk(pszTag, strBody, static_cast<uint32_t>(strBody.size()));
}

// A format chunk's body: the 16 common bytes, then cbSize and codec bytes when given.
std::string FormatBody(uint16_t wTag, uint16_t nBlockAlign, int nCbSize = -1, int nExtra = 0) {
    std::string s;
    PutLE(s, wTag, 2);
    PutLE(s, 1, 2);     // channels
    PutLE(s, 44100, 4); // samples per second
    PutLE(s, 88200, 4); // bytes per second
    PutLE(s, nBlockAlign, 2);
    PutLE(s, 16, 2); // bits per sample
    if (nCbSize >= 0)
        PutLE(s, static_cast<uint32_t>(nCbSize), 2);
    s.append(nExtra, '\x5A');
    return s;
}

std::string Wave(const std::string& strChunks) {
    std::string s = "RIFF";
    PutLE(s, static_cast<uint32_t>(4 + strChunks.size()), 4);
    return s + "WAVE" + strChunks;
}

std::string Samples() { return Chunk("data", std::string(512, '\x11')); }

WaveFormatBlob Read(const std::string& strImage) {
    return ReadWaveImageFormat(strImage.data(), static_cast<DWORD>(strImage.size()));
}

const WAVEFORMATEX& Format(const WaveFormatBlob& blob) {
    return *reinterpret_cast<const WAVEFORMATEX*>(blob.data());
}

constexpr uint16_t kAdpcm = 2, kFloat = 3, kExtensible = 0xFFFE;

} // namespace

TEST(WaveHeader, HostileHeadersAreRefused) {
    std::string strPadded = Chunk("LIST", std::string(3, 'x')); // odd: one pad byte
    std::string strManyChunks;
    for (int n = 0; n < 64; ++n)
        strManyChunks += Chunk("junk", "");
    struct Case {
        const char* pszWhat;
        std::string strImage;
    } cases[] = {
        {"cbSize beyond its chunk", Wave(Chunk("fmt ", FormatBody(kAdpcm, 2, 0xFFFF)) + Samples())},
        {"cbSize one byte beyond", Wave(Chunk("fmt ", FormatBody(kAdpcm, 2, 3, 2)) + Samples())},
        {"17-byte chunk, half a cbSize",
         Wave(Chunk("fmt ", FormatBody(kAdpcm, 2) + '\x01') + Samples())},
        {"format chunk over the limit",
         Wave(Chunk("fmt ", FormatBody(kAdpcm, 2, 1007, 1007)) + Samples())},
        {"extensible without its 22 bytes",
         Wave(Chunk("fmt ", FormatBody(kExtensible, 2, 10, 10)) + Samples())},
        {"extensible with 16 bytes", Wave(Chunk("fmt ", FormatBody(kExtensible, 2)) + Samples())},
        {"data before fmt", Wave(Samples() + Chunk("fmt ", FormatBody(WAVE_FORMAT_PCM, 2)))},
        {"fmt declared longer than the image", Wave(Chunk("fmt ", FormatBody(kAdpcm, 2, 0), 40))},
        {"more chunks than the walk allows",
         Wave(strManyChunks + Chunk("fmt ", FormatBody(WAVE_FORMAT_PCM, 2)) + Samples())},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(Read(c.strImage).empty()) << c.pszWhat;
    for (uint32_t cb = 0xFFFFFFF8; cb != 0; ++cb) {
        std::string strImage =
            Wave(Chunk("LIST", "", cb) + Chunk("fmt ", FormatBody(WAVE_FORMAT_PCM, 2)) + Samples());
        EXPECT_TRUE(Read(strImage).empty()) << "chunk size " << std::hex << cb;
    }
    // An odd chunk is followed by its pad byte, and the walk steps over both.
    EXPECT_FALSE(
        Read(Wave(strPadded + Chunk("fmt ", FormatBody(WAVE_FORMAT_PCM, 2)) + Samples())).empty());
}

TEST(WaveHeader, AcceptedFormatsCarryExactlyTheCodecBytesTheirChunkHolds) {
    struct Case {
        const char* pszWhat;
        std::string strFormat;
        WORD cbExpectedExtra;
    } cases[] = {
        {"PCM, 16 bytes", FormatBody(WAVE_FORMAT_PCM, 2), 0},
        {"PCM with a lying cbSize", FormatBody(WAVE_FORMAT_PCM, 2, 0xFFFF), 0},
        {"PCM, 17 bytes", FormatBody(WAVE_FORMAT_PCM, 2) + '\x07', 0},
        {"float, 16 bytes", FormatBody(kFloat, 4), 0},
        {"float, cbSize 0", FormatBody(kFloat, 4, 0), 0},
        {"ADPCM, 32 codec bytes", FormatBody(kAdpcm, 256, 32, 32), 32},
        {"ADPCM, fewer bytes claimed than held", FormatBody(kAdpcm, 256, 4, 9), 4},
        {"extensible", FormatBody(kExtensible, 2, 22, 22), 22},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        // LIST and other chunks before the format are stepped over.
        WaveFormatBlob blob = Read(Wave(Chunk("LIST", "INFOabc") + Chunk("fact", "1234") +
                                        Chunk("fmt ", c.strFormat) + Samples()));
        ASSERT_EQ(blob.size(), sizeof(WAVEFORMATEX) + c.cbExpectedExtra);
        EXPECT_EQ(Format(blob).cbSize, c.cbExpectedExtra);
        EXPECT_EQ(std::memcmp(blob.data() + sizeof(WAVEFORMATEX),
                              c.strFormat.data() + sizeof(WAVEFORMATEX), c.cbExpectedExtra),
                  0);
    }
}

namespace {

// Memory whose last readable byte is followed by a page that faults when touched.
class GuardedImage {
public:
    GuardedImage() {
        SYSTEM_INFO si;
        GetSystemInfo(&si);
        m_cbPage = si.dwPageSize;
        m_pBase = static_cast<BYTE*>(
            VirtualAlloc(nullptr, 2 * m_cbPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD dwOld;
        VirtualProtect(m_pBase + m_cbPage, m_cbPage, PAGE_NOACCESS, &dwOld);
    }
    ~GuardedImage() { VirtualFree(m_pBase, 0, MEM_RELEASE); }
    // Copies the image so that it ends at the guard page.
    const BYTE* Place(const std::string& strImage) {
        BYTE* p = m_pBase + m_cbPage - strImage.size();
        std::memcpy(p, strImage.data(), strImage.size());
        return p;
    }

private:
    DWORD m_cbPage;
    BYTE* m_pBase;
};

} // namespace

TEST(WaveHeader, DamagedHeadersNeverOverrunTheImageOrTheFormat) {
    const std::string seeds[] = {
        Wave(Chunk("fmt ", FormatBody(WAVE_FORMAT_PCM, 2)) + Samples()),
        Wave(Chunk("LIST", "INFOx") + Chunk("fmt ", FormatBody(kFloat, 4, 0)) + Samples()),
        Wave(Chunk("fmt ", FormatBody(kAdpcm, 256, 32, 32)) + Chunk("fact", "1234") + Samples()),
        Wave(Chunk("fmt ", FormatBody(kExtensible, 4, 22, 22)) + Samples()),
    };
    GuardedImage guarded;
    std::mt19937 random(20261208);
    int nAccepted = 0;
    for (int nRound = 0; nRound < 12000; ++nRound) {
        std::string strImage = seeds[nRound % 4];
        int nFlips = 1 + static_cast<int>(random() % 4);
        for (int n = 0; n < nFlips; ++n)
            strImage[random() % strImage.size()] ^= static_cast<char>(1 + random() % 255);
        if (random() % 3 == 0)
            strImage.resize(random() % strImage.size());
        const BYTE* pImage = guarded.Place(strImage);
        WaveFormatBlob blob = ReadWaveImageFormat(pImage, static_cast<DWORD>(strImage.size()));
        if (blob.empty())
            continue;
        ++nAccepted;
        ASSERT_GE(blob.size(), sizeof(WAVEFORMATEX)) << "round " << nRound;
        ASSERT_EQ(blob.size(), sizeof(WAVEFORMATEX) + Format(blob).cbSize) << "round " << nRound;
    }
    // Most single flips land in the samples or leave the header valid: the accepting side of
    // the reader is exercised too.
    EXPECT_GT(nAccepted, 1000);
}
