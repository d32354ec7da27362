#include "framework/CWinApp.h"

#include <cstring>

#include "framework/CWnd.h"

namespace {

CWinApp* g_pApp = nullptr;

std::string ModuleTitle()
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::string();
    return AfxTitleFromModulePath(path);
}

} // namespace

std::string AfxTitleFromModulePath(const char* path)
{
    const char* name = path;
    for (const char* p = path; *p; ++p) {
        if (*p == '\\' || *p == '/' || *p == ':')
            name = p + 1;
    }
    const char* dot = std::strrchr(name, '.');
    return dot ? std::string(name, dot) : std::string(name);
}

CWinApp::CWinApp(const char* pszAppName)
    : m_pMainWnd(nullptr), m_pszAppName(nullptr), m_lpCmdLine(""), m_nExitCode(0), m_appName(pszAppName ? pszAppName : ModuleTitle()),
      m_msgCur()
{
    m_pszAppName = m_appName.c_str();
    g_pApp = this;
}

CWinApp::~CWinApp()
{
    if (g_pApp == this)
        g_pApp = nullptr;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

BOOL CWinApp::Enable3dControls()
{
    return TRUE;
}

HICON CWinApp::LoadIcon(UINT nIDResource) const
{
    LPCSTR name = MAKEINTRESOURCEA(nIDResource);
    return ::LoadIconA(AfxFindResourceHandle(name, RT_GROUP_ICON), name);
}

BOOL CWinApp::PreTranslateMessage(MSG* pMsg)
{
    if (!m_pMainWnd || !m_pMainWnd->m_hWnd)
        return FALSE;
    return IsDialogMessageA(m_pMainWnd->m_hWnd, pMsg);
}

int CWinApp::Run()
{
    for (;;) {
        const BOOL got = GetMessageA(&m_msgCur, nullptr, 0, 0);
        if (got == 0)
            break;
        if (got == -1) {
            // Only an invalid argument makes GetMessage fail; end as if asked to quit.
            m_msgCur.message = WM_QUIT;
            m_msgCur.wParam = kAfxFailureExitCode;
            break;
        }
        if (!PreTranslateMessage(&m_msgCur)) {
            TranslateMessage(&m_msgCur);
            DispatchMessageA(&m_msgCur);
        }
    }
    return ExitInstance();
}

int CWinApp::ExitInstance()
{
    return static_cast<int>(m_msgCur.wParam);
}

CWinApp* AfxGetApp()
{
    return g_pApp;
}

CWnd* AfxGetMainWnd()
{
    return g_pApp ? g_pApp->m_pMainWnd : nullptr;
}

const char* AfxGetAppName()
{
    return g_pApp ? g_pApp->m_pszAppName : "";
}

HINSTANCE AfxGetInstanceHandle()
{
    return GetModuleHandleA(nullptr);
}

HINSTANCE AfxFindResourceHandle(LPCSTR, LPCSTR)
{
    // Every resource is in the executable.
    return AfxGetInstanceHandle();
}

int AfxWinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int)
{
    CWinApp* app = AfxGetApp();
    if (!app)
        return kAfxFailureExitCode;
    app->m_lpCmdLine = lpCmdLine ? lpCmdLine : "";
    if (!app->InitInstance()) {
        if (app->m_pMainWnd)
            app->m_pMainWnd->DestroyWindow();
        app->ExitInstance();
        return kAfxFailureExitCode;
    }
    return app->Run();
}
