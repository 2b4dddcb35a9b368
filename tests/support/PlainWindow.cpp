// A program that makes one window and ends, without restricting where its DLLs come from:
// what any program does that was started from a folder holding a planted DLL.

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    const HWND window =
        ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, instance, nullptr);
    if (window) ::DestroyWindow(window);
    return 0;
}
