#include "String.h"

#include "Resources.h"

CString& CString::operator=(const char* psz) {
    m_str = psz ? psz : "";
    return *this;
}

BOOL CString::LoadString(UINT nID) {
    // LoadStringA cannot report the length of longer strings, so use a generous buffer.
    char buffer[1024];
    int nLength = ::LoadStringA(ResourceModule(), nID, buffer, sizeof buffer);
    m_str.assign(buffer, nLength > 0 ? nLength : 0);
    return nLength > 0;
}
