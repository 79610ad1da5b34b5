// Ownership of drawing contexts and icons in the type: move-only, released on scope exit.
#pragma once

#include <windows.h>

#include <utility>

// A drawing context on a window's client area, usable outside WM_PAINT.
class CClientDC {
public:
    explicit CClientDC(HWND hWnd) : m_hWnd(hWnd), m_hDC(GetDC(hWnd)) {}
    ~CClientDC() {
        if (m_hDC)
            ReleaseDC(m_hWnd, m_hDC);
    }
    CClientDC(CClientDC&& other) noexcept
        : m_hWnd(other.m_hWnd), m_hDC(std::exchange(other.m_hDC, nullptr)) {}
    CClientDC(const CClientDC&) = delete;
    CClientDC& operator=(const CClientDC&) = delete;
    CClientDC& operator=(CClientDC&&) = delete;

    HDC GetSafeHdc() const { return m_hDC; }

private:
    HWND m_hWnd;
    HDC m_hDC;
};

// The painting context of WM_PAINT.
class CPaintDC {
public:
    explicit CPaintDC(HWND hWnd) : m_hWnd(hWnd) { m_hDC = BeginPaint(hWnd, &m_ps); }
    ~CPaintDC() {
        if (m_hWnd)
            EndPaint(m_hWnd, &m_ps);
    }
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    HDC GetSafeHdc() const { return m_hDC; }

private:
    HWND m_hWnd;
    PAINTSTRUCT m_ps = {};
    HDC m_hDC = nullptr;
};

// An owned handle freed by Free; never wrap a shared handle such as LoadIcon's.
template <class Handle, auto Free> class CUniqueHandle {
public:
    explicit CUniqueHandle(Handle h = nullptr) : m_h(h) {}
    ~CUniqueHandle() {
        if (m_h)
            Free(m_h);
    }
    CUniqueHandle(CUniqueHandle&& other) noexcept : m_h(std::exchange(other.m_h, nullptr)) {}
    CUniqueHandle& operator=(CUniqueHandle&& other) noexcept {
        std::swap(m_h, other.m_h);
        return *this;
    }
    CUniqueHandle(const CUniqueHandle&) = delete;
    CUniqueHandle& operator=(const CUniqueHandle&) = delete;

    Handle get() const { return m_h; }
    explicit operator bool() const { return m_h != nullptr; }

private:
    Handle m_h;
};

using CUniqueIcon = CUniqueHandle<HICON, &DestroyIcon>;
