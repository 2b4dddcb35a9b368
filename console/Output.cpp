#include "console/Output.h"

Output::Output(DWORD stream) noexcept : m_handle(::GetStdHandle(stream)) {
    DWORD mode = 0;
    m_console = m_handle && m_handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(m_handle, &mode);
}

void Output::Line(const std::wstring& text) const {
    if (!m_handle || m_handle == INVALID_HANDLE_VALUE) return;
    const std::wstring line = text + L"\r\n";
    DWORD written = 0;
    if (m_console) {
        ::WriteConsoleW(m_handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        return;
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), utf8.data(), size, nullptr, nullptr);
    ::WriteFile(m_handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}
