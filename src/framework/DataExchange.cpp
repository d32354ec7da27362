#include "framework/DataExchange.h"

#include <cstdio>
#include <vector>

#include "framework/CWnd.h"
#include "framework/MessageBox.h"

const char kAfxParseUIntMessage[] = "Please enter an unsigned integer.";

std::string AfxRangeMessage(UINT minVal, UINT maxVal)
{
    char text[80];
    std::snprintf(text, sizeof text, "Please enter an integer between %u and %u.", minVal, maxVal);
    return text;
}

bool AfxParseUInt(const char* text, UINT* value)
{
    if (!text || !*text)
        return false;
    unsigned long long number = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        number = number * 10 + static_cast<unsigned>(*p - '0');
        if (number > 0xFFFFFFFFull)
            return false;
    }
    *value = static_cast<UINT>(number);
    return true;
}

// --- The dialog's own controls ---------------------------------------------

HWND CDataExchange::DialogControls::Control(int nIDC) const
{
    return ::GetDlgItem(m_pDlgWnd->m_hWnd, nIDC);
}

int CDataExchange::DialogControls::GetCheck(int nIDC)
{
    return static_cast<int>(SendMessageA(Control(nIDC), BM_GETCHECK, 0, 0));
}

void CDataExchange::DialogControls::SetCheck(int nIDC, int nState)
{
    SendMessageA(Control(nIDC), BM_SETCHECK, static_cast<WPARAM>(nState), 0);
}

int CDataExchange::DialogControls::GetCurSel(int nIDC)
{
    return static_cast<int>(SendMessageA(Control(nIDC), CB_GETCURSEL, 0, 0));
}

void CDataExchange::DialogControls::SetCurSel(int nIDC, int nIndex)
{
    SendMessageA(Control(nIDC), CB_SETCURSEL, static_cast<WPARAM>(nIndex), 0);
}

std::string CDataExchange::DialogControls::GetText(int nIDC)
{
    HWND control = Control(nIDC);
    const int length = GetWindowTextLengthA(control);
    if (length <= 0)
        return std::string();
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    const int got = GetWindowTextA(control, buffer.data(), length + 1);
    return std::string(buffer.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

void CDataExchange::DialogControls::SetText(int nIDC, const char* text)
{
    SetWindowTextA(Control(nIDC), text);
}

void CDataExchange::DialogControls::ReportError(const char* message)
{
    AfxMessageBox(message, MB_OK | MB_ICONEXCLAMATION);
}

void CDataExchange::DialogControls::FocusField(int nIDC, bool bEdit)
{
    HWND control = Control(nIDC);
    if (!control)
        return;
    // Through the dialog manager, so that the default button follows the focus.
    SendMessageA(m_pDlgWnd->m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
    if (bEdit)
        SendMessageA(control, EM_SETSEL, 0, -1);
}

// --- The exchange -----------------------------------------------------------

CDataExchange::CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
    : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd), m_dialogControls(pDlgWnd),
      m_pControls(&m_dialogControls), m_idLastControl(0), m_bEditLastControl(false),
      m_bFailed(false)
{
}

CDataExchange::CDataExchange(CExchangeControls* pControls, BOOL bSaveAndValidate)
    : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(nullptr), m_dialogControls(nullptr),
      m_pControls(pControls), m_idLastControl(0), m_bEditLastControl(false), m_bFailed(false)
{
}

void CDataExchange::PrepareCtrl(int nIDC)
{
    m_idLastControl = nIDC;
    m_bEditLastControl = false;
}

void CDataExchange::PrepareEditCtrl(int nIDC)
{
    m_idLastControl = nIDC;
    m_bEditLastControl = true;
}

void CDataExchange::Fail(const char* message)
{
    if (m_bFailed)
        return;
    m_bFailed = true;
    m_pControls->ReportError(message);
    m_pControls->FocusField(m_idLastControl, m_bEditLastControl);
}

// --- Exchange and validation steps -----------------------------------------

void DDX_Check(CDataExchange* pDX, int nIDC, int& value)
{
    if (pDX->Failed())
        return;
    pDX->PrepareCtrl(nIDC);
    if (pDX->m_bSaveAndValidate)
        value = pDX->Controls().GetCheck(nIDC);
    else
        pDX->Controls().SetCheck(nIDC, value);
}

void DDX_CBIndex(CDataExchange* pDX, int nIDC, int& index)
{
    if (pDX->Failed())
        return;
    pDX->PrepareCtrl(nIDC);
    if (pDX->m_bSaveAndValidate)
        index = pDX->Controls().GetCurSel(nIDC);
    else
        pDX->Controls().SetCurSel(nIDC, index);
}

void DDX_Text(CDataExchange* pDX, int nIDC, UINT& value)
{
    if (pDX->Failed())
        return;
    pDX->PrepareEditCtrl(nIDC);
    if (pDX->m_bSaveAndValidate) {
        const std::string text = pDX->Controls().GetText(nIDC);
        if (!AfxParseUInt(text.c_str(), &value))
            pDX->Fail(kAfxParseUIntMessage);
    } else {
        char text[16];
        std::snprintf(text, sizeof text, "%u", value);
        pDX->Controls().SetText(nIDC, text);
    }
}

void DDV_MinMaxUInt(CDataExchange* pDX, UINT value, UINT minVal, UINT maxVal)
{
    if (pDX->Failed() || !pDX->m_bSaveAndValidate)
        return;
    if (value < minVal || value > maxVal)
        pDX->Fail(AfxRangeMessage(minVal, maxVal).c_str());
}
