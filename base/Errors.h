#pragma once
// One error model: a failure inside a command throws, carrying what failed and
// its code; the handler that owns the error route catches it.

#include <windows.h>

#include <stdexcept>
#include <string>

class Win32Error : public std::runtime_error {
public:
    Win32Error(const char* what, DWORD code)
        : std::runtime_error(std::string(what) + " failed, error " + std::to_string(code)), m_code(code) {}
    DWORD Code() const noexcept { return m_code; }

private:
    DWORD m_code;
};

class ComError : public std::runtime_error {
public:
    ComError(const char* what, HRESULT hr)
        : std::runtime_error(std::string(what) + " failed, HRESULT 0x" + Hex(hr)), m_hr(hr) {}
    HRESULT Result() const noexcept { return m_hr; }

private:
    static std::string Hex(HRESULT hr) {
        static const char digits[] = "0123456789ABCDEF";
        std::string s(8, '0');
        auto v = static_cast<unsigned long>(hr);
        for (int i = 7; i >= 0; --i, v >>= 4) s[i] = digits[v & 0xF];
        return s;
    }
    HRESULT m_hr;
};

// Throws Win32Error with GetLastError() when a BOOL-style call failed.
inline void ThrowLastErrorIf(bool failed, const char* what) {
    if (failed) throw Win32Error(what, ::GetLastError());
}

inline void ThrowIfFailed(HRESULT hr, const char* what) {
    if (FAILED(hr)) throw ComError(what, hr);
}
