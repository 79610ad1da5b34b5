// A lock for threads of this process, usable with std::unique_lock and std::lock_guard.
#pragma once

#include <windows.h>

// Over a critical section rather than std::mutex: this runtime's std::mutex makes a kernel
// event the first time two threads meet at it, at a moment nobody can foresee. A critical
// section makes none when contended, under Wine and on Vista and later; on XP the high bit
// below has its event made here, at once.
class CCriticalSection {
public:
    CCriticalSection() {
        if (!InitializeCriticalSectionAndSpinCount(&m_cs, kMakeEventNow))
            InitializeCriticalSection(&m_cs);
    }
    ~CCriticalSection() { DeleteCriticalSection(&m_cs); }
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    void lock() { EnterCriticalSection(&m_cs); }
    void unlock() { LeaveCriticalSection(&m_cs); }

private:
    static constexpr DWORD kMakeEventNow = 0x80000000;
    CRITICAL_SECTION m_cs;
};
