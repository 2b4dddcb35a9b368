// The two ways the program ends: unloading the main window, and the report of an untrapped error.

#include "window/Ending.h"

#include <exception>
#include <new>

#include "base/Errors.h"
#include "window/Texts.h"

namespace {

// The report: the fixed text, then what failed (our own ASCII names) and its code in hex.
[[noreturn]] void Report(HWND owner, const char* what, unsigned long code) noexcept {
    wchar_t text[512];
    int length = ::lstrlenW(::lstrcpynW(text, Texts::kRuntimeError, 256));
    for (; *what && length < 480; ++what) text[length++] = static_cast<unsigned char>(*what);
    if (code != 0) {
        const wchar_t* const digits = L"0123456789ABCDEF";
        text[length++] = L' ';
        text[length++] = L'0';
        text[length++] = L'x';
        for (int shift = 28; shift >= 0; shift -= 4) text[length++] = digits[(code >> shift) & 0xF];
    }
    text[length] = L'\0';
    ::MessageBoxW(owner && ::IsWindow(owner) ? owner : nullptr, text, Texts::kAppTitle, MB_OK | MB_ICONERROR);
    ::ExitProcess(1);
}

}  // namespace

void UnloadAndEnd(HWND window) noexcept {
    if (window) ::DestroyWindow(window);
    // At once, not through the message loop: nothing is left to save, and a click still queued
    // (a second press of Delete) must not start anything after the removal has ended.
    ::ExitProcess(0);
}

void ReportUntrappedError(HWND owner) noexcept {
    if (!std::current_exception()) Report(owner, "std::terminate", 0);
    try {
        throw;
    } catch (const WindowsError& error) {
        Report(owner, error.what(), static_cast<unsigned long>(error.Result()));
    } catch (const std::bad_alloc&) {
        Report(owner, "out of memory", 0);
    } catch (const std::exception& error) {
        Report(owner, error.what(), 0);
    } catch (...) {
        Report(owner, "unknown error", 0);
    }
}
