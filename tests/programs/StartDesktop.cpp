// Makes Wine start its desktop process now: run once before the tests, with no
// output pipes attached, so that the long-lived desktop does not inherit a
// test's pipes (Wine hands a program's Unix standard streams to its children).
#include <windows.h>

int main()
{
    HWND window = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (window)
        DestroyWindow(window);
    return GetDesktopWindow() ? 0 : 1;
}
