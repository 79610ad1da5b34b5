// Looks at a running Tickora from outside, as another program in the same Wine prefix:
// the end-to-end tests read from it what the screen, the controls and the system say.
//
//   tickora_probe state            one JSON object: the panel, its dialogs, its process
//   tickora_probe dismiss          presses OK on the process's message boxes (0: none open)
//
// Output goes to stdout; callers send it to a file (Wine keeps inherited pipes open).
// Window text is read in the wide form: across processes Wine's ANSI list-box text is cut.
#include <windows.h>

#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr char kMainTitle[] = "Tickora 1.0";
constexpr char kAboutTitle[] = "Yo yo yo! here's da 411...";
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
    return GetDlgItem(hWnd, kMessageBoxTextId) != nullptr && title != kAboutTitle &&
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
        out += "{\"id\":" + std::to_string(id) + ",\"class\":" + Json(ClassName(h)) +
               ",\"text\":" + Json(WindowText(h)) + ",\"rect\":" + ScreenRect(h) +
               ",\"visible\":" + (IsWindowVisible(h) ? "true" : "false") + "}";
    }
    return out + "]";
}

std::string DialogJson(HWND hWnd) {
    HWND hText = GetDlgItem(hWnd, kMessageBoxTextId);
    std::string title = WindowText(hWnd);
    const char* kind = title == kAboutTitle     ? "about"
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

// Object counts. Wine 8 stubs GetGuiResources (ERROR_CALL_NOT_IMPLEMENTED) and
// GetProcessHandleCount (always 0), so the counts are taken where Wine keeps the objects:
// GDI objects in the process's handle table that the PEB points to, kernel handles from the
// system handle list, and for USER objects the windows of the process (its menus, icons and
// cursors live in a table another process cannot see; an icon's bitmaps do count as GDI).
// A count that cannot be read is null.

// The layout of Wine's shared GDI handle table (include/ntgdi.h).
struct WineGdiHandleEntry {
    UINT64 Object;
    ULONG Owner;
    USHORT Unique;
    UCHAR Type;
    UCHAR Flags;
    UINT64 UserPointer;
};
static_assert(sizeof(WineGdiHandleEntry) == 24);
constexpr size_t kGdiMaxHandles = 0x10000;
#ifdef _WIN64
constexpr ULONG kPebGdiTableOffset = 0xF8;
#else
constexpr ULONG kPebGdiTableOffset = 0x94;
#endif

long CountGdiObjects(HANDLE hProcess) {
    using QueryFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"),
                                               "NtQueryInformationProcess")));
    struct {
        LONG ExitStatus;
        void* PebBaseAddress;
        ULONG_PTR AffinityMask;
        LONG BasePriority;
        ULONG_PTR UniqueProcessId;
        ULONG_PTR InheritedFromUniqueProcessId;
    } basic = {};
    if (!query || query(hProcess, 0 /* ProcessBasicInformation */, &basic, sizeof basic,
                        nullptr) != 0)
        return -1;
    ULONG_PTR table = 0;
    if (!ReadProcessMemory(hProcess, static_cast<char*>(basic.PebBaseAddress) + kPebGdiTableOffset,
                           &table, sizeof table, nullptr) ||
        table == 0)
        return -1;
    std::vector<WineGdiHandleEntry> entries(kGdiMaxHandles);
    if (!ReadProcessMemory(hProcess, reinterpret_cast<void*>(table),
                           entries.data(), entries.size() * sizeof entries[0], nullptr))
        return -1;
    long n = 0;
    for (const WineGdiHandleEntry& e : entries)
        n += e.Type != 0;
    return n;
}

// Also gives the count per object type (Wine's type numbers), to tell what a change is made of.
long CountKernelHandles(DWORD dwPid, std::string& types) {
    using QueryFn = LONG(WINAPI*)(int, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return -1;
    struct Entry {
        ULONG OwnerPid;
        BYTE ObjectType;
        BYTE HandleFlags;
        USHORT HandleValue;
        void* ObjectPointer;
        ULONG AccessMask;
    };
    std::vector<char> buf(1 << 20);
    for (int attempt = 0; attempt < 5; ++attempt) {
        ULONG needed = 0;
        LONG status = query(16 /* SystemHandleInformation */, buf.data(),
                            static_cast<ULONG>(buf.size()), &needed);
        if (status == static_cast<LONG>(0xC0000004) /* STATUS_INFO_LENGTH_MISMATCH */) {
            buf.resize(std::max<size_t>(needed, buf.size()) * 2);
            continue;
        }
        if (status != 0)
            return -1;
        ULONG count = *reinterpret_cast<ULONG*>(buf.data());
        auto* entries = reinterpret_cast<Entry*>(buf.data() + sizeof(ULONG_PTR));
        long n = 0;
        int perType[256] = {};
        for (ULONG i = 0; i < count; ++i) {
            if (entries[i].OwnerPid != dwPid)
                continue;
            ++n;
            ++perType[entries[i].ObjectType];
        }
        for (int t = 0; t < 256; ++t) {
            if (perType[t])
                types += (types.empty() ? "\"" : ",\"") + std::to_string(t) +
                         "\":" + std::to_string(perType[t]);
        }
        types = "{" + types + "}";
        return n;
    }
    return -1;
}

struct WindowCount {
    DWORD dwPid;
    long n;
};

BOOL CALLBACK CountChild(HWND, LPARAM lParam) {
    ++reinterpret_cast<WindowCount*>(lParam)->n;
    return TRUE;
}

BOOL CALLBACK CountTop(HWND hWnd, LPARAM lParam) {
    auto* pCount = reinterpret_cast<WindowCount*>(lParam);
    DWORD dwPid = 0;
    GetWindowThreadProcessId(hWnd, &dwPid);
    if (dwPid == pCount->dwPid) {
        ++pCount->n;
        EnumChildWindows(hWnd, CountChild, lParam);
    }
    return TRUE;
}

// Every window of the process, hidden ones (tooltips, IME) included.
long CountWindows(DWORD dwPid) {
    WindowCount count = {dwPid, 0};
    EnumWindows(CountTop, reinterpret_cast<LPARAM>(&count));
    return count.n;
}

std::string CountJson(long n) { return n < 0 ? std::string("null") : std::to_string(n); }

std::string StateJson() {
    HWND hMain = FindWindowA("#32770", kMainTitle);
    if (!hMain)
        return "{\"found\":false}";
    DWORD dwPid = 0;
    DWORD dwTid = GetWindowThreadProcessId(hMain, &dwPid);
    std::string out = "{\"found\":true,\"pid\":" + std::to_string(dwPid);
    out += ",\"enabled\":" + std::string(IsWindowEnabled(hMain) ? "true" : "false");
    out += ",\"rect\":" + ScreenRect(hMain);
    RECT client = {};
    GetClientRect(hMain, &client);
    POINT origin = {0, 0};
    ClientToScreen(hMain, &origin);
    out += ",\"client_origin\":[" + std::to_string(origin.x) + "," + std::to_string(origin.y) +
           "],\"client_size\":[" + std::to_string(client.right) + "," +
           std::to_string(client.bottom) + "]";
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
    out += ",\"lamp_xy\":[" + std::to_string(lamp.x) + "," + std::to_string(lamp.y) +
           "],\"lamp\":" + ColorJson(lampColor);

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
    std::string types;
    long nHandles = CountKernelHandles(dwPid, types);
    out += ",\"gdi_objects\":" + CountJson(hProcess ? CountGdiObjects(hProcess) : -1) +
           ",\"user_windows\":" + CountJson(CountWindows(dwPid)) +
           ",\"handles\":" + CountJson(nHandles) +
           ",\"handle_types\":" + (types.empty() ? std::string("null") : types);
    PROCESS_MEMORY_COUNTERS mem = {};
    mem.cb = sizeof mem;
    if (hProcess && GetProcessMemoryInfo(hProcess, &mem, sizeof mem))
        out += ",\"working_set\":" + std::to_string(mem.WorkingSetSize);
    if (hProcess)
        CloseHandle(hProcess);
    return out + "}";
}

// Presses the OK button of the process's message box the way a click does.
std::string Dismiss() {
    HWND hMain = FindWindowA("#32770", kMainTitle);
    if (!hMain)
        return "{\"dismissed\":0}";
    DWORD dwPid = 0;
    GetWindowThreadProcessId(hMain, &dwPid);
    int n = 0;
    for (HWND h : ProcessDialogs(hMain, dwPid)) {
        if (!IsMessageBox(h))
            continue;
        PostMessageA(h, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(h, IDOK)));
        ++n;
    }
    return "{\"dismissed\":" + std::to_string(n) + "}";
}

std::string Run(const std::string& command) {
    if (command == "state")
        return StateJson();
    if (command == "dismiss")
        return Dismiss();
    return "{\"error\":" + Json("unknown command: " + command) + "}";
}

} // namespace

int main(int argc, char** argv) {
    std::printf("%s\n", Run(argc > 1 ? argv[1] : "state").c_str());
    return 0;
}
