// Message maps: a static table per dialog class that routes a window message, or a
// control id with its notification, to a member function. Each entry is built by a small
// template that knows the handler's argument shape, so a wrong signature fails to compile.
#pragma once

#include <windows.h>

#include <span>
#include <type_traits>

class CDialog;

using MessageThunk = LRESULT (*)(CDialog& dlg, WPARAM wParam, LPARAM lParam);

struct MessageEntry {
    UINT uMessage;
    UINT nId;   // WM_COMMAND only: the control id
    UINT nCode; // WM_COMMAND only: the notification code
    MessageThunk pfnThunk;
};

using MessageMap = std::span<const MessageEntry>;

namespace detail {

template <class> struct MemberOf;
template <class T, class R, class... A> struct MemberOf<R (T::*)(A...)> {
    using Class = T;
    using Result = R;
};

template <auto Handler> auto& Target(CDialog& dlg) {
    return static_cast<typename MemberOf<decltype(Handler)>::Class&>(dlg);
}

template <class R> LRESULT ToResult(R value) {
    if constexpr (std::is_pointer_v<R>)
        return reinterpret_cast<LRESULT>(value);
    else
        return static_cast<LRESULT>(value);
}

// void Handler() or R Handler(), for messages whose parameters the handler ignores.
template <auto Handler> LRESULT NoArgs(CDialog& dlg, WPARAM, LPARAM) {
    using R = typename MemberOf<decltype(Handler)>::Result;
    if constexpr (std::is_void_v<R>) {
        (Target<Handler>(dlg).*Handler)();
        return 0;
    } else {
        return ToResult((Target<Handler>(dlg).*Handler)());
    }
}

// void Handler(UINT nSBCode, UINT nPos, HWND hScrollBar)
template <auto Handler> LRESULT Scroll(CDialog& dlg, WPARAM wParam, LPARAM lParam) {
    (Target<Handler>(dlg).*Handler)(LOWORD(wParam), HIWORD(wParam),
                                    reinterpret_cast<HWND>(lParam));
    return 0;
}

// void Handler(UINT nID, LPARAM lParam)
template <auto Handler> LRESULT SysCommand(CDialog& dlg, WPARAM wParam, LPARAM lParam) {
    (Target<Handler>(dlg).*Handler)(static_cast<UINT>(wParam), lParam);
    return 0;
}

// LRESULT Handler(WPARAM, LPARAM), for the program's private messages.
template <auto Handler> LRESULT Raw(CDialog& dlg, WPARAM wParam, LPARAM lParam) {
    return (Target<Handler>(dlg).*Handler)(wParam, lParam);
}

} // namespace detail

template <auto Handler> constexpr MessageEntry MapMessage(UINT uMessage) {
    return {uMessage, 0, 0, &detail::NoArgs<Handler>};
}

template <auto Handler> constexpr MessageEntry MapCommand(UINT nId, UINT nCode) {
    return {WM_COMMAND, nId, nCode, &detail::NoArgs<Handler>};
}

template <auto Handler> constexpr MessageEntry MapHScroll() {
    return {WM_HSCROLL, 0, 0, &detail::Scroll<Handler>};
}

template <auto Handler> constexpr MessageEntry MapSysCommand() {
    return {WM_SYSCOMMAND, 0, 0, &detail::SysCommand<Handler>};
}

template <auto Handler> constexpr MessageEntry MapRawMessage(UINT uMessage) {
    return {uMessage, 0, 0, &detail::Raw<Handler>};
}

// The entry that handles this message, or null for default processing.
const MessageEntry* FindMessageEntry(MessageMap map, UINT uMessage, WPARAM wParam);
