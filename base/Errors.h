#pragma once
// One error model: a failure inside a command throws a WindowsError, carrying what failed and why;
// the handler that owns the error route catches it. Win32 error codes and COM's HRESULTs are one
// kind of value (HRESULT_FROM_WIN32 maps the first into the second), so one type carries both.
// Making one allocates nothing, so it can be thrown when memory has run out.

#include <windows.h>

#include <exception>

class WindowsError : public std::exception {
public:
    WindowsError(const char* what, HRESULT result) noexcept : m_what(what), m_result(result) {}
    static WindowsError FromWin32(const char* what, DWORD code) noexcept {
        return WindowsError(what, HRESULT_FROM_WIN32(code));
    }
    const char* what() const noexcept override { return m_what; }
    HRESULT Result() const noexcept { return m_result; }

private:
    const char* m_what;  // what failed: a literal
    HRESULT m_result;
};

// Throws with GetLastError() when a BOOL-style call failed.
inline void ThrowLastErrorIf(bool failed, const char* what) {
    if (failed) throw WindowsError::FromWin32(what, ::GetLastError());
}

inline void ThrowIfFailed(HRESULT hr, const char* what) {
    if (FAILED(hr)) throw WindowsError(what, hr);
}
