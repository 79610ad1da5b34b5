// Checks the resources compiled into the running module: the click, the lamp
// icons, the application icon and the About picture. They are read back the
// way the program uses them (FindResource/LoadImage), so a broken file, a
// wrong id or a wrong type in the resource script all show up here.

#include <windows.h>

#include <shlwapi.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "resource.h"

namespace {

struct RawResource {
    const std::uint8_t* data = nullptr;
    DWORD size = 0;
};

RawResource findRaw(int id, LPCSTR type) {
    RawResource r;
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(id), type);
    if (!info) return r;
    HGLOBAL handle = LoadResource(module, info);
    if (!handle) return r;
    r.data = static_cast<const std::uint8_t*>(LockResource(handle));
    r.size = SizeofResource(module, info);
    return r;
}

std::uint16_t u16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::string tag(const std::uint8_t* p) { return std::string(reinterpret_cast<const char*>(p), 4); }

// ---------------------------------------------------------------------------
// The click
// ---------------------------------------------------------------------------

constexpr int kRate = 44100;
constexpr int kSamples = 3990;
constexpr int kWindow = 441;  // 10 ms

std::vector<int> clickSamples(const RawResource& r) {
    std::vector<int> s;
    for (int i = 0; i < kSamples; ++i)
        s.push_back(static_cast<std::int16_t>(u16(r.data + 44 + 2 * i)));
    return s;
}

double rms(const std::vector<int>& s, int from, int count) {
    double sum = 0.0;
    for (int i = from; i < from + count; ++i) sum += double(s[i]) * s[i];
    return std::sqrt(sum / count);
}

TEST(ClickResource, HeaderAndLoudnessContour) {
    RawResource r = findRaw(IDR_TICK_WAVE, "WAVE");
    ASSERT_NE(r.data, nullptr) << "WAVE resource " << IDR_TICK_WAVE << " missing";
    ASSERT_EQ(r.size, 8024u);

    const std::uint8_t* p = r.data;
    EXPECT_EQ(tag(p + 0), "RIFF");
    EXPECT_EQ(u32(p + 4), 8016u);
    EXPECT_EQ(tag(p + 8), "WAVE");
    EXPECT_EQ(tag(p + 12), "fmt ");
    EXPECT_EQ(u32(p + 16), 16u);
    EXPECT_EQ(u16(p + 20), 1u);       // PCM
    EXPECT_EQ(u16(p + 22), 1u);       // mono
    EXPECT_EQ(u32(p + 24), 44100u);
    EXPECT_EQ(u32(p + 28), 88200u);   // bytes per second
    EXPECT_EQ(u16(p + 32), 2u);       // block align
    EXPECT_EQ(u16(p + 34), 16u);
    EXPECT_EQ(tag(p + 36), "data");
    EXPECT_EQ(u32(p + 40), 7980u);

    std::vector<int> s = clickSamples(r);
    EXPECT_EQ(s[0], 171);
    int firstFullScale = -1;
    for (int i = 0; i < kSamples && firstFullScale < 0; ++i)
        if (s[i] == -32768) firstFullScale = i;
    EXPECT_EQ(firstFullScale, 24);

    // +-5 % is about 0.4 dB, under what anyone hears as a loudness change,
    // yet a wrong gain, a shifted or truncated data block or a swapped byte
    // order moves these figures far more than that.
    const double windowRms[] = {11950, 5719, 2916, 2070, 1773, 989, 590, 647, 397};
    for (int w = 0; w < 9; ++w)
        EXPECT_NEAR(rms(s, w * kWindow, kWindow), windowRms[w], windowRms[w] * 0.05) << "window " << w;
    // The final 21 samples are too few for a steady figure, so allow +-10 %.
    EXPECT_NEAR(rms(s, 9 * kWindow, kSamples - 9 * kWindow), 200.0, 20.0);
}

TEST(ClickResource, ToneColour) {
    RawResource r = findRaw(IDR_TICK_WAVE, "WAVE");
    ASSERT_NE(r.data, nullptr);
    ASSERT_EQ(r.size, 8024u);
    std::vector<int> s = clickSamples(r);

    // Plain DFT of all 3990 samples, bins k = 0..1995 at k * 44100 / 3990 Hz.
    // A band's share is the sum of |X[k]|^2 over lo <= f < hi divided by the
    // sum over all bins 0..1995.
    std::vector<double> cosTab(kSamples), sinTab(kSamples);
    const double pi = std::acos(-1.0);
    for (int i = 0; i < kSamples; ++i) {
        cosTab[i] = std::cos(2.0 * pi * i / kSamples);
        sinTab[i] = std::sin(2.0 * pi * i / kSamples);
    }
    const int bins = kSamples / 2 + 1;
    std::vector<double> power(bins);
    for (int k = 0; k < bins; ++k) {
        double re = 0.0, im = 0.0;
        int idx = 0;
        for (int n = 0; n < kSamples; ++n) {
            re += s[n] * cosTab[idx];
            im -= s[n] * sinTab[idx];
            idx += k;
            if (idx >= kSamples) idx -= kSamples;
        }
        power[k] = re * re + im * im;
    }
    double total = 0.0;
    int peak = 1;
    for (int k = 0; k < bins; ++k) {
        total += power[k];
        if (k >= 1 && power[k] > power[peak]) peak = k;
    }
    auto share = [&](double lo, double hi) {
        double e = 0.0;
        for (int k = 0; k < bins; ++k) {
            double f = double(k) * kRate / kSamples;
            if (f >= lo && f < hi) e += power[k];
        }
        return e / total;
    };

    const double peakHz = double(peak) * kRate / kSamples;
    EXPECT_GE(peakHz, 800.0);
    EXPECT_LE(peakHz, 1000.0);

    // +-3 points: a different click, a filtered one or a resampled one shifts
    // these shares by far more, while it leaves room for re-tuning the
    // partials without the click sounding any different.
    EXPECT_NEAR(share(500, 1000), 0.38, 0.03);
    EXPECT_NEAR(share(5000, 7500), 0.24, 0.03);
    EXPECT_NEAR(share(2500, 5000), 0.13, 0.03);
}

// ---------------------------------------------------------------------------
// Icons
// ---------------------------------------------------------------------------

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width;
    BYTE height;
    BYTE colorCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytesInRes;
    WORD id;
};
#pragma pack(pop)
static_assert(sizeof(GroupIconEntry) == 14, "RT_GROUP_ICON entries are 14 bytes");

std::vector<GroupIconEntry> groupEntries(int id) {
    std::vector<GroupIconEntry> out;
    RawResource r = findRaw(id, MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
    if (!r.data || r.size < 6) return out;
    int count = u16(r.data + 4);
    if (r.size < 6u + 14u * count) return out;
    for (int i = 0; i < count; ++i) {
        GroupIconEntry e;
        std::memcpy(&e, r.data + 6 + 14 * i, sizeof e);
        out.push_back(e);
    }
    return out;
}

bool isSixteenColour(const GroupIconEntry& e) { return e.colorCount == 16 || e.bitCount == 4; }

// Width and height of the colour bitmap of an icon as loaded at a given size.
SIZE loadedIconSize(int id, int size) {
    SIZE result = {0, 0};
    HICON icon = static_cast<HICON>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), IMAGE_ICON, size, size, 0));
    if (!icon) return result;
    ICONINFO ii = {};
    if (GetIconInfo(icon, &ii)) {
        BITMAP bm = {};
        if (ii.hbmColor && GetObjectA(ii.hbmColor, sizeof bm, &bm)) {
            result.cx = bm.bmWidth;
            result.cy = bm.bmHeight;
        }
        if (ii.hbmColor) DeleteObject(ii.hbmColor);
        if (ii.hbmMask) DeleteObject(ii.hbmMask);
    }
    DestroyIcon(icon);
    return result;
}

std::vector<std::uint32_t> readBits(HBITMAP bmp, int w, int h) {
    std::vector<std::uint32_t> px(w * h, 0xDEADBEEF);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;  // top-down, so row 0 is the top
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    HDC dc = GetDC(nullptr);
    int lines = GetDIBits(dc, bmp, 0, h, px.data(), &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    if (lines != h) px.clear();
    return px;
}

// The lamp as the letters of the drawing: '.' transparent, K black,
// G grey, L light grey, R red, D dark red, '?' anything else (including a
// transparent pixel whose colour is not black).
std::vector<std::string> readLamp(int id) {
    std::vector<std::string> rows;
    HICON icon = static_cast<HICON>(
        LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, 0));
    if (!icon) return rows;
    ICONINFO ii = {};
    if (GetIconInfo(icon, &ii) && ii.hbmColor && ii.hbmMask) {
        std::vector<std::uint32_t> colour = readBits(ii.hbmColor, 16, 16);
        std::vector<std::uint32_t> mask = readBits(ii.hbmMask, 16, 16);
        if (!colour.empty() && !mask.empty()) {
            for (int y = 0; y < 16; ++y) {
                std::string row;
                for (int x = 0; x < 16; ++x) {
                    std::uint32_t c = colour[y * 16 + x] & 0xFFFFFF;
                    std::uint32_t m = mask[y * 16 + x] & 0xFFFFFF;
                    char ch = '?';
                    if (m == 0xFFFFFF) {
                        ch = (c == 0) ? '.' : '?';
                    } else if (m == 0) {
                        switch (c) {  // 0x00RRGGBB
                            case 0x000000: ch = 'K'; break;
                            case 0x808080: ch = 'G'; break;
                            case 0xC0C0C0: ch = 'L'; break;
                            case 0xFF0000: ch = 'R'; break;
                            case 0x800000: ch = 'D'; break;
                            default: ch = '?';
                        }
                    }
                    row += ch;
                }
                rows.push_back(row);
            }
        }
    }
    if (ii.hbmColor) DeleteObject(ii.hbmColor);
    if (ii.hbmMask) DeleteObject(ii.hbmMask);
    DestroyIcon(icon);
    return rows;
}

const std::vector<std::string> kLampOn = {
    "................",
    "................",
    "......GGGG......",
    "....GGKKKKGG....",
    "...GKKRRRRKK....",
    "...GKRRLRRRK....",
    "..GKRRLRLRRGK...",
    "..GKRRRLRRRRK...",
    "..GKRRRRRRRGK...",
    "..GKRRRRRRGRK...",
    "...GKRRRRGRK....",
    "...GKKGRGRKK....",
    "......KKKK......",
    "................",
    "................",
    "................",
};

const std::vector<std::string> kLampOff = {
    "................",
    "................",
    "......GGGG......",
    "....GGKKKKGG....",
    "...GKKDDDDKK....",
    "...GKDD.DDDK....",
    "..GKDD.D.DDGK...",
    "..GKDDD.DDDDK...",
    "..GKDDDDDDDGK...",
    "..GKDDDDDDGDK...",
    "...GKDDDDGDK....",
    "...GKKGDGDKK....",
    "......KKKK......",
    "................",
    "................",
    "................",
};

TEST(LampIcons, SingleSixteenColourImageDrawnAsDesigned) {
    const struct {
        int id;
        const std::vector<std::string>* picture;
    } lamps[] = {{IDI_LIGHT_ON, &kLampOn}, {IDI_LIGHT_OFF, &kLampOff}};
    for (const auto& lamp : lamps) {
        SCOPED_TRACE("icon " + std::to_string(lamp.id));
        std::vector<GroupIconEntry> entries = groupEntries(lamp.id);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].width, 16);
        EXPECT_EQ(entries[0].height, 16);
        EXPECT_TRUE(isSixteenColour(entries[0]));

        std::vector<std::string> got = readLamp(lamp.id);
        ASSERT_EQ(got.size(), 16u) << "could not load or read back the icon";
        for (int y = 0; y < 16; ++y) EXPECT_EQ(got[y], (*lamp.picture)[y]) << "row " << y;
    }
}

TEST(AppIcon, HasSixteenColourImagesAt32And16) {
    std::vector<GroupIconEntry> entries = groupEntries(IDR_MAINFRAME);
    ASSERT_EQ(entries.size(), 2u);
    bool has32 = false, has16 = false;
    for (const GroupIconEntry& e : entries) {
        EXPECT_TRUE(isSixteenColour(e)) << int(e.width) << "x" << int(e.height);
        if (e.width == 32 && e.height == 32) has32 = true;
        if (e.width == 16 && e.height == 16) has16 = true;
    }
    EXPECT_TRUE(has32);
    EXPECT_TRUE(has16);

    for (int size : {32, 16}) {
        SIZE got = loadedIconSize(IDR_MAINFRAME, size);
        EXPECT_EQ(got.cx, size);
        EXPECT_EQ(got.cy, size);
    }
}

// ---------------------------------------------------------------------------
// About picture
// ---------------------------------------------------------------------------

TEST(AboutPicture, Is90By135With256Colours) {
    RawResource r = findRaw(IDB_ABOUT_PICTURE, MAKEINTRESOURCEA(2));  // RT_BITMAP
    ASSERT_NE(r.data, nullptr);
    ASSERT_GE(r.size, sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER h;
    std::memcpy(&h, r.data, sizeof h);
    EXPECT_EQ(h.biSize, sizeof(BITMAPINFOHEADER));
    EXPECT_EQ(h.biWidth, 90);
    EXPECT_EQ(std::abs(h.biHeight), 135);
    EXPECT_EQ(h.biBitCount, 8);
    EXPECT_EQ(h.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_TRUE(h.biClrUsed == 256 || h.biClrUsed == 0);
    // Header, 256 palette entries, then 135 rows padded from 90 to 92 bytes.
    EXPECT_EQ(r.size, sizeof(BITMAPINFOHEADER) + 256 * 4 + 92 * 135);
}

// The manifest as this process runs with it: common controls 6 and the UTF-8 code page.
TEST(Manifest, BringsCommonControls6AndTheUtf8CodePage) {
    HMODULE comctl = GetModuleHandleA("comctl32.dll");
    char path[MAX_PATH] = "";
    GetModuleFileNameA(comctl, path, sizeof path);
    EXPECT_NE(std::string(CharLowerA(path)).find("common-controls_6595b64144ccf1df_6."),
              std::string::npos) << path;
    auto getVersion = reinterpret_cast<DLLGETVERSIONPROC>(
        reinterpret_cast<void*>(GetProcAddress(comctl, "DllGetVersion")));
    DLLVERSIONINFO info = {sizeof info, 0, 0, 0, 0};
    ASSERT_TRUE(getVersion && getVersion(&info) == S_OK);
    // Wine 8 builds one comctl32 for both and it says 5.81 either way; there the path tells.
    bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    EXPECT_TRUE(wine || info.dwMajorVersion == 6u) << info.dwMajorVersion;
    EXPECT_EQ(GetACP(), static_cast<UINT>(CP_UTF8));
}

}  // namespace
