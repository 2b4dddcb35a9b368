#include "console/Output.h"

#include "base/Text.h"

namespace {

// Below the system folder, what a 32-bit process on 64-bit Windows sees where it is, not in SysWOW64.
constexpr const wchar_t* kSystemFoldersNotRedirected[] = {L"catroot", L"catroot2", L"DriverStore", L"drivers\\etc",
                                                          L"LogFiles", L"spool"};

bool StartsWithFolder(const std::wstring& path, const std::wstring& folder) {
    return path.size() >= folder.size() && (path.size() == folder.size() || path[folder.size()] == L'\\') &&
           SameTextIgnoringCase(std::wstring_view(path).substr(0, folder.size()), folder);
}

}  // namespace

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

std::wstring FileLocation(const std::wstring& path) {
    BOOL wow64 = FALSE;
    wchar_t system[MAX_PATH];
    wchar_t redirected[MAX_PATH];
    const UINT systemLength = ::GetSystemDirectoryW(system, MAX_PATH);
    const UINT redirectedLength = ::GetSystemWow64DirectoryW(redirected, MAX_PATH);
    if (!::IsWow64Process(::GetCurrentProcess(), &wow64) || !wow64 || systemLength == 0 || systemLength >= MAX_PATH ||
        redirectedLength == 0 || redirectedLength >= MAX_PATH || !StartsWithFolder(path, system)) {
        return path;
    }
    // The folders of the system folder that the File System Redirector leaves where they are.
    for (const wchar_t* spared : kSystemFoldersNotRedirected) {
        if (StartsWithFolder(path, std::wstring(system, systemLength) + L"\\" + spared)) return path;
    }
    return std::wstring(redirected, redirectedLength) + path.substr(systemLength);
}
