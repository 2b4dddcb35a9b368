// Entry point: the tool's one window and its message loop.

#include <windows.h>

#include "base/ProcessStart.h"
#include "window/Ending.h"
#include "window/MainWindow.h"

namespace {

int RunMessageLoop(MainWindow& window) {
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (window.TranslateKeyboard(msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    PrepareProcess();
    try {
        MainWindow window(instance);
        window.Show(showCommand);
        return RunMessageLoop(window);
    } catch (...) {
        ReportUntrappedError(nullptr);
    }
}
