// Looks at a running Tickora from outside, as another program in the same Wine prefix:
// the end-to-end tests read from it what the screen, the controls and the system say.
//
//   tickora_probe      one JSON line: the panel, its dialogs, its process; then one more
//                      for each line read on stdin, until it closes
//
// A test that polls keeps one probe and asks it line by line: a Wine start per reading
// costs many times the reading itself.
// Window text is read in the wide form: across processes Wine's ANSI list-box text is cut.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "ObjectCounts.h"
#include "ProgramTexts.h"

namespace {

constexpr char kMainTitle[] = "Tickora 1.0";
// Where the lamp is drawn, in client coordinates; this pixel is inside its coloured part.
constexpr POINT kLampPixel = {261, 84};
// The static that carries a message box's text.
constexpr int kMessageBoxTextId = 0xFFFF;

std::string Utf8(const std::wstring& text) {
    if (text.empty())
        return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr,
                                0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

std::string Json(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string WindowText(HWND hWnd) {
    wchar_t buf[1024] = {};
    // Bounded: a hung target must not hang the probe.
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(hWnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG,
                             1000, &len))
        return {};
    return Utf8(std::wstring(buf, len));
}

std::string ClassName(HWND hWnd) {
    char buf[256] = {};
    GetClassNameA(hWnd, buf, sizeof buf);
    return buf;
}

std::string RectJson(const RECT& r) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "[%ld,%ld,%ld,%ld]", r.left, r.top, r.right, r.bottom);
    return buf;
}

std::string ScreenRect(HWND hWnd) {
    RECT r = {};
    GetWindowRect(hWnd, &r);
    return RectJson(r);
}

LRESULT Ask(HWND hWnd, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(hWnd, msg, wParam, lParam, SMTO_ABORTIFHUNG, 1000, &result))
        return -2;
    return static_cast<LRESULT>(result);
}

struct TopWindows {
    DWORD dwPid;
    std::vector<HWND> list;
};

BOOL CALLBACK CollectTop(HWND hWnd, LPARAM lParam) {
    auto* pTop = reinterpret_cast<TopWindows*>(lParam);
    DWORD dwPid = 0;
    GetWindowThreadProcessId(hWnd, &dwPid);
    if (dwPid == pTop->dwPid && IsWindowVisible(hWnd))
        pTop->list.push_back(hWnd);
    return TRUE;
}

// The visible dialog-class windows of the process other than the panel: message boxes, the
// About box, the file dialog.
std::vector<HWND> ProcessDialogs(HWND hMain, DWORD dwPid) {
    TopWindows top = {dwPid, {}};
    EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&top));
    std::vector<HWND> out;
    for (HWND h : top.list)
        if (h != hMain && ClassName(h) == "#32770")
            out.push_back(h);
    return out;
}

// A message box carries its text in a static of its own id; the About box's pictures and
// texts use that id too, so it is told apart by its caption.
bool IsMessageBox(HWND hWnd) {
    std::string title = WindowText(hWnd);
    return GetDlgItem(hWnd, kMessageBoxTextId) != nullptr && title != kAboutCaption &&
           title != "Open";
}

std::string ChildrenJson(HWND hParent) {
    std::string out = "[";
    bool first = true;
    for (HWND h = GetWindow(hParent, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) {
        int id = GetDlgCtrlID(h);
        if (id == 0 || id == kMessageBoxTextId || id == -1)
            continue;
        if (!first)
            out += ",";
        first = false;
        out += "{\"id\":" + std::to_string(id) + ",\"text\":" + Json(WindowText(h)) + ",\"rect\":" + ScreenRect(h) +
               ",\"visible\":" + (IsWindowVisible(h) ? "true" : "false") + "}";
    }
    return out + "]";
}

std::string DialogJson(HWND hWnd) {
    HWND hText = GetDlgItem(hWnd, kMessageBoxTextId);
    std::string title = WindowText(hWnd);
    const char* kind = title == kAboutCaption     ? "about"
                       : IsMessageBox(hWnd)     ? "message"
                       : title == "Open"        ? "open"
                                                : "other";
    // Keys typed now reach the box only once it is in front with a control focused in it.
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    bool bFocused = GetForegroundWindow() == hWnd &&
                    GetGUIThreadInfo(GetWindowThreadProcessId(hWnd, nullptr), &gui) &&
                    gui.hwndFocus && GetAncestor(gui.hwndFocus, GA_ROOT) == hWnd;
    return "{\"kind\":" + Json(kind) + ",\"title\":" + Json(title) +
           ",\"focused\":" + (bFocused ? "true" : "false") +
           ",\"text\":" + Json(hText ? WindowText(hText) : std::string()) +
           ",\"rect\":" + ScreenRect(hWnd) + ",\"controls\":" + ChildrenJson(hWnd) + "}";
}

std::string ColorJson(COLORREF c) {
    if (c == CLR_INVALID)
        return "null";
    char buf[32];
    std::snprintf(buf, sizeof buf, "[%d,%d,%d]", GetRValue(c), GetGValue(c), GetBValue(c));
    return buf;
}

std::string CountJson(long n) { return n < 0 ? std::string("null") : std::to_string(n); }

std::string StateJson() {
    HWND hMain = FindWindowA("#32770", kMainTitle);
    if (!hMain)
        return "{\"found\":false}";
    DWORD dwPid = 0;
    DWORD dwTid = GetWindowThreadProcessId(hMain, &dwPid);
    std::string out = "{\"found\":true";
    out += ",\"enabled\":" + std::string(IsWindowEnabled(hMain) ? "true" : "false");
    out += ",\"rect\":" + ScreenRect(hMain);
    out += ",\"controls\":" + ChildrenJson(hMain);

    auto checked = [&](int id) {
        return Ask(GetDlgItem(hMain, id), BM_GETCHECK) == BST_CHECKED ? "true" : "false";
    };
    out += std::string(",\"builtin\":") + checked(1005) + ",\"speaker\":" + checked(1006) +
           ",\"wave\":" + checked(1007);
    out += ",\"slider\":" + std::to_string(Ask(GetDlgItem(hMain, 1000), TBM_GETPOS));
    out += ",\"readout\":" + Json(WindowText(GetDlgItem(hMain, 1011)));
    HWND hCombo = GetDlgItem(hMain, 100);
    LRESULT sel = Ask(hCombo, CB_GETCURSEL);
    std::wstring selText;
    if (sel >= 0) {
        wchar_t buf[64] = {};
        if (Ask(hCombo, CB_GETLBTEXTLEN, sel) < 63)
            SendMessageW(hCombo, CB_GETLBTEXT, sel, reinterpret_cast<LPARAM>(buf));
        selText = buf;
    }
    out += ",\"priority_index\":" + std::to_string(sel) + ",\"priority_text\":" +
           Json(Utf8(selText)) + ",\"combo_dropped\":" +
           (Ask(hCombo, CB_GETDROPPEDSTATE) == TRUE ? "true" : "false");

    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    int focusId = 0;
    if (GetGUIThreadInfo(dwTid, &gui) && gui.hwndFocus && GetParent(gui.hwndFocus) == hMain)
        focusId = GetDlgCtrlID(gui.hwndFocus);
    out += ",\"focus_id\":" + std::to_string(focusId);
    out += ",\"foreground\":" + std::string(GetForegroundWindow() == hMain ? "true" : "false");

    POINT lamp = kLampPixel;
    ClientToScreen(hMain, &lamp);
    HDC hScreen = GetDC(nullptr);
    COLORREF lampColor = GetPixel(hScreen, lamp.x, lamp.y);
    ReleaseDC(nullptr, hScreen);
    out += ",\"lamp\":" + ColorJson(lampColor);

    std::string dialogs;
    for (HWND h : ProcessDialogs(hMain, dwPid)) {
        if (!dialogs.empty())
            dialogs += ",";
        dialogs += DialogJson(h);
    }
    out += ",\"dialogs\":[" + dialogs + "]";

    HANDLE hProcess = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, dwPid);
    DWORD dwClass = hProcess ? GetPriorityClass(hProcess) : 0;
    out += ",\"priority_class\":" + std::to_string(dwClass);
    const ObjectCounts counts = CountObjects(hProcess, dwPid);
    out += ",\"gdi_objects\":" + CountJson(counts.nGdiObjects) +
           ",\"user_windows\":" + CountJson(counts.nWindows) +
           ",\"handles\":" + CountJson(counts.nHandles);
    if (hProcess)
        CloseHandle(hProcess);
    return out + "}";
}

} // namespace

int main() {
    char request[64];
    do {
        std::printf("%s\n", StateJson().c_str());
        std::fflush(stdout);
    } while (std::fgets(request, sizeof request, stdin));
    return 0;
}
