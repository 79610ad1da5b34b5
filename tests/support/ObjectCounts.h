// The objects a process holds, counted where Wine 8 keeps them: shared by the in-process tests
// and the end-to-end probe, so that a leak shows at either level.
#pragma once

#include <windows.h>

struct ObjectCounts {
    long nGdiObjects = -1; // -1: cannot be read
    long nWindows = -1;    // every window of the process, hidden ones included
    long nHandles = -1;    // kernel handles

    bool operator==(const ObjectCounts& o) const {
        return nGdiObjects == o.nGdiObjects && nWindows == o.nWindows && nHandles == o.nHandles;
    }
    bool operator!=(const ObjectCounts& o) const { return !(*this == o); }
};

// hProcess needs PROCESS_QUERY_INFORMATION and PROCESS_VM_READ; GetCurrentProcess() has both.
ObjectCounts CountObjects(HANDLE hProcess, DWORD dwPid);
