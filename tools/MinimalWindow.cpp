// The benchmark's limit for start-up: the tool's window as it first shows (its six controls, their final
// texts, fonts, icon and manifest), made the plainest way, with nothing else: no removal, no COM, no registry,
// no DLL-search restriction. It imports only kernel32, user32 and gdi32 (and the C runtime).

#include <windows.h>

#include "resources/ResourceIds.h"
#include "window/MainWindowDesign.h"
#include "window/Texts.h"

namespace {

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) ::PostQuitMessage(0);
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

HFONT MakeFont(const FontDesign& design) {
    LOGFONTW font{};
    font.lfHeight = -::MulDiv(design.points, USER_DEFAULT_SCREEN_DPI, 72);
    font.lfWeight = design.weight;
    font.lfCharSet = design.charSet;
    ::lstrcpynW(font.lfFaceName, design.face, LF_FACESIZE);
    return ::CreateFontIndirectW(&font);
}

// The text a control shows once the tool has filled in its texts. The notice is joined here without the
// standard library, which would make this image as large as the tool's.
const wchar_t* ShownText(const ControlDesign& design) {
    static wchar_t notice[1024];
    switch (design.id) {
        case Control::Notice:
            for (std::size_t i = 0; i < kNoticeLines.size(); ++i) {
                if (i > 0) ::lstrcatW(notice, Texts::kLineBreak);
                ::lstrcatW(notice, kNoticeLines[i]);
            }
            return notice;
        case Control::Prompt: return Texts::kPrompt;
        case Control::CompanyLine: return Texts::kCompany;
        default: return design.text;
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, 0, 0,
                                                        LR_DEFAULTSIZE | LR_SHARED));
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"MinimalWindow";
    ::RegisterClassExW(&windowClass);

    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT rect{0, 0, TwipsToPixels(kClientWidthTwips, USER_DEFAULT_SCREEN_DPI),
              TwipsToPixels(kClientHeightTwips, USER_DEFAULT_SCREEN_DPI)};
    ::AdjustWindowRectEx(&rect, style, FALSE, 0);
    const HWND window = ::CreateWindowExW(0, L"MinimalWindow", Texts::kWindowTitle, style, CW_USEDEFAULT, 0,
                                          rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr, instance,
                                          nullptr);
    const HFONT windowFont = MakeFont(kWindowFont);
    const HFONT noticeFont = MakeFont(kNoticeFont);
    for (const ControlDesign& design : kMainWindowControls) {
        const HWND control = ::CreateWindowExW(
            0, design.className, ShownText(design), design.style,
            TwipsToPixels(design.left, USER_DEFAULT_SCREEN_DPI), TwipsToPixels(design.top, USER_DEFAULT_SCREEN_DPI),
            TwipsToPixels(design.width, USER_DEFAULT_SCREEN_DPI), TwipsToPixels(design.height, USER_DEFAULT_SCREEN_DPI),
            window, nullptr, instance, nullptr);
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(design.noticeFont ? noticeFont : windowFont), 0);
    }
    ::ShowWindow(window, showCommand);
    ::UpdateWindow(window);

    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return 0;
}
