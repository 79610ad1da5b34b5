// Access to the program's own resources.
#pragma once

#include <windows.h>

// The module that holds the resources: the executable itself.
HINSTANCE ResourceModule();

// Loads an icon group of the program (shared handle: never destroy it).
HICON LoadAppIcon(UINT nID);

// A resource of a custom type, loaded for the life of the object; Data() is null when the
// resource is missing or cannot be loaded.
class CCustomResource {
public:
    CCustomResource(UINT nID, const char* pszType);
    ~CCustomResource();
    CCustomResource(const CCustomResource&) = delete;
    CCustomResource& operator=(const CCustomResource&) = delete;

    const void* Data() const { return m_pData; }
    DWORD Size() const { return m_cbData; }

private:
    HGLOBAL m_hResource = nullptr;
    const void* m_pData = nullptr;
    DWORD m_cbData = 0;
};
