#include "app/TestApp.h"
#include "framework/AfxWin.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow)
{
    // theApp lives in the core library, where nothing else in the program refers
    // to it: naming it here links it in. Its constructor made it the application.
    if (AfxGetApp() != &theApp)
        return kAfxFailureExitCode;
    return AfxWinMain(hInstance, hPrevInstance, lpCmdLine, nCmdShow);
}
