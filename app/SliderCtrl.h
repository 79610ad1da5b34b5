// CSliderCtrl: the trackbar, driven by its window messages.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include "Wnd.h"

class CSliderCtrl : public CWnd {
public:
    void SetRange(int nMin, int nMax, BOOL bRedraw = FALSE) const {
        Send(TBM_SETRANGEMIN, FALSE, nMin);
        Send(TBM_SETRANGEMAX, bRedraw, nMax);
    }
    int GetPos() const { return static_cast<int>(Send(TBM_GETPOS)); }
    void SetPos(int nPos, BOOL bRedraw = TRUE) const { Send(TBM_SETPOS, bRedraw, nPos); }
    void SetTicFreq(int nFreq) const { Send(TBM_SETTICFREQ, nFreq); }
    void SetLineSize(int nSize) const { Send(TBM_SETLINESIZE, 0, nSize); }
    void SetPageSize(int nSize) const { Send(TBM_SETPAGESIZE, 0, nSize); }
};
