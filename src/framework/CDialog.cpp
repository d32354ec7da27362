#include "framework/CDialog.h"

#include <vector>

#include "framework/CWinApp.h"
#include "framework/DlgInit.h"

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_lpszTemplateName(MAKEINTRESOURCEA(nIDTemplate)), m_pParentWnd(pParentWnd)
{
}

CDialog::~CDialog() {}

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd)
{
    m_lpszTemplateName = MAKEINTRESOURCEA(nIDTemplate);
    m_pParentWnd = pParentWnd;
    HINSTANCE instance = AfxFindResourceHandle(m_lpszTemplateName, RT_DIALOG);
    HWND parent = pParentWnd ? pParentWnd->m_hWnd : nullptr;
    HWND hWnd = CreateDialogParamA(instance, m_lpszTemplateName, parent, &AfxDlgProc,
                                   reinterpret_cast<LPARAM>(this));
    return hWnd != nullptr;
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return dx.Failed() ? FALSE : TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::ExecuteDlgInit(LPCSTR lpszResourceName)
{
    HINSTANCE instance = AfxFindResourceHandle(lpszResourceName, MAKEINTRESOURCEA(kDlgInitResourceType));
    HRSRC resource = FindResourceA(instance, lpszResourceName, MAKEINTRESOURCEA(kDlgInitResourceType));
    if (!resource)
        return TRUE;
    HGLOBAL loaded = LoadResource(instance, resource);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data)
        return FALSE;
    std::vector<DlgInitItem> items;
    if (!ParseDlgInit(data, SizeofResource(instance, resource), &items))
        return FALSE;
    for (const DlgInitItem& item : items)
        SendDlgItemMessageA(m_hWnd, item.controlId, item.message, 0,
                            reinterpret_cast<LPARAM>(item.text.c_str()));
    return TRUE;
}

BOOL CDialog::OnInitDialog()
{
    ExecuteDlgInit(m_lpszTemplateName);
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnCancel()
{
    DestroyWindow();
}

INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM, LPARAM lParam)
{
    // Every other message reaches the object through AfxWndProc; here the
    // dialog manager's default handling follows.
    if (message != WM_INITDIALOG)
        return FALSE;

    CDialog* dialog = reinterpret_cast<CDialog*>(lParam);
    dialog->SubclassAttach(hWnd);

    RECT before;
    GetWindowRect(hWnd, &before);
    const BOOL setDefaultFocus = dialog->OnInitDialog();
    // A top-level dialog that OnInitDialog did not move opens centred.
    RECT after;
    if (IsWindow(hWnd) && !(GetWindowLongA(hWnd, GWL_STYLE) & WS_CHILD) &&
        GetWindowRect(hWnd, &after) && EqualRect(&before, &after))
        dialog->CenterWindow();
    return setDefaultFocus;
}
