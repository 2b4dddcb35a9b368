#pragma once
// Lines on standard output (or error): to a console as Unicode (WriteConsoleW), redirected to a
// file or a pipe, as deployment systems capture it, as UTF-8. Lines end in CR LF.

#include <windows.h>

#include <string>

class Output {
public:
    explicit Output(DWORD stream = STD_OUTPUT_HANDLE) noexcept;
    void Line(const std::wstring& text) const;

private:
    HANDLE m_handle;
    bool m_console;
};
