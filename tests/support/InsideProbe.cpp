// Loaded into the tool's process by the tests: reads what cannot be asked for from outside it
// under Wine (WM_GETFONT and WM_GETICON answer nothing across processes) and writes it to
// C:\inside-probe-<pid>.txt. First a line for the main window's big icon: "icon", width,
// height; then one line a control: id, height, weight, charset, italic, underline,
// strike-out, face. The file appears whole (written aside, then renamed).
//
// C:\inside-probe-<pid>.in names the main window (its handle, as the test found it) and a DPI, in
// ASCII digits. When the DPI is not 0, the probe first moves the main window to that DPI the way
// Windows does when the window is dragged onto a monitor of that scale, and a line "moved",
// answered (1 or 0), left, top, right, bottom of the suggested rectangle comes after the icon's.
// Messages that carry pointers can only be sent from inside.

#include <windows.h>

#include <string>

namespace {

constexpr UINT kDpiChanged = 0x02E0;       // WM_DPICHANGED
constexpr UINT kGetDpiScaledSize = 0x02E4;  // WM_GETDPISCALEDSIZE

struct Request {
    HWND main = nullptr;
    UINT dpi = 0;  // 0: no move
};

// The test's request: two numbers in ASCII digits, separated by a space.
Request ReadRequest() {
    const std::wstring path = L"C:\\inside-probe-" + std::to_wstring(::GetCurrentProcessId()) + L".in";
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    char text[48] = {};
    DWORD read = 0;
    ::ReadFile(file, text, sizeof(text) - 1, &read, nullptr);
    ::CloseHandle(file);
    UINT_PTR numbers[2] = {};
    const char* c = text;
    for (UINT_PTR& number : numbers) {
        for (; *c >= '0' && *c <= '9'; ++c) number = number * 10 + static_cast<UINT_PTR>(*c - '0');
        if (*c == ' ') ++c;
    }
    return {reinterpret_cast<HWND>(numbers[0]), static_cast<UINT>(numbers[1])};
}

// As Windows does on a move to a monitor of `dpi`: asks the window its size there, suggests a
// rectangle of that size (scaled linearly from the present size when the window does not answer)
// at a new place, and sends WM_DPICHANGED with it. Returns the report's line.
std::wstring MoveToDpi(HWND main, UINT dpi) {
    RECT window{};
    ::GetWindowRect(main, &window);
    SIZE size{-1, -1};
    const bool answered = ::SendMessageW(main, kGetDpiScaledSize, dpi, reinterpret_cast<LPARAM>(&size)) != 0;
    if (!answered) {
        HDC screen = ::GetDC(nullptr);
        const int oldDpi = ::GetDeviceCaps(screen, LOGPIXELSY);
        ::ReleaseDC(nullptr, screen);
        size = {::MulDiv(window.right - window.left, static_cast<int>(dpi), oldDpi),
                ::MulDiv(window.bottom - window.top, static_cast<int>(dpi), oldDpi)};
    }
    // Another place than the present one, as on another monitor.
    RECT suggested{window.left + 40, window.top + 30, 0, 0};
    suggested.right = suggested.left + size.cx;
    suggested.bottom = suggested.top + size.cy;
    ::SendMessageW(main, kDpiChanged, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    return L"moved\t" + std::to_wstring(answered ? 1 : 0) + L"\t" + std::to_wstring(suggested.left) + L"\t" +
           std::to_wstring(suggested.top) + L"\t" + std::to_wstring(suggested.right) + L"\t" +
           std::to_wstring(suggested.bottom) + L"\n";
}

DWORD WINAPI Probe(void*) {
    const Request request = ReadRequest();
    const HWND main = ::IsWindow(request.main) ? request.main : nullptr;
    std::wstring report = L"icon\t0\t0\n";
    ICONINFO icon{};
    if (main && ::GetIconInfo(reinterpret_cast<HICON>(::SendMessageW(main, WM_GETICON, ICON_BIG, 0)), &icon)) {
        BITMAP colour{};
        ::GetObjectW(icon.hbmColor, sizeof(colour), &colour);
        report = L"icon\t" + std::to_wstring(colour.bmWidth) + L"\t" + std::to_wstring(colour.bmHeight) + L"\n";
        ::DeleteObject(icon.hbmColor);
        ::DeleteObject(icon.hbmMask);
    }
    if (main && request.dpi) report += MoveToDpi(main, request.dpi);
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
