// The compiled dialog templates, read back from the program's resources, and the real
// controls that Windows creates from them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "ProgramTexts.h"
#include "TestSupport.h"
#include "resource.h"

namespace {

struct Item {
    int nId;
    std::string strClass;
    std::string strText;
    DWORD dwStyle;
    DWORD dwExStyle;
    short x, y, cx, cy;
};

struct Template {
    bool bExtended;
    DWORD dwStyle, dwExStyle;
    short x, y, cx, cy;
    std::string strMenu, strClass, strCaption;
    int nPointSize = 0, nWeight = -1, nItalic = -1, nCharSet = -1;
    std::string strFace;
    std::vector<Item> items;
};

class Reader {
public:
    explicit Reader(const BYTE* p) : m_pBase(p), m_p(p) {}
    WORD Word() { return Take<WORD>(); }
    DWORD Dword() { return Take<DWORD>(); }
    short Short() { return Take<short>(); }
    BYTE Byte() { return Take<BYTE>(); }
    void AlignDword() {
        while ((m_p - m_pBase) % 4)
            ++m_p;
    }
    std::string WideString() {
        std::string s;
        for (WORD c; (c = Word()) != 0;)
            s.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        return s;
    }
    // A name or an ordinal; ordinals come back as "#n", or as the class they stand for.
    std::string NameOrOrdinal(bool bClass = false) {
        WORD first = Word();
        if (first == 0)
            return "";
        if (first == 0xFFFF) {
            WORD ordinal = Word();
            static const char* const kClasses[] = {"button", "edit",      "static",
                                                   "listbox", "scrollbar", "combobox"};
            if (bClass && ordinal >= 0x80 && ordinal <= 0x85)
                return kClasses[ordinal - 0x80];
            return std::string("#").append(std::to_string(ordinal));
        }
        m_p -= sizeof(WORD);
        std::string s = WideString();
        if (bClass)
            std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
        return s;
    }
    void Skip(size_t n) { m_p += n; }

private:
    template <class T> T Take() {
        T value;
        memcpy(&value, m_p, sizeof value);
        m_p += sizeof value;
        return value;
    }
    const BYTE* m_pBase;
    const BYTE* m_p;
};

Template LoadTemplate(UINT nId) {
    HRSRC hInfo = FindResourceA(nullptr, MAKEINTRESOURCEA(nId), MAKEINTRESOURCEA(5) /*RT_DIALOG*/);
    EXPECT_NE(hInfo, nullptr);
    Reader r(static_cast<const BYTE*>(LockResource(LoadResource(nullptr, hInfo))));
    Template t = {};
    WORD first = r.Word(), second = r.Word();
    t.bExtended = first == 1 && second == 0xFFFF;
    if (t.bExtended) {
        r.Dword(); // help id
        t.dwExStyle = r.Dword();
        t.dwStyle = r.Dword();
    } else {
        t.dwStyle = MAKELONG(first, second);
        t.dwExStyle = r.Dword();
    }
    int nItems = r.Word();
    t.x = r.Short(), t.y = r.Short(), t.cx = r.Short(), t.cy = r.Short();
    t.strMenu = r.NameOrOrdinal();
    t.strClass = r.NameOrOrdinal();
    t.strCaption = r.WideString();
    if (t.dwStyle & DS_SETFONT) {
        t.nPointSize = r.Word();
        if (t.bExtended) {
            t.nWeight = r.Word();
            t.nItalic = r.Byte();
            t.nCharSet = r.Byte();
        }
        t.strFace = r.WideString();
    }
    for (int i = 0; i < nItems; ++i) {
        r.AlignDword();
        Item item = {};
        if (t.bExtended) {
            r.Dword(); // help id
            item.dwExStyle = r.Dword();
            item.dwStyle = r.Dword();
        } else {
            item.dwStyle = r.Dword();
            item.dwExStyle = r.Dword();
        }
        item.x = r.Short(), item.y = r.Short(), item.cx = r.Short(), item.cy = r.Short();
        item.nId = t.bExtended ? static_cast<int>(r.Dword()) : static_cast<short>(r.Word());
        item.strClass = r.NameOrOrdinal(true);
        item.strText = r.NameOrOrdinal();
        r.Skip(r.Word());
        t.items.push_back(item);
    }
    return t;
}

// The control panel as it must look: id, class, text, complete style, rectangle.
const Item kMainItems[] = {
    {-1, "button", "Tick Settings...", 0x50010007, 0, 7, 3, 106, 58},
    {1005, "button", "&Built-in sound", 0x50030009, 0, 13, 16, 55, 11},
    {1006, "button", "&PC speaker", 0x50010009, 0, 13, 29, 53, 11},
    {1007, "button", "&Wave File", 0x50010009, 0, 13, 42, 47, 11},
    {1000, "msctls_trackbar32", "Slider1", 0x50030005, 0, 12, 71, 165, 23},
    {1, "button", "&Quit", 0x50000000, 0, 172, 7, 50, 14},
    {1004, "button", "&About...", 0x50010000, 0, 172, 23, 50, 14},
    {1002, "button", "Start/Stop", 0x50010301, 0, 181, 44, 39, 15},
    {-1, "button", "Tempo", 0x50000007, 0, 7, 62, 215, 35},
    {1008, "button", "Select...", 0x50010000, 0, 67, 41, 41, 13},
    {-1, "button", "Timing...", 0x50000007, 0, 117, 3, 51, 58},
    {100, "combobox", "", 0x50030003, 0, 121, 23, 44, 48},
    {-1, "static", "Priority Class", 0x50020000, 0, 122, 13, 40, 9},
    {-1, "button", "", 0x50000007, 0, 169, 38, 53, 23},
    {1011, "static", "120 bpm", 0x50020000, 0, 183, 78, 28, 10},
};

void ExpectItemsMatch(const std::vector<Item>& actual, const Item* pExpected, size_t nExpected) {
    ASSERT_EQ(actual.size(), nExpected);
    for (size_t i = 0; i < nExpected; ++i) {
        const Item& a = actual[i];
        const Item& e = pExpected[i];
        SCOPED_TRACE("item " + std::to_string(i + 1) + " " + e.strText);
        EXPECT_EQ(a.nId == 0xFFFF ? -1 : a.nId, e.nId);
        EXPECT_EQ(a.strClass, e.strClass);
        EXPECT_EQ(a.strText, e.strText);
        EXPECT_EQ(a.dwStyle, e.dwStyle) << std::hex << a.dwStyle;
        EXPECT_EQ(a.dwExStyle, e.dwExStyle);
        EXPECT_EQ(a.x, e.x);
        EXPECT_EQ(a.y, e.y);
        EXPECT_EQ(a.cx, e.cx);
        EXPECT_EQ(a.cy, e.cy);
    }
}

} // namespace

TEST(Template, MainDialogIsTheExtendedTemplateOfTheControlPanel) {
    Template t = LoadTemplate(IDD_TICKORA_DIALOG);
    EXPECT_TRUE(t.bExtended);
    EXPECT_EQ(t.dwStyle, 0x90CA00C0u) << std::hex << t.dwStyle;
    EXPECT_EQ(t.dwExStyle, 0x00040000u);
    EXPECT_EQ(t.x, 0);
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.cx, 228);
    EXPECT_EQ(t.cy, 102);
    EXPECT_EQ(t.strMenu, "");
    EXPECT_EQ(t.strClass, "");
    EXPECT_EQ(t.strCaption, "Tickora 1.0");
    EXPECT_EQ(t.nPointSize, 8);
    EXPECT_EQ(t.nWeight, 0);
    EXPECT_EQ(t.nItalic, 0);
    EXPECT_EQ(t.nCharSet, 1);
    EXPECT_EQ(t.strFace, "MS Sans Serif");
    ExpectItemsMatch(t.items, kMainItems, std::size(kMainItems));
}

TEST(Template, AboutBoxIsAStandardTemplate) {
    Template t = LoadTemplate(IDD_ABOUTBOX);
    EXPECT_FALSE(t.bExtended);
    EXPECT_EQ(t.dwStyle, 0x80C800C0u) << std::hex << t.dwStyle;
    EXPECT_EQ(t.cx, 224);
    EXPECT_EQ(t.cy, 98);
    EXPECT_EQ(t.strCaption, kAboutCaption);
    EXPECT_EQ(t.nPointSize, 8);
    EXPECT_EQ(t.strFace, "MS Sans Serif");
    ASSERT_EQ(t.items.size(), 6u);

    const Item& picture = t.items[0];
    EXPECT_EQ(picture.strClass, "static");
    EXPECT_EQ(picture.strText, "#132");
    EXPECT_EQ(picture.dwStyle, 0x5000000Eu);
    EXPECT_EQ(picture.cx, 60);
    EXPECT_EQ(picture.cy, 83);

    EXPECT_EQ(t.items[1].strText, "Tickora 1.1");
    EXPECT_EQ(t.items[1].dwStyle, 0x50020080u);
    EXPECT_EQ(t.items[2].dwStyle, 0x50020000u);
    EXPECT_FALSE(t.items[2].strText.empty());
    EXPECT_EQ(t.items[3].nId, IDOK);
    EXPECT_EQ(t.items[3].strText, "OK");
    EXPECT_EQ(t.items[3].dwStyle, 0x50030001u);
    EXPECT_EQ(t.items[4].strText.rfind("Yo yo yo! Tickora is here to serve", 0), 0u);
    EXPECT_EQ(t.items[4].dwStyle, 0x50020000u);
    EXPECT_EQ(t.items[5].dwStyle, 0x50020000u);
    EXPECT_FALSE(t.items[5].strText.empty());
}

TEST(Template, StringTableHoldsTheProgramsTexts) {
    CString str;
    ASSERT_TRUE(str.LoadString(IDS_ABOUTBOX));
    EXPECT_STREQ(str, "&About metronome...");
    ASSERT_TRUE(str.LoadString(IDS_CANNOT_PLAY));
    EXPECT_STREQ(str, kCannotPlayText);
    ASSERT_TRUE(str.LoadString(IDS_NO_TIMER));
    EXPECT_STREQ(str, kNoTimerText);
    EXPECT_FALSE(str.LoadString(104));
}

TEST(Template, VersionBlockIsUsEnglish) {
    HRSRC hInfo = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16) /*RT_VERSION*/);
    ASSERT_NE(hInfo, nullptr);
    const BYTE* p = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, hInfo)));
    auto* pFixed = reinterpret_cast<const VS_FIXEDFILEINFO*>(p + 40); // after the VS_VERSION_INFO key
    ASSERT_EQ(pFixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(pFixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(pFixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(pFixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(pFixed->dwProductVersionLS, 0x00000001u);
    std::vector<BYTE> copy(p, p + SizeofResource(nullptr, hInfo)); // VerQueryValue writes
    auto value = [&](const wchar_t* pszName) {
        void* pValue = nullptr;
        UINT cch = 0;
        std::wstring strPath = std::wstring(L"\\StringFileInfo\\040904b0\\") + pszName;
        VerQueryValueW(copy.data(), strPath.c_str(), &pValue, &cch);
        return std::wstring(pValue ? static_cast<const wchar_t*>(pValue) : L"(none)");
    };
    EXPECT_EQ(value(L"FileVersion") + L" " + value(L"ProductVersion"), L"1.0.0.1 1.0.0.1");
    EXPECT_EQ(value(L"ProductName"), L"Tickora");
    EXPECT_EQ(value(L"LegalCopyright"), L"Copyright (c) 2026 the Tickora authors"); // as LICENSE
}

TEST(Template, RealControlsFollowTheTemplateInTabOrder) {
    CTestTickoraDlg dlg;
    bool bRan = false;
    RunModal(dlg, [&] {
        bRan = true;
        std::vector<HWND> children;
        for (HWND h = GetWindow(dlg.m_hWnd, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
            if (GetParent(h) == dlg.m_hWnd && ClassName(h) != "tooltips_class32")
                children.push_back(h);
        ASSERT_EQ(children.size(), std::size(kMainItems));
        for (size_t i = 0; i < children.size(); ++i) {
            const Item& e = kMainItems[i];
            HWND h = children[i];
            SCOPED_TRACE("control " + std::to_string(i + 1) + " " + e.strText);
            int nId = GetDlgCtrlID(h);
            EXPECT_EQ(nId == 0xFFFF ? -1 : nId, e.nId);
            std::string strClass = ClassName(h);
            std::transform(strClass.begin(), strClass.end(), strClass.begin(),
                           [](unsigned char c) { return std::tolower(c); });
            EXPECT_EQ(strClass, e.strClass);
            if (e.nId != IDC_TEMPO_SLIDER && e.nId != IDC_PRIORITY) {
                EXPECT_EQ(WindowText(h), e.strText);
            }
            DWORD dwStyle = static_cast<DWORD>(GetWindowLongA(h, GWL_STYLE));
            DWORD dwCompared = ~0u;
            // Checking an auto radio button moves the group's tab stop onto it.
            if ((e.dwStyle & 0xF) == BS_AUTORADIOBUTTON && e.strClass == "button")
                dwCompared &= ~static_cast<DWORD>(WS_TABSTOP);
            EXPECT_EQ(dwStyle & dwCompared, e.dwStyle & dwCompared) << std::hex << dwStyle;
        }
        // Tab moves focus through the tab stops in template order; Quit has none.
        HWND hFirst = GetNextDlgTabItem(dlg.m_hWnd, nullptr, FALSE);
        std::vector<int> order;
        HWND h = hFirst;
        do {
            order.push_back(GetDlgCtrlID(h));
            h = GetNextDlgTabItem(dlg.m_hWnd, h, FALSE);
        } while (h && h != hFirst && order.size() < 20);
        EXPECT_EQ(std::count(order.begin(), order.end(), IDOK), 0);
        EXPECT_NE(std::find(order.begin(), order.end(), IDC_ABOUT), order.end());
    });
    EXPECT_TRUE(bRan) << "the control panel could not be created";
}
