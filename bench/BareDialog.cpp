// The smallest program of Tickora's kind: one modal dialog from a template, nothing else.
// The end-to-end benchmark compares Tickora's start-up with this one's under the same Wine.
#include <windows.h>

namespace {

constexpr int kBareDialogId = 100; // the template in bare_dialog.rc

INT_PTR CALLBACK BareDialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM) {
    switch (uMsg) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(hWnd, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    DialogBoxParamA(hInstance, MAKEINTRESOURCEA(kBareDialogId), nullptr, BareDialogProc, 0);
    return 0;
}
