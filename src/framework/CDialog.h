#pragma once
#include <windows.h>

#include "framework/CWnd.h"
#include "framework/DataExchange.h"

// A modeless dialog made from a dialog template resource.
class CDialog : public CWnd {
public:
    CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    // Makes the dialog's window (shown if the template says so) and runs
    // OnInitDialog. FALSE if the window could not be made; if it was made and
    // destroyed during creation, PostNcDestroy has run already.
    BOOL Create(UINT nIDTemplate, CWnd* pParentWnd = nullptr);

    // TRUE: controls to members, with validation; FALSE: members to controls.
    // Returns FALSE when a field was refused.
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    // Fills the lists from the dialog's initialisation data, then loads the
    // members into the controls. The focus goes to the first tab stop on TRUE.
    virtual BOOL OnInitDialog();

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    // The cancel command (IDCANCEL: the Cancel button, Esc, the caption's
    // close). A modeless dialog closes its window.
    virtual void OnCancel();

    // Sends the strings of the initialisation data to their lists. TRUE when
    // there is no such data or all of it was well formed.
    BOOL ExecuteDlgInit(LPCSTR lpszResourceName);

    LPCSTR m_lpszTemplateName;
    CWnd* m_pParentWnd;

    DECLARE_MESSAGE_MAP()

private:
    friend INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
};

INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
