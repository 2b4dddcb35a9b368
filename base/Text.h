#pragma once
// Small helpers for the program's text. None throws but for memory.

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

// A number as decimal text, with a minus sign when negative. (std::to_wstring would bring in
// the C library's whole formatting engine, an eighth of the executable.)
inline std::wstring DecimalText(std::int64_t number) {
    wchar_t digits[24];
    wchar_t* first = digits + 24;
    std::uint64_t magnitude = number < 0 ? 0 - static_cast<std::uint64_t>(number) : static_cast<std::uint64_t>(number);
    do {
        *--first = static_cast<wchar_t>(L'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (number < 0) *--first = L'-';
    return std::wstring(first, digits + 24);
}

// The text before the first `separator`, or all of it when there is none.
inline std::wstring FirstPiece(const std::wstring& text, wchar_t separator) {
    return text.substr(0, text.find(separator));
}

// The same text whatever the case of its letters, as Windows compares paths, key names and SIDs.
inline bool SameTextIgnoringCase(std::wstring_view a, std::wstring_view b) {
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}
