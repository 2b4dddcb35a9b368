#include "window/Ending.h"

#include <string>

#include "window/Texts.h"

void UnloadAndEnd(HWND form) noexcept {
    if (form) ::DestroyWindow(form);
    ::ExitProcess(0);
}

void ReportUntrappedError(HWND owner, const char* description) noexcept {
    // The descriptions are our own ASCII texts; widen them character by character.
    wchar_t text[512];
    int length = ::lstrlenW(::lstrcpynW(text, Texts::kRuntimeError, 256));
    const char* what = description ? description : "unknown error";
    for (; *what && length < 511; ++what) text[length++] = static_cast<unsigned char>(*what);
    text[length] = L'\0';
    ::MessageBoxW(owner && ::IsWindow(owner) ? owner : nullptr, text, Texts::kAppTitle, MB_OK | MB_ICONERROR);
    ::ExitProcess(1);
}
