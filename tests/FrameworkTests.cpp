// The framework layer on a real dialog: modal run, message routing, data exchange, hooks.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include "DataExchange.h"
#include "TestSupport.h"
#include "resource.h"

namespace {

constexpr UINT WM_PROBE_RAW = WM_APP + 40;

// A dialog on the control panel's template with a map of its own, recording what it gets.
class CProbeDlg : public CDialog {
public:
    CProbeDlg() : CDialog(IDD_TICKORA_DIALOG) {}

    int nStartStop = 0, nScroll = 0, nSysCommand = 0;
    UINT nLastScrollCode = 0, nLastSysCommand = 0;
    HWND hLastScrollBar = nullptr;
    int nPreTranslatedMouse = 0;
    bool bDestroyedBeforeNotification = false;
    int nRadio = 0;

    BOOL PreTranslateMessage(MSG* pMsg) override {
        if (pMsg->message == WM_MOUSEMOVE)
            ++nPreTranslatedMouse;
        return CDialog::PreTranslateMessage(pMsg);
    }

protected:
    MessageMap GetMessageMap() const override {
        static constexpr MessageEntry kEntries[] = {
            MapCommand<&CProbeDlg::OnStartStop>(IDC_START_STOP, BN_CLICKED),
            MapHScroll<&CProbeDlg::OnScroll>(),
            MapSysCommand<&CProbeDlg::OnSysCmd>(),
            MapRawMessage<&CProbeDlg::OnRaw>(WM_PROBE_RAW),
        };
        return kEntries;
    }
    void DoDataExchange(CDataExchange& dx) override { DDX_Radio(dx, IDC_SOUND_BUILTIN, nRadio); }
    void PostNcDestroy() override { bDestroyedBeforeNotification = m_hWnd == nullptr; }

private:
    void OnStartStop() { ++nStartStop; }
    void OnScroll(UINT nCode, UINT, HWND hScrollBar) {
        ++nScroll;
        nLastScrollCode = nCode;
        hLastScrollBar = hScrollBar;
    }
    void OnSysCmd(UINT nID, LPARAM) {
        ++nSysCommand;
        nLastSysCommand = nID;
        Default(); // closing and the rest of the system menu must keep working
    }
    LRESULT OnRaw(WPARAM wParam, LPARAM lParam) { return static_cast<LRESULT>(wParam + lParam); }
};

} // namespace

TEST(Framework, MessageMapRoutesEachEntryAndLeavesTheRestToDefaultProcessing) {
    CProbeDlg dlg;
    RunModal(dlg, [&] {
        ClickButton(dlg, IDC_START_STOP);
        EXPECT_EQ(dlg.nStartStop, 1);

        HWND hSlider = dlg.GetDlgItem(IDC_TEMPO_SLIDER);
        SendMessageA(dlg.m_hWnd, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0),
                     reinterpret_cast<LPARAM>(hSlider));
        EXPECT_EQ(dlg.nScroll, 1);
        EXPECT_EQ(dlg.nLastScrollCode, static_cast<UINT>(TB_ENDTRACK));
        EXPECT_EQ(dlg.hLastScrollBar, hSlider);

        // A raw handler's result reaches the sender through DWLP_MSGRESULT.
        EXPECT_EQ(SendMessageA(dlg.m_hWnd, WM_PROBE_RAW, 40, 2), 42);

        // Same notification from another control, or another notification: not routed.
        SendMessageA(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_ABOUT, BN_CLICKED),
                     reinterpret_cast<LPARAM>(dlg.GetDlgItem(IDC_ABOUT)));
        SendMessageA(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_START_STOP, BN_SETFOCUS),
                     reinterpret_cast<LPARAM>(dlg.GetDlgItem(IDC_START_STOP)));
        EXPECT_EQ(dlg.nStartStop, 1);
        EXPECT_TRUE(dlg.IsWindow());

        // Default processing still closes the window from the system menu.
        SendMessageA(dlg.m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_EQ(dlg.nSysCommand, 1);
        EXPECT_EQ(dlg.nLastSysCommand, static_cast<UINT>(SC_CLOSE));
    });
    EXPECT_TRUE(dlg.bDestroyedBeforeNotification);
}

TEST(Framework, PreTranslationSeesMessagesForChildControls) {
    CProbeDlg dlg;
    RunModal(dlg, [&] {
        PumpFor(dlg, 50);
        int nBefore = dlg.nPreTranslatedMouse;
        PostMessageA(dlg.GetDlgItem(IDC_SELECT_WAVE), WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
        PostMessageA(dlg.GetDlgItem(IDC_TEMPO_SLIDER), WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
        PumpFor(dlg, 50);
        EXPECT_EQ(dlg.nPreTranslatedMouse - nBefore, 2);
    });
}

TEST(Framework, RadioGroupExchangesTheCheckedIndexBothWays) {
    CProbeDlg dlg;
    RunModal(dlg, [&] {
        // The first load checks the first button.
        EXPECT_EQ(SendMessageA(dlg.GetDlgItem(IDC_SOUND_BUILTIN), BM_GETCHECK, 0, 0), BST_CHECKED);

        SendMessageA(dlg.GetDlgItem(IDC_SOUND_BUILTIN), BM_SETCHECK, BST_UNCHECKED, 0);
        SendMessageA(dlg.GetDlgItem(IDC_SOUND_WAVE), BM_SETCHECK, BST_CHECKED, 0);
        dlg.UpdateData(TRUE);
        EXPECT_EQ(dlg.nRadio, 2);

        dlg.nRadio = 1;
        dlg.UpdateData(FALSE);
        EXPECT_EQ(SendMessageA(dlg.GetDlgItem(IDC_SOUND_BUILTIN), BM_GETCHECK, 0, 0), BST_UNCHECKED);
        EXPECT_EQ(SendMessageA(dlg.GetDlgItem(IDC_SOUND_SPEAKER), BM_GETCHECK, 0, 0), BST_CHECKED);
        EXPECT_EQ(SendMessageA(dlg.GetDlgItem(IDC_SOUND_WAVE), BM_GETCHECK, 0, 0), BST_UNCHECKED);

        // Another thread may read the member meanwhile: it keeps its old value until the
        // whole group has been read.
        SendMessageA(dlg.GetDlgItem(IDC_SOUND_SPEAKER), BM_SETCHECK, BST_UNCHECKED, 0);
        std::vector<int> seen;
        {
            ControlSpy spy(dlg.GetDlgItem(IDC_SOUND_WAVE), [&](UINT uMsg) {
                if (uMsg == BM_GETCHECK)
                    seen.push_back(dlg.nRadio);
            });
            dlg.UpdateData(TRUE);
        }
        EXPECT_EQ(seen, std::vector<int>{1});
        EXPECT_EQ(dlg.nRadio, -1);
    });
}

TEST(Framework, QuitEndsWithOkAfterRefreshingTheMembers) {
    CTestTickoraDlg dlg;
    INT_PTR nResult = RunModal(dlg, [&] {
        SendMessageA(dlg.GetDlgItem(IDC_SOUND_BUILTIN), BM_SETCHECK, BST_UNCHECKED, 0);
        SendMessageA(dlg.GetDlgItem(IDC_SOUND_SPEAKER), BM_SETCHECK, BST_CHECKED, 0);
        ClickButton(dlg, IDOK);
        PumpFor(dlg, 20);
    });
    EXPECT_EQ(nResult, IDOK);
    EXPECT_EQ(dlg.TickSoundChoice(), 1);
    EXPECT_FALSE(dlg.IsWindow());
}

TEST(Framework, EscapeAndTheCloseBoxEndWithCancel) {
    {
        CTestTickoraDlg dlg;
        INT_PTR nResult = RunModal(dlg, [&] {
            // Escape on the focused control, through the modal loop's dialog navigation.
            HWND hFocus = GetFocus();
            ASSERT_NE(hFocus, nullptr);
            PostMessageA(hFocus, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
            PumpFor(dlg, 50);
        });
        EXPECT_EQ(nResult, IDCANCEL);
    }
    {
        CTestTickoraDlg dlg;
        INT_PTR nResult = RunModal(dlg, [&] {
            SendMessageA(dlg.m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
            PumpFor(dlg, 20);
        });
        EXPECT_EQ(nResult, IDCANCEL);
    }
}

TEST(Framework, ModalRunReportsATemplateThatCannotBeCreated) {
    CDialog dlg(9999); // no such template
    EXPECT_EQ(dlg.DoModal(), -1);
}
