// The rest of the control panel on the real window: lamp, tooltips, priority, About box,
// and the system menu's other commands.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include "TestSupport.h"
#include "resource.h"

namespace {

constexpr COLORREF kBrightRed = RGB(255, 0, 0);
constexpr COLORREF kDarkRed = RGB(128, 0, 0);

// Row 8, column 5 of the lamp is red in both images: bright when lit, dark when not.
COLORREF LampPixel(CDialog& dlg) { return ClientPixel(dlg.m_hWnd, 256 + 5, 76 + 8); }

int s_nIconErase = 0;

LRESULT CALLBACK CountIconErase(int nCode, WPARAM wParam, LPARAM lParam) {
    auto* p = reinterpret_cast<CWPSTRUCT*>(lParam);
    if (nCode == HC_ACTION && p->message == WM_ICONERASEBKGND)
        ++s_nIconErase;
    return CallNextHookEx(nullptr, nCode, wParam, lParam);
}

struct ToolRecord {
    UINT uFlags;
    HWND hWnd;
    UINT_PTR uId;
    RECT rect;
    std::string strText;
};

std::vector<ToolRecord> EnumTools(HWND hToolTip) {
    std::vector<ToolRecord> tools;
    int nCount = static_cast<int>(SendMessageA(hToolTip, TTM_GETTOOLCOUNT, 0, 0));
    for (int i = 0; i < nCount; ++i) {
        char szText[256] = "";
        TOOLINFOA ti = {};
        ti.cbSize = TTTOOLINFOA_V2_SIZE;
        ti.lpszText = szText;
        SendMessageA(hToolTip, TTM_ENUMTOOLSA, i, reinterpret_cast<LPARAM>(&ti));
        tools.push_back({ti.uFlags, ti.hwnd, ti.uId, ti.rect, szText});
    }
    return tools;
}

} // namespace

TEST(Panel, LampFollowsTheRunState) {
    MultimediaRecorder rec;
    MessageBoxWatcher boxes;
    CTestTickoraDlg dlg;
    RunModal(dlg, [&] {
        PumpFor(dlg, 100);
        EXPECT_EQ(LampPixel(dlg), kDarkRed);
        ClickButton(dlg, IDC_START_STOP);
        EXPECT_EQ(LampPixel(dlg), kBrightRed);
        // The unnamed group box around the lamp, painting as a themed one may: its whole
        // rectangle in the dialog's background.
        HWND hBox = GetWindow(dlg.GetDlgItem(IDC_TEMPO_TEXT), GW_HWNDPREV);
        ControlSpy fill(hBox, [&](UINT uMsg) {
            RECT rc;
            if (GetClientRect(hBox, &rc) && uMsg == WM_PAINT)
                FillRect(CPaintDC(hBox).GetSafeHdc(), &rc, GetSysColorBrush(COLOR_BTNFACE));
        });
        RedrawWindow(hBox, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        EXPECT_EQ(LampPixel(dlg), kBrightRed);
        ClickButton(dlg, IDC_START_STOP);
        EXPECT_EQ(LampPixel(dlg), kDarkRed);

        // A start whose timer is refused still shows the lamp lit.
        rec.bFailTimeSetEvent = true;
        ClickButton(dlg, IDC_START_STOP);
        EXPECT_EQ(boxes.Count(), 1);
        EXPECT_EQ(LampPixel(dlg), kBrightRed);
        ClickButton(dlg, IDC_START_STOP);
        EXPECT_EQ(LampPixel(dlg), kDarkRed);
    });
}

TEST(Panel, LampGoesOutWhenAWaveFileTickFails) {
    MessageBoxWatcher boxes;
    CTestTickoraDlg dlg;
    dlg.bSilentTicks = false;
    RunModal(dlg, [&] {
        SendMessageA(dlg.GetDlgItem(IDC_SOUND_BUILTIN), BM_SETCHECK, BST_UNCHECKED, 0);
        SendMessageA(dlg.GetDlgItem(IDC_SOUND_WAVE), BM_SETCHECK, BST_CHECKED, 0);
        MoveSlider(dlg, 240);
        ClickButton(dlg, IDC_START_STOP); // no file chosen: the first tick fails
        EXPECT_EQ(LampPixel(dlg), kBrightRed);
        EXPECT_TRUE(PumpUntil(dlg, [&] { return boxes.Count() == 1; }, 2000));
        EXPECT_EQ(LampPixel(dlg), kDarkRed);
    });
}

TEST(Panel, LampIsRepaintedAfterTheWindowWasCovered) {
    CTestTickoraDlg dlg;
    RunModal(dlg, [&] {
        ClickButton(dlg, IDC_START_STOP);
        // Scribble over the lamp, as a covering window would leave it, then expose it again.
        {
            HDC hDC = GetDC(dlg.m_hWnd);
            RECT rcLamp = {256, 76, 272, 92};
            FillRect(hDC, &rcLamp, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
            ReleaseDC(dlg.m_hWnd, hDC);
        }
        ASSERT_EQ(LampPixel(dlg), RGB(255, 255, 255));
        // Wine keeps each window's pixels, so uncovering repaints nothing by itself; the
        // system's part on Windows is to invalidate what was covered.
        RECT rcCovered = {240, 60, 300, 120};
        InvalidateRect(dlg.m_hWnd, &rcCovered, TRUE);
        EXPECT_TRUE(PumpUntil(dlg, [&] { return LampPixel(dlg) == kBrightRed; }, 1000));
        ClickButton(dlg, IDC_START_STOP);
    });
}

TEST(Panel, ElevenToolsWithTheirTextsInOrder) {
    CTestTickoraDlg dlg;
    HWND hToolTip = nullptr;
    RunModal(dlg, [&] {
        ASSERT_NE(dlg.ToolTip(), nullptr);
        hToolTip = dlg.ToolTip()->m_hWnd;
        std::vector<ToolRecord> tools = EnumTools(hToolTip);
        const std::pair<int, const char*> kExpected[] = {
            {IDC_SOUND_BUILTIN, "Use built-in tick sound (through Wave Mapper)"},
            {IDC_SOUND_SPEAKER, "Use PC speaker beep"},
            {IDC_SOUND_WAVE, "Use an external wave file..."},
            {IDC_SELECT_WAVE, "Chooses a wave file to use as a tick sound"},
            {IDC_TEMPO_SLIDER, "Selects tempo in beats per minute"},
            {IDC_START_STOP, "Starts the metronome"},
            {IDOK, "A wise decision"},
            {IDC_ABOUT, "Get da 411 on the funky dude who made this app"},
            {IDC_TEMPO_TEXT, "Displays the current tempo (in BPM)"},
            {IDC_PRIORITY, "Changes program's priority class (advanced)"},
        };
        ASSERT_EQ(tools.size(), 11u);
        for (size_t i = 0; i < 10; ++i) {
            SCOPED_TRACE(kExpected[i].second);
            EXPECT_EQ(tools[i].uId, reinterpret_cast<UINT_PTR>(dlg.GetDlgItem(kExpected[i].first)));
            EXPECT_TRUE(tools[i].uFlags & TTF_IDISHWND);
            EXPECT_FALSE(tools[i].uFlags & TTF_SUBCLASS); // only the relay feeds the tooltip
            EXPECT_EQ(tools[i].strText, kExpected[i].second);
        }
        const ToolRecord& lamp = tools[10];
        EXPECT_EQ(lamp.hWnd, dlg.m_hWnd);
        EXPECT_EQ(lamp.uId, static_cast<UINT_PTR>(ID_LIGHT_TOOL));
        EXPECT_FALSE(lamp.uFlags & (TTF_IDISHWND | TTF_SUBCLASS));
        EXPECT_EQ(lamp.rect.left, 256);
        EXPECT_EQ(lamp.rect.top, 76);
        EXPECT_EQ(lamp.rect.right, 272);
        EXPECT_EQ(lamp.rect.bottom, 92);
        EXPECT_EQ(lamp.strText, "On/off light");
    });
    EXPECT_NE(hToolTip, nullptr);
    EXPECT_FALSE(IsWindow(hToolTip)); // gone with the dialog
}

TEST(Panel, StartStopTipFollowsTheRunState) {
    CTestTickoraDlg dlg;
    RunModal(dlg, [&] {
        HWND hButton = dlg.GetDlgItem(IDC_START_STOP);
        EXPECT_STREQ(dlg.ToolTip()->GetText(hButton), "Starts the metronome");
        ClickButton(dlg, IDC_START_STOP);
        EXPECT_STREQ(dlg.ToolTip()->GetText(hButton), "Stops the metronome");
        ClickButton(dlg, IDC_START_STOP);
        EXPECT_STREQ(dlg.ToolTip()->GetText(hButton), "Starts the metronome");
    });
}

TEST(Panel, HoveringShowsTheToolsTipThroughTheRelay) {
    CTestTickoraDlg dlg;
    RunModal(dlg, [&] {
        HWND hQuit = dlg.GetDlgItem(IDOK);
        RECT rc;
        GetWindowRect(hQuit, &rc);
        SetCursorPos((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
        PostMessageA(hQuit, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
        HWND hTip = dlg.ToolTip()->m_hWnd;
        bool bShown = PumpUntil(dlg, [&] { return IsWindowVisible(hTip) != FALSE; }, 3000);
        ASSERT_TRUE(bShown);
        char szText[128] = "";
        TOOLINFOA ti = {};
        ti.cbSize = TTTOOLINFOA_V2_SIZE;
        ti.lpszText = szText;
        ASSERT_TRUE(SendMessageA(hTip, TTM_GETCURRENTTOOLA, 0, reinterpret_cast<LPARAM>(&ti)));
        EXPECT_STREQ(szText, "A wise decision");
    });
}

TEST(Panel, MessagesBeforeTheTooltipExistsAreNotRelayed) {
    CTestTickoraDlg dlg; // no window, no tooltip yet
    MSG msg = {nullptr, WM_MOUSEMOVE, 0, MAKELPARAM(1, 1), 0, {1, 1}};
    EXPECT_FALSE(dlg.PreTranslateMessage(&msg));
    EXPECT_EQ(dlg.ToolTip(), nullptr);
}

TEST(Panel, PriorityListSetsTheProcessClassAndTheDialogThreadPriority) {
    CTestTickoraDlg dlg;
    RunModal(dlg, [&] {
        HWND hList = dlg.GetDlgItem(IDC_PRIORITY);
        ASSERT_EQ(SendMessageA(hList, CB_GETCOUNT, 0, 0), 4);
        const char* const kItems[] = {"Idle", "Normal", "High", "Realtime"};
        for (int i = 0; i < 4; ++i) {
            char szItem[32] = "";
            SendMessageA(hList, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(szItem));
            EXPECT_STREQ(szItem, kItems[i]);
        }
        EXPECT_EQ(SendMessageA(hList, CB_GETCURSEL, 0, 0), 1);
        EXPECT_EQ(GetPriorityClass(GetCurrentProcess()), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
        EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_NORMAL);

        struct Row {
            int nIndex;
            DWORD dwClass;
            int nThread;
        };
        for (Row row : {Row{0, IDLE_PRIORITY_CLASS, THREAD_PRIORITY_IDLE},
                        Row{2, HIGH_PRIORITY_CLASS, THREAD_PRIORITY_HIGHEST},
                        Row{3, REALTIME_PRIORITY_CLASS, THREAD_PRIORITY_ABOVE_NORMAL},
                        Row{1, NORMAL_PRIORITY_CLASS, THREAD_PRIORITY_NORMAL}}) {
            SCOPED_TRACE(kItems[row.nIndex]);
            SendMessageA(hList, CB_SETCURSEL, row.nIndex, 0);
            SendMessageA(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_PRIORITY, CBN_SELCHANGE),
                         reinterpret_cast<LPARAM>(hList));
            DWORD dwClass = GetPriorityClass(GetCurrentProcess());
            if (row.dwClass == REALTIME_PRIORITY_CLASS && dwClass != REALTIME_PRIORITY_CLASS) {
                // The system may refuse Realtime; the program then reports nothing.
                std::printf("Realtime refused by the system here: class 0x%lx\n", dwClass);
                continue;
            }
            EXPECT_EQ(dwClass, row.dwClass);
            EXPECT_EQ(GetThreadPriority(GetCurrentThread()), row.nThread);
            EXPECT_EQ(SendMessageA(hList, CB_GETCURSEL, 0, 0), row.nIndex);
        }
    });
}

TEST(Panel, SystemMenuEndsWithTheAboutItem) {
    CTestTickoraDlg dlg;
    RunModal(dlg, [&] {
        HMENU hMenu = GetSystemMenu(dlg.m_hWnd, FALSE);
        int nCount = GetMenuItemCount(hMenu);
        ASSERT_GE(nCount, 2);
        EXPECT_TRUE(GetMenuState(hMenu, nCount - 2, MF_BYPOSITION) & MF_SEPARATOR);
        EXPECT_EQ(GetMenuItemID(hMenu, nCount - 1), static_cast<UINT>(IDM_ABOUTBOX));
        char szText[64] = "";
        GetMenuStringA(hMenu, nCount - 1, szText, sizeof szText, MF_BYPOSITION);
        EXPECT_STREQ(szText, "&About metronome...");
    });
}

TEST(Panel, AboutBoxOpensByButtonAndSystemCommandAndClosesByOkAndEscape) {
    MessageBoxWatcher boxes;
    CTestTickoraDlg dlg;
    RunModal(dlg, [&] {
        ClickButton(dlg, IDC_START_STOP); // the beat goes on behind the box
        boxes.CloseAboutBoxes(MessageBoxWatcher::AboutClose::ByOk);
        ClickButton(dlg, IDC_ABOUT);
        EXPECT_EQ(boxes.AboutBoxesSeen(), 1);

        boxes.CloseAboutBoxes(MessageBoxWatcher::AboutClose::ByEscape);
        SendMessageA(dlg.m_hWnd, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
        EXPECT_EQ(boxes.AboutBoxesSeen(), 2);
        SendMessageA(dlg.m_hWnd, WM_SYSCOMMAND, IDM_ABOUTBOX | 0x3, 0); // low bits are ignored
        EXPECT_EQ(boxes.AboutBoxesSeen(), 3);

        EXPECT_EQ(boxes.AboutBoxesForced(), 0);
        EXPECT_TRUE(boxes.OwnerWasDisabled());
        EXPECT_TRUE(IsWindowEnabled(dlg.m_hWnd));
        EXPECT_TRUE(dlg.Running());
        EXPECT_TRUE(PumpUntil(dlg, [&] { return dlg.nTicks >= 1; }, 1500)); // the beat went on
        ClickButton(dlg, IDC_START_STOP);
    });
}

TEST(Panel, OtherSystemCommandsStillWorkAndTheMinimizedWindowShowsTheIcon) {
    CTestTickoraDlg dlg;
    RunModal(dlg, [&] {
        // Catch the icon branch of the painting: it erases the icon background first.
        s_nIconErase = 0;
        HHOOK hHook = SetWindowsHookExA(WH_CALLWNDPROC, &CountIconErase, nullptr,
                                        GetCurrentThreadId());

        SendMessageA(dlg.m_hWnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        PumpFor(dlg, 100);
        EXPECT_TRUE(IsIconic(dlg.m_hWnd));
        InvalidateRect(dlg.m_hWnd, nullptr, TRUE);
        SendMessageA(dlg.m_hWnd, WM_PAINT, 0, 0);
        EXPECT_GE(s_nIconErase, 1);
        EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(dlg.m_hWnd, WM_QUERYDRAGICON, 0, 0)),
                  LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME)));

        SendMessageA(dlg.m_hWnd, WM_SYSCOMMAND, SC_RESTORE, 0);
        PumpFor(dlg, 200);
        EXPECT_FALSE(IsIconic(dlg.m_hWnd));
        int nErases = s_nIconErase;
        InvalidateRect(dlg.m_hWnd, nullptr, TRUE);
        PumpFor(dlg, 100);
        EXPECT_EQ(s_nIconErase, nErases);
        EXPECT_EQ(LampPixel(dlg), kDarkRed);
        UnhookWindowsHookEx(hHook);
    });
}
