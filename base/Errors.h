#pragma once
// One error model: a failure inside a command throws, carrying what failed and its code; the
// handler that owns the error route catches it. Making one allocates nothing, so it can be
// thrown when memory has run out.

#include <windows.h>

#include <exception>

class Win32Error : public std::exception {
public:
    Win32Error(const char* what, DWORD code) noexcept : m_what(what), m_code(code) {}
    const char* what() const noexcept override { return m_what; }
    DWORD Code() const noexcept { return m_code; }

private:
    const char* m_what;  // the failing call: a literal
    DWORD m_code;
};

class ComError : public std::exception {
public:
    ComError(const char* what, HRESULT hr) noexcept : m_what(what), m_hr(hr) {}
    const char* what() const noexcept override { return m_what; }
    HRESULT Result() const noexcept { return m_hr; }

private:
    const char* m_what;  // the failing call: a literal
    HRESULT m_hr;
};

// Throws Win32Error with GetLastError() when a BOOL-style call failed.
inline void ThrowLastErrorIf(bool failed, const char* what) {
    if (failed) throw Win32Error(what, ::GetLastError());
}

inline void ThrowIfFailed(HRESULT hr, const char* what) {
    if (FAILED(hr)) throw ComError(what, hr);
}
