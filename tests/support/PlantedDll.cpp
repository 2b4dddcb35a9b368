// A DLL as a web page may drop into a Downloads folder, under the name of a DLL the tool loads.
// It exports nothing; loaded into any process, it leaves a mark beside itself: "<its path>.loaded".

#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t mark[MAX_PATH + 16];
    const DWORD length = ::GetModuleFileNameW(self, mark, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return TRUE;
    ::lstrcpyW(mark + length, L".loaded");
    const HANDLE file = ::CreateFileW(mark, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    return TRUE;
}
