// CFileDialog: the system's file-open dialog.
#pragma once

#include <windows.h>

#include "String.h"

class CFileDialog {
public:
    // pszFilter: description|pattern pairs separated by "|" and ended by "||".
    // Without an owner, the application's main window owns the dialog.
    CFileDialog(BOOL bOpenFileDialog, const char* pszDefExt, const char* pszFileName,
                DWORD dwFlags, const char* pszFilter, HWND hOwner = nullptr);

    INT_PTR DoModal(); // IDOK when the user confirmed, IDCANCEL otherwise
    CString GetPathName() const { return CString(m_szFile); }

private:
    BOOL m_bOpenFileDialog;
    CString m_strDefExt;
    CString m_strFilter; // "|" turned into the NUL separators the system expects
    DWORD m_dwFlags;
    HWND m_hOwner;
    char m_szFile[MAX_PATH] = "";
};
