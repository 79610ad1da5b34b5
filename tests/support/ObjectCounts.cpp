#include "ObjectCounts.h"

#include <algorithm>
#include <vector>

// Wine 8 stubs GetGuiResources (ERROR_CALL_NOT_IMPLEMENTED) and GetProcessHandleCount (always
// 0), so the counts are taken where Wine keeps the objects: GDI objects in the process's handle
// table that the PEB points to, kernel handles from the system handle list, and for USER
// objects the windows of the process (its menus, icons and cursors live in a table another
// process cannot see; an icon's bitmaps do count as GDI).

namespace {

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

FARPROC NtdllEntry(const char* pszName) {
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), pszName);
}

long CountGdiObjects(HANDLE hProcess) {
    using QueryFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(NtdllEntry("NtQueryInformationProcess")));
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
    if (!ReadProcessMemory(hProcess, reinterpret_cast<void*>(table), entries.data(),
                           entries.size() * sizeof entries[0], nullptr))
        return -1;
    long n = 0;
    for (const WineGdiHandleEntry& e : entries)
        n += e.Type != 0;
    return n;
}

long CountKernelHandles(DWORD dwPid) {
    using QueryFn = LONG(WINAPI*)(int, void*, ULONG, ULONG*);
    auto query =
        reinterpret_cast<QueryFn>(reinterpret_cast<void*>(NtdllEntry("NtQuerySystemInformation")));
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
        for (ULONG i = 0; i < count; ++i)
            n += entries[i].OwnerPid == dwPid;
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

long CountWindows(DWORD dwPid) {
    WindowCount count = {dwPid, 0};
    EnumWindows(CountTop, reinterpret_cast<LPARAM>(&count));
    return count.n;
}

} // namespace

ObjectCounts CountObjects(HANDLE hProcess, DWORD dwPid) {
    ObjectCounts counts;
    counts.nGdiObjects = hProcess ? CountGdiObjects(hProcess) : -1;
    counts.nWindows = CountWindows(dwPid);
    counts.nHandles = CountKernelHandles(dwPid);
    return counts;
}
