#include "MessageBox.h"

#include "String.h"
#include "WinApp.h"

int MessageBoxFromString(UINT nIDPrompt) {
    CString strText;
    strText.LoadString(nIDPrompt);
    return MessageBoxA(AppMainWindowHandle(), strText, AppTitle(), MB_OK);
}
