// CDialog: a modal dialog built from a template, run by a modal loop of our own so that
// every message of the thread passes through a virtual pre-translation first.
#pragma once

#include <windows.h>

#include "MessageMap.h"
#include "Wnd.h"

class CDataExchange;

class CDialog : public CWnd {
public:
    // Without a parent, the application's main window owns the dialog.
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    // Creates the window, runs until EndDialog and returns the id that ended it
    // (-1 if the window could not be created).
    virtual INT_PTR DoModal();
    void EndDialog(int nResult);
    // Whether EndDialog has been called in this run: the window goes as soon as the loop sees it.
    bool IsEnding() const { return m_bEndModal; }

    // Sees every message of the thread during the modal run; TRUE means consumed.
    virtual BOOL PreTranslateMessage(MSG* pMsg);

    // Runs the data exchange: save = TRUE refreshes the members from the controls.
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    HWND GetDlgItem(int nID) const;
    void SetDlgItemText(int nID, const char* pszText) const;

protected:
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange& dx);
    virtual void OnOK();
    virtual void OnCancel();
    // Notification after the window has been destroyed.
    virtual void PostNcDestroy() {}
    virtual MessageMap GetMessageMap() const { return {}; }

    // Default processing of the message being handled; a handler calls it to pass on.
    LRESULT Default();

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    INT_PTR OnDialogMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);
    BOOL HandleCloseCommands(UINT uMsg, WPARAM wParam);
    void RunModalLoop();
    HWND OwnerWindow() const;

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;
    int m_nModalResult = -1;
    bool m_bEndModal = false;
    MSG m_msgCurrent = {};
};
