// Loaded into the tool's process by the tests: reads what cannot be asked for from outside it
// under Wine (WM_GETFONT and WM_GETICON answer nothing across processes) and writes it to
// C:\inside-probe-<pid>.txt. First a line for the main window's big icon: "icon", width,
// height; then one line a control: id, height, weight, charset, italic, underline,
// strike-out, face. The file appears whole (written aside, then renamed).

#include <windows.h>

#include <string>

namespace {

HWND MainWindowOfThisProcess() {
    HWND found = nullptr;
    ::EnumWindows(
        [](HWND hwnd, LPARAM lParam) CALLBACK -> BOOL {
            DWORD pid = 0;
            ::GetWindowThreadProcessId(hwnd, &pid);
            wchar_t name[16] = {};
            ::GetClassNameW(hwnd, name, 16);
            if (pid == ::GetCurrentProcessId() && ::IsWindowVisible(hwnd) && lstrcmpW(name, L"#32770") != 0) {
                *reinterpret_cast<HWND*>(lParam) = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

DWORD WINAPI Probe(void*) {
    HWND main = MainWindowOfThisProcess();
    std::wstring report = L"icon\t0\t0\n";
    ICONINFO icon{};
    if (main && ::GetIconInfo(reinterpret_cast<HICON>(::SendMessageW(main, WM_GETICON, ICON_BIG, 0)), &icon)) {
        BITMAP colour{};
        ::GetObjectW(icon.hbmColor, sizeof(colour), &colour);
        report = L"icon\t" + std::to_wstring(colour.bmWidth) + L"\t" + std::to_wstring(colour.bmHeight) + L"\n";
        ::DeleteObject(icon.hbmColor);
        ::DeleteObject(icon.hbmMask);
    }
    for (HWND child = main ? ::GetWindow(main, GW_CHILD) : nullptr; child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        LOGFONTW font{};
        auto handle = reinterpret_cast<HFONT>(::SendMessageW(child, WM_GETFONT, 0, 0));
        if (!handle || !::GetObjectW(handle, sizeof(font), &font)) continue;
        report += std::to_wstring(::GetDlgCtrlID(child)) + L"\t" + std::to_wstring(font.lfHeight) + L"\t" +
                  std::to_wstring(font.lfWeight) + L"\t" + std::to_wstring(font.lfCharSet) + L"\t" +
                  std::to_wstring(font.lfItalic) + L"\t" + std::to_wstring(font.lfUnderline) + L"\t" +
                  std::to_wstring(font.lfStrikeOut) + L"\t" + font.lfFaceName + L"\n";
    }
    const std::wstring path = L"C:\\inside-probe-" + std::to_wstring(::GetCurrentProcessId()) + L".txt";
    const std::wstring aside = path + L".part";
    HANDLE file = ::CreateFileW(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    ::WriteFile(file, report.data(), static_cast<DWORD>(report.size() * sizeof(wchar_t)), &written, nullptr);
    ::CloseHandle(file);
    ::MoveFileExW(aside.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
    return 0;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
    // The probe runs on a thread of its own, once the loader has let go.
    if (reason == DLL_PROCESS_ATTACH) {
        if (HANDLE thread = ::CreateThread(nullptr, 0, &Probe, nullptr, 0, nullptr)) ::CloseHandle(thread);
    }
    return TRUE;
}
