// UTF-16 to the system's ANSI code page and back, for the registry's ANSI entry points.

#include "registry/AnsiText.h"

#include <windows.h>

#include <climits>

#include "base/Errors.h"

namespace {
int CheckedLength(std::size_t size) {
    if (size > static_cast<std::size_t>(INT_MAX)) throw WindowsError::FromWin32("text conversion", ERROR_ARITHMETIC_OVERFLOW);
    return static_cast<int>(size);
}
}  // namespace

std::string ToAnsi(const std::wstring& text) {
    if (text.empty()) return {};
    const int length = CheckedLength(text.size());
    const int needed = ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    ThrowLastErrorIf(needed <= 0, "WideCharToMultiByte");
    std::string ansi(static_cast<std::size_t>(needed), '\0');
    const int written = ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, ansi.data(), needed, nullptr, nullptr);
    ThrowLastErrorIf(written <= 0, "WideCharToMultiByte");
    ansi.resize(static_cast<std::size_t>(written));
    return ansi;
}

std::wstring FromAnsi(const char* data, std::size_t size) {
    if (size == 0) return {};
    const int length = CheckedLength(size);
    const int needed = ::MultiByteToWideChar(CP_ACP, 0, data, length, nullptr, 0);
    ThrowLastErrorIf(needed <= 0, "MultiByteToWideChar");
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    const int written = ::MultiByteToWideChar(CP_ACP, 0, data, length, wide.data(), needed);
    ThrowLastErrorIf(written <= 0, "MultiByteToWideChar");
    wide.resize(static_cast<std::size_t>(written));
    return wide;
}
