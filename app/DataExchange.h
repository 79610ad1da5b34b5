// Data exchange between a dialog's controls and its members, in either direction.
#pragma once

#include <windows.h>

#include <atomic>

class CDialog;
class CWnd;

class CDataExchange {
public:
    CDataExchange(CDialog& dlg, bool bSaveAndValidate)
        : m_dlg(dlg), m_bSaveAndValidate(bSaveAndValidate) {}

    CDialog& m_dlg;
    const bool m_bSaveAndValidate; // true: controls to members
};

// Binds control nID to a control object (both directions; binding is idempotent).
void DDX_Control(CDataExchange& dx, int nID, CWnd& control);

// Exchanges the index of the checked button of the radio group that starts at nIDFirst;
// -1 when none is checked.
void DDX_Radio(CDataExchange& dx, int nIDFirst, int& nValue);
// The same for a member that another thread reads.
void DDX_Radio(CDataExchange& dx, int nIDFirst, std::atomic<int>& nValue);
