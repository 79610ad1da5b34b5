#include "FileDialog.h"

#include <commdlg.h>

#include <string>

#include "WinApp.h"

namespace {

using GetFileNameFn = BOOL(WINAPI*)(LPOPENFILENAMEA);

// comdlg32 drags shell32 and more into the process; loading it when the dialog is first
// needed keeps it off the program's start-up.
GetFileNameFn CommonDialogFunction(const char* pszName) {
    static HMODULE s_hComDlg = LoadLibraryA("comdlg32.dll");
    return s_hComDlg ? reinterpret_cast<GetFileNameFn>(
                           reinterpret_cast<void*>(GetProcAddress(s_hComDlg, pszName)))
                     : nullptr;
}

} // namespace

CFileDialog::CFileDialog(BOOL bOpenFileDialog, const char* pszDefExt, const char* pszFileName,
                         DWORD dwFlags, const char* pszFilter, HWND hOwner)
    : m_bOpenFileDialog(bOpenFileDialog), m_strDefExt(pszDefExt), m_dwFlags(dwFlags),
      m_hOwner(hOwner) {
    if (pszFileName)
        lstrcpynA(m_szFile, pszFileName, sizeof m_szFile);
    m_strFilter = pszFilter;
}

INT_PTR CFileDialog::DoModal() {
    std::string filter = m_strFilter.GetString();
    for (char& c : filter)
        if (c == '|')
            c = '\0';

    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = m_hOwner ? m_hOwner : AppMainWindowHandle();
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = m_szFile;
    ofn.nMaxFile = sizeof m_szFile;
    ofn.lpstrDefExt = m_strDefExt.IsEmpty() ? nullptr : m_strDefExt.GetString();
    ofn.Flags = m_dwFlags | OFN_EXPLORER;
    GetFileNameFn pfnRun =
        CommonDialogFunction(m_bOpenFileDialog ? "GetOpenFileNameA" : "GetSaveFileNameA");
    // The dialog makes the chosen file's folder the current directory, and the process would
    // hold that folder open for the rest of its run: it could not be deleted, nor its USB stick
    // removed. Open dialogs ignore OFN_NOCHANGEDIR, so the directory is put back here.
    char szCurrentDir[MAX_PATH];
    DWORD cchCurrentDir = GetCurrentDirectoryA(sizeof szCurrentDir, szCurrentDir);
    BOOL bConfirmed = pfnRun && pfnRun(&ofn);
    if (cchCurrentDir != 0 && cchCurrentDir < sizeof szCurrentDir)
        SetCurrentDirectoryA(szCurrentDir);
    return bConfirmed ? IDOK : IDCANCEL;
}
