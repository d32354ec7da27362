#include "framework/AfxWin.h"

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp(const char*) : m_pMainWnd(nullptr) { g_app = this; }
CWinApp::~CWinApp() {}
BOOL CWinApp::InitInstance() { return TRUE; }
int CWinApp::ExitInstance() { return 0; }
int CWinApp::Run()
{
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return ExitInstance();
}

int AfxWinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    if (!g_app || !g_app->InitInstance())
        return 0;
    return g_app->Run();
}
