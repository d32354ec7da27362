#pragma once
#include <windows.h>

#include <string>

class CWnd;

// What a data exchange reads and writes: a dialog's controls in the program,
// a table of values in tests. It also tells the user about a refused field.
class CExchangeControls {
public:
    virtual ~CExchangeControls() {}
    virtual int GetCheck(int nIDC) = 0;
    virtual void SetCheck(int nIDC, int nState) = 0;
    virtual int GetCurSel(int nIDC) = 0;   // -1: no selection
    virtual void SetCurSel(int nIDC, int nIndex) = 0;
    virtual std::string GetText(int nIDC) = 0;
    virtual void SetText(int nIDC, const char* text) = 0;
    // Shows why a field was refused.
    virtual void ReportError(const char* message) = 0;
    // Puts the keyboard focus into the field; an edit's text is selected.
    virtual void FocusField(int nIDC, bool bEdit) = 0;
};

// One exchange between a dialog's members and its controls, in one direction.
// A refused field marks the exchange failed; every later step does nothing.
class CDataExchange {
public:
    // Exchange with the dialog's own controls.
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate);
    // Exchange with other controls (the test tables).
    CDataExchange(CExchangeControls* pControls, BOOL bSaveAndValidate);
    CDataExchange(const CDataExchange&) = delete;
    CDataExchange& operator=(const CDataExchange&) = delete;

    // Records the control that the next steps act on and that a failure points to.
    void PrepareCtrl(int nIDC);
    void PrepareEditCtrl(int nIDC);
    // Reports the message, puts the focus into the last prepared control and
    // stops the exchange.
    void Fail(const char* message);
    bool Failed() const { return m_bFailed; }
    CExchangeControls& Controls() { return *m_pControls; }

    BOOL m_bSaveAndValidate;   // TRUE: controls to members
    CWnd* m_pDlgWnd;           // null when exchanging with other controls

private:
    class DialogControls : public CExchangeControls {
    public:
        explicit DialogControls(CWnd* pDlgWnd) : m_pDlgWnd(pDlgWnd) {}
        int GetCheck(int nIDC) override;
        void SetCheck(int nIDC, int nState) override;
        int GetCurSel(int nIDC) override;
        void SetCurSel(int nIDC, int nIndex) override;
        std::string GetText(int nIDC) override;
        void SetText(int nIDC, const char* text) override;
        void ReportError(const char* message) override;
        void FocusField(int nIDC, bool bEdit) override;

    private:
        HWND Control(int nIDC) const;
        CWnd* m_pDlgWnd;
    };

    DialogControls m_dialogControls;
    CExchangeControls* m_pControls;
    int m_idLastControl;
    bool m_bEditLastControl;
    bool m_bFailed;
};

// Messages for refused fields.
extern const char kAfxParseUIntMessage[];   // "Please enter an unsigned integer."
std::string AfxRangeMessage(UINT minVal, UINT maxVal);   // "Please enter an integer between 0 and 24."

// Reads an unsigned decimal number of at most 32 bits: one or more digits and
// nothing else (no sign, no spaces). Returns false, leaving *value alone, otherwise.
bool AfxParseUInt(const char* text, UINT* value);

// Check box state: 0 clear, 1 checked (2 indeterminate).
void DDX_Check(CDataExchange* pDX, int nIDC, int& value);
// Selected index of a combo box; -1 for none.
void DDX_CBIndex(CDataExchange* pDX, int nIDC, int& index);
// Unsigned decimal text of an edit.
void DDX_Text(CDataExchange* pDX, int nIDC, UINT& value);
// In the save direction, refuses a value outside minVal..maxVal; the failure
// points to the control last prepared.
void DDV_MinMaxUInt(CDataExchange* pDX, UINT value, UINT minVal, UINT maxVal);
