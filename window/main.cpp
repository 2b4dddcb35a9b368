// Entry point: the tool's one window and its message loop.

#include <windows.h>

#include "base/Unique.h"
#include "window/Ending.h"
#include "window/MainWindow.h"

namespace {

// DLLs are loaded from the system folder only, never from the folder the tool was started from
// (a Downloads folder may hold anything). SetDefaultDllDirectories does that on Windows 8 and
// later, and on Windows 7 with KB2533623, which its security updates since 2011 bring; it is
// looked up because a Windows 7 without that update lacks it. There only SetDllDirectoryW(L"")
// helps: it takes the current folder out of the search, but the exe's own folder is still
// searched first, so a DLL beside the exe named like a system DLL that is not a KnownDLL loads.
void RestrictDllSearchToSystemFolder() noexcept {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    ::SetDllDirectoryW(L"");
}

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
    RestrictDllSearchToSystemFolder();
    ::HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
    try {
        ComApartment com;
        MainWindow window(instance);
        window.Show(showCommand);
        return RunMessageLoop(window);
    } catch (...) {
        ReportUntrappedError(nullptr);
    }
}
