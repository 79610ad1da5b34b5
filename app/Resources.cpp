#include "Resources.h"

HINSTANCE ResourceModule() { return GetModuleHandleA(nullptr); }

HICON LoadAppIcon(UINT nID) { return LoadIconA(ResourceModule(), MAKEINTRESOURCEA(nID)); }

// Only the low 16 bits of the id name the resource.
CCustomResource::CCustomResource(UINT nID, const char* pszType) {
    HMODULE hModule = ResourceModule();
    HRSRC hInfo = FindResourceA(hModule, MAKEINTRESOURCEA(LOWORD(nID)), pszType);
    if (!hInfo || !(m_hResource = LoadResource(hModule, hInfo)))
        return;
    m_pData = LockResource(m_hResource);
    m_cbData = SizeofResource(hModule, hInfo);
}

CCustomResource::~CCustomResource() {
    if (m_hResource)
        FreeResource(m_hResource);
}
