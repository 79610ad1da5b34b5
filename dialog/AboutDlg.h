// CAboutDlg: the About box, made by its template; it only frees its picture when it closes.
#pragma once

#include "Dialog.h"

class CAboutDlg : public CDialog {
public:
    CAboutDlg();

protected:
    MessageMap GetMessageMap() const override;

private:
    void OnDestroy();
};
