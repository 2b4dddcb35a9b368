#pragma once
// Lines on standard output (or error): to a console as Unicode (WriteConsoleW), redirected to a
// file or a pipe, as deployment systems capture it, as UTF-8. Lines end in CR LF.

#include <windows.h>

#include <string>

class Output {
public:
    explicit Output(DWORD stream = STD_OUTPUT_HANDLE) noexcept;
    // Writes one line; what the stream refuses is lost (nobody is left to tell). Throws only for memory.
    void Line(const std::wstring& text) const;

private:
    HANDLE m_handle;
    bool m_console;
};

// Where a path of this process's view is, as a person finds it in Explorer: on 64-bit Windows the
// system folder of a 32-bit process is SysWOW64 (but for the few subfolders the redirection spares).
// Never throws but for memory.
std::wstring FileLocation(const std::wstring& path);
