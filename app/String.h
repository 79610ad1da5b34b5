// CString: the dynamic character string of the framework layer (ANSI text).
#pragma once

#include <windows.h>

#include <string>

class CString {
public:
    CString() = default;
    CString(const char* psz) : m_str(psz ? psz : "") {}

    CString& operator=(const char* psz);
    operator const char*() const { return m_str.c_str(); }
    const char* GetString() const { return m_str.c_str(); }
    bool IsEmpty() const { return m_str.empty(); }

    // Loads a string-table entry of the program's resources; FALSE when missing.
    BOOL LoadString(UINT nID);

private:
    std::string m_str;
};
