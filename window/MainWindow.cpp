// The main window: its creation and layout at each DPI, the texts filled in at start, the two
// buttons' handlers, keyboard navigation and the window procedure.

#include "window/MainWindow.h"

#include "base/Errors.h"
#include "resources/ResourceIds.h"
#include "window/Ending.h"
#include "window/Texts.h"

namespace {

constexpr wchar_t kWindowClass[] = L"QelpadRemoverMainWindow";
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kWindowExStyle = WS_EX_APPWINDOW;
#ifndef WM_DPICHANGED
constexpr UINT WM_DPICHANGED = 0x02E0;
#endif
#ifndef WM_GETDPISCALEDSIZE
constexpr UINT WM_GETDPISCALEDSIZE = 0x02E4;  // Windows 10 1703 and later
#endif

// Functions of newer user32 versions, looked up so that the program still starts on Windows 7.
template <typename F>
F User32Function(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name)));
}

UINT DpiOfWindow(HWND hwnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    if (getDpiForWindow) {
        if (UINT dpi = getDpiForWindow(hwnd)) return dpi;
    }
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : USER_DEFAULT_SCREEN_DPI;
    if (screen) ::ReleaseDC(nullptr, screen);
    return static_cast<UINT>(dpi);
}

void AdjustForDpi(RECT& rect, UINT dpi) {
    using AdjustFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = User32Function<AdjustFn>("AdjustWindowRectExForDpi");
    const BOOL adjusted = adjustForDpi ? adjustForDpi(&rect, kWindowStyle, FALSE, kWindowExStyle, dpi)
                                       : ::AdjustWindowRectEx(&rect, kWindowStyle, FALSE, kWindowExStyle);
    ThrowLastErrorIf(!adjusted, "AdjustWindowRectEx");
}

// The application icon at a system metric's size; shared icons need no destroying.
HICON AppIcon(HINSTANCE instance, int widthMetric, int heightMetric) {
    return static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                           ::GetSystemMetrics(widthMetric), ::GetSystemMetrics(heightMetric),
                                           LR_SHARED));
}

UniqueFont MakeFont(const FontDesign& design, UINT dpi) {
    LOGFONTW font{};
    font.lfHeight = -::MulDiv(design.points, static_cast<int>(dpi), 72);
    font.lfWeight = design.weight;
    font.lfCharSet = design.charSet;
    font.lfOutPrecision = OUT_DEFAULT_PRECIS;
    font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    font.lfQuality = DEFAULT_QUALITY;
    font.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
    ::lstrcpynW(font.lfFaceName, design.face, LF_FACESIZE);
    UniqueFont handle(::CreateFontIndirectW(&font));
    ThrowLastErrorIf(!handle, "CreateFontIndirectW");
    return handle;
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance) : m_instance(instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &MainWindow::WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = AppIcon(instance, SM_CXICON, SM_CYICON);
    windowClass.hIconSm = AppIcon(instance, SM_CXSMICON, SM_CYSMICON);
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kWindowClass;
    ThrowLastErrorIf(!::RegisterClassExW(&windowClass), "RegisterClassExW");
}

MainWindow::~MainWindow() {
    if (m_hwnd) ::DestroyWindow(m_hwnd);
}

void MainWindow::Show(int showCommand) {
    m_hwnd = ::CreateWindowExW(kWindowExStyle, kWindowClass, Texts::kDesignCaption, kWindowStyle, 0, 0, 0, 0,
                               nullptr, nullptr, m_instance, this);
    ThrowLastErrorIf(!m_hwnd, "CreateWindowExW");
    ::SendMessageW(m_hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(AppIcon(m_instance, SM_CXICON, SM_CYICON)));
    ::SendMessageW(m_hwnd, WM_SETICON, ICON_SMALL,
                   reinterpret_cast<LPARAM>(AppIcon(m_instance, SM_CXSMICON, SM_CYSMICON)));
    CreateControls();
    FillInTexts();

    // Centred on the primary monitor's work area, sized for the window's own DPI.
    RECT workArea{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
    const SIZE size = WindowSizeForDpi(m_dpi);
    const int left = workArea.left + (workArea.right - workArea.left - size.cx) / 2;
    const int top = workArea.top + (workArea.bottom - workArea.top - size.cy) / 2;
    ::SetWindowPos(m_hwnd, nullptr, left, top, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);

    ::ShowWindow(m_hwnd, showCommand);
    ::UpdateWindow(m_hwnd);
    m_lastFocus = Item(Control::DeleteButton);
    ::SetFocus(m_lastFocus);
}

void MainWindow::CreateControls() {
    for (std::size_t i = 0; i < kMainWindowControls.size(); ++i) {
        const ControlDesign& design = kMainWindowControls[i];
        m_controls[i] = ::CreateWindowExW(0, design.className, design.text, design.style, 0, 0, 0, 0, m_hwnd,
                                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(design.id)), m_instance,
                                          nullptr);
        ThrowLastErrorIf(!m_controls[i], "CreateWindowExW");
    }
    // The Z order is the tab order: Tab moves through the controls by tab index.
    HWND previous = HWND_TOP;
    for (int tabIndex = 0; tabIndex < kControlCount; ++tabIndex) {
        for (std::size_t i = 0; i < kMainWindowControls.size(); ++i) {
            if (kMainWindowControls[i].tabIndex != tabIndex) continue;
            ::SetWindowPos(m_controls[i], previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            previous = m_controls[i];
        }
    }
    ApplyDpi(DpiOfWindow(m_hwnd));
}

// Places every control and sets its font for `dpi`.
void MainWindow::ApplyDpi(UINT dpi) {
    UniqueFont windowFont = MakeFont(kWindowFont, dpi);
    UniqueFont noticeFont = MakeFont(kNoticeFont, dpi);
    for (std::size_t i = 0; i < kMainWindowControls.size(); ++i) {
        const ControlDesign& design = kMainWindowControls[i];
        ::SetWindowPos(m_controls[i], nullptr, TwipsToPixels(design.left, dpi), TwipsToPixels(design.top, dpi),
                       TwipsToPixels(design.width, dpi), TwipsToPixels(design.height, dpi),
                       SWP_NOZORDER | SWP_NOACTIVATE);
        HFONT font = design.noticeFont ? noticeFont.Get() : windowFont.Get();
        ::SendMessageW(m_controls[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    // The controls now use the new fonts; the old ones can go.
    m_windowFont = std::move(windowFont);
    m_noticeFont = std::move(noticeFont);
    m_dpi = dpi;
}

SIZE MainWindow::WindowSizeForDpi(UINT dpi) const {
    RECT rect{0, 0, TwipsToPixels(kClientWidthTwips, dpi), TwipsToPixels(kClientHeightTwips, dpi)};
    AdjustForDpi(rect, dpi);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

HWND MainWindow::Item(Control id) const {
    for (std::size_t i = 0; i < kMainWindowControls.size(); ++i) {
        if (kMainWindowControls[i].id == id) return m_controls[i];
    }
    return nullptr;
}

void MainWindow::SetText(Control id, const std::wstring& text) {
    ThrowLastErrorIf(!::SetWindowTextW(Item(id), text.c_str()), "SetWindowTextW");
}

// A modal message box with the application title.
int MainWindow::ShowMessage(const wchar_t* text, UINT style) {
    return ::MessageBoxW(m_hwnd, text, Texts::kAppTitle, style);
}

void MainWindow::FillInTexts() {
    using namespace Texts;
    std::wstring notice;
    for (std::size_t i = 0; i < kNoticeLines.size(); ++i) {
        if (i > 0) notice += kLineBreak;
        notice += kNoticeLines[i];
    }
    SetText(Control::Notice, notice);
    SetText(Control::Prompt, kPrompt);
    SetText(Control::CompanyLine, kCompany);
    ThrowLastErrorIf(!::SetWindowTextW(m_hwnd, kWindowTitle), "SetWindowTextW");
}

// Delete: the removal asks for confirmation through this window, then the outcome is told. A finished
// removal, or none to do, ends the program; after a failure the window stays open.
void MainWindow::OnDeleteClick() {
    const auto confirm = [this] { return ShowMessage(Texts::kConfirm, MB_OKCANCEL) == IDOK; };
    switch (m_removal.Run(confirm)) {
    case RemovalOutcome::Cancelled:
        break;
    case RemovalOutcome::NotRegistered:
        ShowMessage(Texts::kNotRegistered, MB_OK);
        UnloadAndEnd(m_hwnd);
    case RemovalOutcome::Removed:
        ShowMessage(Texts::kRemoved, MB_OK);
        UnloadAndEnd(m_hwnd);
    case RemovalOutcome::Failed:
        ShowMessage(Texts::kRemovalFailed, MB_OK | MB_ICONEXCLAMATION);
        break;
    }
}

void MainWindow::OnCloseClick() {
    UnloadAndEnd(m_hwnd);
}

void MainWindow::OnCommand(WORD controlId, WORD notification) {
    if (notification != BN_CLICKED) return;
    switch (static_cast<Control>(controlId)) {
    case Control::DeleteButton: OnDeleteClick(); break;
    case Control::CloseButton: OnCloseClick(); break;
    default: break;
    }
}

bool MainWindow::TranslateKeyboard(MSG& msg) {
    if (!m_hwnd) return false;
    // Enter presses the button that has the focus; neither button is a default button.
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN &&
        (msg.hwnd == Item(Control::DeleteButton) || msg.hwnd == Item(Control::CloseButton))) {
        ::SendMessageW(msg.hwnd, BM_CLICK, 0, 0);
        return true;
    }
    // Tab and Shift+Tab move between the buttons; Space presses the focused one.
    return ::IsDialogMessageW(m_hwnd, &msg) != FALSE;
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_ACTIVATE:
        // Give the focus back to the control that had it, as a dialog does.
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = ::GetFocus();
            if (focus && ::IsChild(m_hwnd, focus)) m_lastFocus = focus;
        } else if (m_lastFocus) {
            ::SetFocus(m_lastFocus);
            return 0;
        }
        break;
    case WM_GETDPISCALEDSIZE:
        // Before a move to a monitor of another scale: the frame does not scale linearly, so say
        // the size the window will have, and the rectangle WM_DPICHANGED suggests keeps it under
        // the cursor.
        *reinterpret_cast<SIZE*>(lParam) = WindowSizeForDpi(static_cast<UINT>(wParam));
        return TRUE;
    case WM_DPICHANGED: {
        ApplyDpi(HIWORD(wParam));
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        ::SetWindowPos(m_hwnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                       suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_CLOSE:
        // Closing through the frame unloads the window and ends the program, as Close does.
        UnloadAndEnd(m_hwnd);
    default:
        break;
    }
    return ::DefWindowProcW(m_hwnd, message, wParam, lParam);
}

LRESULT CALLBACK MainWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    try {
        if (message == WM_NCCREATE) {
            auto* window = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
            window->m_hwnd = hwnd;
            ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
        }
        auto* window = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (message == WM_NCDESTROY) {
            // The window's last message: from here on it leads to no object.
            ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            if (window) window->m_hwnd = nullptr;
            window = nullptr;
        }
        return window ? window->HandleMessage(message, wParam, lParam)
                      : ::DefWindowProcW(hwnd, message, wParam, lParam);
    } catch (...) {
        ReportUntrappedError(hwnd);
    }
}
