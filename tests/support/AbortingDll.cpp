// Loaded into a running program by a test, it calls abort() from a thread of its own, as a module
// that fails would. It shares the program's C runtime (msvcrt.dll), so the program's own handling of
// SIGABRT, if it has one, hears of it.

#include <windows.h>

#include <cstdlib>

namespace {

DWORD WINAPI Abort(void*) {
    std::abort();
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        const HANDLE thread = ::CreateThread(nullptr, 0, Abort, nullptr, 0, nullptr);
        if (thread) ::CloseHandle(thread);
    }
    return TRUE;
}
