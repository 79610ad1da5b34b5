// Checks the resources compiled into the running module. Each is compared byte for byte
// with the file in res/ it is built from (copied beside this program by the build), which
// catches a wrong file, id or type in the resource script and any corruption; the files
// themselves are held to their targets by res/gen/make_resources.py --check. The icons and
// the About picture are also read back the way the program uses them (LoadImage).

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

TEST(LampIcons, EachHasOneSixteenColourImageOf16By16) {
    for (int id : {IDI_LIGHT_ON, IDI_LIGHT_OFF}) {
        SCOPED_TRACE("icon " + std::to_string(id));
        std::vector<GroupIconEntry> entries = groupEntries(id);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].width, 16);
        EXPECT_EQ(entries[0].height, 16);
        EXPECT_TRUE(isSixteenColour(entries[0]));
        SIZE got = loadedIconSize(id, 16);
        EXPECT_EQ(got.cx, 16);
        EXPECT_EQ(got.cy, 16);
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

// ---------------------------------------------------------------------------
// Byte for byte against the files in res/
// ---------------------------------------------------------------------------

std::vector<std::uint8_t> readResFile(const char* pszName) {
    char szPath[MAX_PATH] = "";
    DWORD cch = GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    std::string strPath(szPath, cch);
    strPath = strPath.substr(0, strPath.find_last_of('\\') + 1) + "res\\" + pszName;
    std::vector<std::uint8_t> data;
    HANDLE hFile = CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return data;
    DWORD cb = GetFileSize(hFile, nullptr), cbRead = 0;
    data.resize(cb);
    if (!ReadFile(hFile, data.data(), cb, &cbRead, nullptr) || cbRead != cb) data.clear();
    CloseHandle(hFile);
    return data;
}

std::vector<std::uint8_t> bytesOf(const RawResource& r) {
    return r.data ? std::vector<std::uint8_t>(r.data, r.data + r.size) : std::vector<std::uint8_t>();
}

std::vector<std::uint8_t> slice(const std::vector<std::uint8_t>& v, std::size_t from, std::size_t n) {
    if (from > v.size() || n > v.size() - from) return {};
    return std::vector<std::uint8_t>(v.begin() + from, v.begin() + from + n);
}

// An icon group holds the .ico's directory with each image's offset replaced by the id of an
// RT_ICON resource, which holds that image's bytes.
void expectIconMatchesFile(int id, const char* pszFile) {
    SCOPED_TRACE(pszFile);
    std::vector<std::uint8_t> ico = readResFile(pszFile);
    ASSERT_GE(ico.size(), 6u) << "could not read res\\" << pszFile;
    RawResource group = findRaw(id, MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
    ASSERT_NE(group.data, nullptr);
    std::size_t nImages = u16(ico.data() + 4);
    ASSERT_EQ(group.size, 6 + 14 * nImages);
    EXPECT_EQ(bytesOf({group.data, 6}), slice(ico, 0, 6));
    for (std::size_t i = 0; i < nImages; ++i) {
        SCOPED_TRACE("image " + std::to_string(i));
        const std::uint8_t* pEntry = group.data + 6 + 14 * i;
        std::vector<std::uint8_t> fileEntry = slice(ico, 6 + 16 * i, 16);
        ASSERT_EQ(fileEntry.size(), 16u);
        EXPECT_EQ(bytesOf({pEntry, 12}), slice(fileEntry, 0, 12));
        RawResource image = findRaw(u16(pEntry + 12), MAKEINTRESOURCEA(3));  // RT_ICON
        EXPECT_EQ(bytesOf(image), slice(ico, u32(fileEntry.data() + 12), u32(fileEntry.data() + 8)));
    }
}

TEST(ResourceFiles, CompiledInByteForByteAsInRes) {
    std::vector<std::uint8_t> wav = readResFile("tick.wav");
    ASSERT_FALSE(wav.empty()) << "could not read res\\tick.wav beside the test program";
    EXPECT_EQ(bytesOf(findRaw(IDR_TICK_WAVE, "WAVE")), wav);

    // A bitmap resource is the .bmp without its 14-byte file header.
    std::vector<std::uint8_t> bmp = readResFile("about.bmp");
    ASSERT_GT(bmp.size(), 14u);
    EXPECT_EQ(bytesOf(findRaw(IDB_ABOUT_PICTURE, MAKEINTRESOURCEA(2))),  // RT_BITMAP
              slice(bmp, 14, bmp.size() - 14));

    expectIconMatchesFile(IDR_MAINFRAME, "tickora.ico");
    expectIconMatchesFile(IDI_LIGHT_ON, "light_on.ico");
    expectIconMatchesFile(IDI_LIGHT_OFF, "light_off.ico");

    std::vector<std::uint8_t> manifest = readResFile("tickora.manifest");
    ASSERT_FALSE(manifest.empty());
    EXPECT_EQ(bytesOf(findRaw(1, MAKEINTRESOURCEA(24))), manifest);  // RT_MANIFEST
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
