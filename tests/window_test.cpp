// The main window, seen from outside the tool's process as a person sees it: texts, layout,
// fonts, focus and keyboard, and the ways the program ends.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "support/Driver.h"
#include "support/Expected.h"

namespace {

using namespace Expected;

struct ExpectedControl {
    const wchar_t* className;
    std::wstring text;
    int left, top, width, height;  // twips, in the window's client area
};

// In tab order, which is the Z order: the frame, the notice, Delete, Close, the prompt, the company.
const ExpectedControl kControlsInTabOrder[] = {
    {L"Button", kNoticeFrame, 120, 120, 7575, 2415},
    {L"Static", kNotice, 360, 480, 7215, 1695},
    {L"Button", kDeleteButton, 6540, 3000, 1215, 375},
    {L"Button", kCloseButton, 6540, 3480, 1215, 375},
    {L"Static", kPrompt, 120, 2640, 7455, 255},
    {L"Static", kCompany, 120, 3840, 4455, 255},
};

int Pixels(int twips, int dpi) { return ::MulDiv(twips, dpi, 1440); }

// The client area of the design at `dpi`.
SIZE ClientSizeAt(int dpi) { return {Pixels(7815, dpi), Pixels(4185, dpi)}; }

void ExpectControlsAt(HWND main, int dpi) {
    const std::vector<HWND> children = Children(main);
    ASSERT_EQ(children.size(), std::size(kControlsInTabOrder));
    for (std::size_t i = 0; i < children.size(); ++i) {
        const ExpectedControl& expected = kControlsInTabOrder[i];
        SCOPED_TRACE(expected.text);
        const RECT rect = ChildRect(children[i]);
        EXPECT_EQ(_wcsicmp(ClassName(children[i]).c_str(), expected.className), 0) << ClassName(children[i]);
        EXPECT_EQ(rect.left, Pixels(expected.left, dpi));
        EXPECT_EQ(rect.top, Pixels(expected.top, dpi));
        EXPECT_EQ(rect.right - rect.left, Pixels(expected.width, dpi));
        EXPECT_EQ(rect.bottom - rect.top, Pixels(expected.height, dpi));
    }
}

void ExpectLayoutAt(HWND main, int dpi) {
    const RECT client = ClientRect(main);
    EXPECT_EQ(client.right, ClientSizeAt(dpi).cx);
    EXPECT_EQ(client.bottom, ClientSizeAt(dpi).cy);
    ExpectControlsAt(main, dpi);
}

// Every control has a font of the tool's own, 9 points high at `dpi`.
void ExpectFontsAt(const InsideFacts& inside, int dpi) {
    ASSERT_EQ(inside.fonts.size(), std::size(kControlsInTabOrder))
        << "fonts read inside the tool (icon " << inside.icon.cx << " wide: 0 when the probe had no window)";
    for (const auto& [id, facts] : inside.fonts) {
        SCOPED_TRACE(id);
        EXPECT_EQ(facts.height, -::MulDiv(9, dpi, 72));
    }
}

class MainWindow : public ::testing::Test {
protected:
    HWND Button(const std::wstring& text) { return ChildWithText(app.MainWindow(), text); }

    AppProcess app;
};

TEST_F(MainWindow, ShowsTheFinalTextsFromTheFirstMoment) {
    ASSERT_NE(app.MainWindow(), nullptr);
    EXPECT_EQ(WindowText(app.MainWindow()), kWindowTitle);
    const std::vector<HWND> children = Children(app.MainWindow());
    ASSERT_EQ(children.size(), std::size(kControlsInTabOrder));
    for (std::size_t i = 0; i < children.size(); ++i) {
        EXPECT_EQ(WindowText(children[i]), kControlsInTabOrder[i].text) << "control " << i << " in tab order";
    }
    // Nine lines, 3, 6 and 8 empty, no break after the last; a word runs on from line 1 to 2.
    const std::wstring notice = kNotice;
    std::vector<std::wstring> lines;
    for (std::size_t start = 0;;) {
        const std::size_t end = notice.find(L"\r\n", start);
        lines.push_back(notice.substr(start, end - start));
        if (end == std::wstring::npos) break;
        start = end + 2;
    }
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_TRUE(lines[2].empty() && lines[5].empty() && lines[7].empty());
    EXPECT_EQ(lines[0].substr(lines[0].size() - 3), L"任何部");
    EXPECT_EQ(lines[1].substr(0, 2), L"分。");

    // The design texts are replaced before the window shows.
    for (const std::wstring& seen : app.FirstSeenTexts()) {
        SCOPED_TRACE(seen);
        for (const wchar_t* design : kDesignTexts) EXPECT_NE(seen, design);
    }
    EXPECT_EQ(app.FirstSeenTexts().front(), kWindowTitle);
}

TEST_F(MainWindow, PlacesEveryControlAsDesignedAt96Dpi) {
    ASSERT_NE(app.MainWindow(), nullptr);
    ExpectLayoutAt(app.MainWindow(), 96);
}

TEST_F(MainWindow, IsAFixedSizeWindowCentredOnTheScreen) {
    HWND main = app.MainWindow();
    ASSERT_NE(main, nullptr);
    const LONG style = ::GetWindowLongW(main, GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME) << "the layout is fixed; the window must not resize";
    EXPECT_EQ(::GetWindow(main, GW_OWNER), nullptr) << "an unowned window gets a taskbar button";
    EXPECT_TRUE(::GetWindowLongW(main, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    EXPECT_EQ(::GetMenu(main), nullptr);

    RECT window{}, workArea{};
    ::GetWindowRect(main, &window);
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
    EXPECT_LE(std::abs((window.left + window.right) - (workArea.left + workArea.right)), 1);
    EXPECT_LE(std::abs((window.top + window.bottom) - (workArea.top + workArea.bottom)), 1);

    for (HWND child : Children(main)) {
        SCOPED_TRACE(WindowText(child));
        EXPECT_TRUE(::IsWindowVisible(child));
        EXPECT_TRUE(::IsWindowEnabled(child));
        const LONG childStyle = ::GetWindowLongW(child, GWL_STYLE);
        if (ClassName(child) == L"Static") {
            EXPECT_EQ(childStyle & SS_TYPEMASK, SS_LEFT);
            EXPECT_FALSE(::GetWindowLongW(child, GWL_EXSTYLE) & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE));
        }
    }
    for (const wchar_t* text : {kDeleteButton, kCloseButton}) {
        EXPECT_EQ(::GetWindowLongW(Button(text), GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON)
            << "neither button is a default button";
    }
}

TEST_F(MainWindow, HasTheIconAndTheNoticeHasAFontOfItsOwn) {
    ASSERT_NE(app.MainWindow(), nullptr);
    const InsideFacts inside = ReadInside(app);
    EXPECT_EQ(inside.icon.cx, 32) << "the window shows the application icon";
    EXPECT_EQ(inside.icon.cy, 32);
    std::map<std::wstring, FontFacts> byText;
    for (HWND child : Children(app.MainWindow())) {
        for (const auto& [id, facts] : inside.fonts) {
            if (id == ::GetDlgCtrlID(child)) byText[WindowText(child)] = facts;
        }
    }
    ASSERT_EQ(byText.size(), 6u) << "every control has a font of its own setting";
    for (const auto& [text, facts] : byText) {
        SCOPED_TRACE(text);
        EXPECT_EQ(facts.face, text == kNotice ? L"新宋体" : L"宋体");
        EXPECT_EQ(facts.height, -12) << "9 points at 96 dpi";
        EXPECT_EQ(facts.weight, FW_NORMAL);
        EXPECT_EQ(facts.charSet, GB2312_CHARSET);
        EXPECT_FALSE(facts.italic || facts.underline || facts.strikeOut);
    }
}

TEST_F(MainWindow, FocusStartsOnDeleteAndTabMovesBetweenTheButtons) {
    ASSERT_NE(app.MainWindow(), nullptr);
    HWND deleteButton = Button(kDeleteButton);
    HWND closeButton = Button(kCloseButton);
    EXPECT_EQ(app.Focus(), deleteButton);

    ASSERT_TRUE(BringToFront(app.MainWindow()));
    TypeKey(VK_TAB);
    EXPECT_TRUE(WaitUntil([&] { return app.Focus() == closeButton; })) << "Tab from Delete goes to Close";
    TypeKey(VK_TAB);
    EXPECT_TRUE(WaitUntil([&] { return app.Focus() == deleteButton; })) << "Tab from Close goes back to Delete";
    TypeKey(VK_TAB, true);
    EXPECT_TRUE(WaitUntil([&] { return app.Focus() == closeButton; })) << "Shift+Tab from Delete goes to Close";
    TypeKey(VK_TAB, true);
    EXPECT_TRUE(WaitUntil([&] { return app.Focus() == deleteButton; }));
    EXPECT_TRUE(app.Running());
}

TEST_F(MainWindow, EnterAndSpacePressTheFocusedButton) {
    ASSERT_NE(app.MainWindow(), nullptr);
    ASSERT_TRUE(BringToFront(app.MainWindow()));
    // Delete has the focus: Enter asks for confirmation, in a box with the application's title.
    TypeKey(VK_RETURN);
    HWND box = app.WaitForMessageBox();
    ASSERT_NE(box, nullptr) << "Enter did not press Delete";
    EXPECT_EQ(ReadMessageBox(box).title, kAppTitle);
    EXPECT_TRUE(AnswerMessageBox(box, IDCANCEL));
    // Space presses it too.
    ASSERT_TRUE(BringToFront(app.MainWindow()));
    EXPECT_TRUE(WaitUntil([&] { return app.Focus() == Button(kDeleteButton); })) << "the focus comes back to Delete";
    TypeKey(VK_SPACE);
    box = app.WaitForMessageBox();
    ASSERT_NE(box, nullptr) << "Space did not press Delete";
    EXPECT_TRUE(AnswerMessageBox(box, IDCANCEL));
    // Enter on Close ends the program.
    ASSERT_TRUE(BringToFront(app.MainWindow()));
    TypeKey(VK_TAB);
    ASSERT_TRUE(WaitUntil([&] { return app.Focus() == Button(kCloseButton); }));
    TypeKey(VK_RETURN);
    EXPECT_EQ(app.WaitForExit(), 0u);
}

TEST_F(MainWindow, CloseEndsTheProcessAtOnceWithExitCodeZero) {
    ASSERT_NE(app.MainWindow(), nullptr);
    PressButton(Button(kCloseButton));
    EXPECT_EQ(app.WaitForExit(), 0u);
}

TEST_F(MainWindow, ClosingThroughTheFrameEndsTheProcess) {
    ASSERT_NE(app.MainWindow(), nullptr);
    ::PostMessageW(app.MainWindow(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(app.WaitForExit(), 0u);
    EXPECT_TRUE(app.NoMessageBoxFor(0)) << "no question is asked";
}

// At 144 dpi every position, size and font follows the window's own DPI. CTest runs this on a
// 144-dpi screen (MainWindowDpi.On144DpiScreen, QELPAD_SCREEN_DPI=144).
TEST(MainWindowDpi, ScalesTheLayoutAndFontsWithTheDpi) {
    HDC screen = ::GetDC(nullptr);
    const int screenDpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    if (screenDpi != 144) GTEST_SKIP() << "the screen has " << screenDpi << " dpi; run with QELPAD_SCREEN_DPI=144";

    AppProcess app;
    ASSERT_NE(app.MainWindow(), nullptr);
    ExpectLayoutAt(app.MainWindow(), 144);
    ExpectFontsAt(ReadInside(app), 144);
}

// Dragged onto a monitor of another scale (Windows 10 1703 and later), the window is asked its
// size for the new DPI, then given a rectangle of that size under the cursor, which it takes
// whole: the frame does not scale linearly, and a size of its own would slip against the cursor.
// wine-only: Wine sends neither message, so the probe sends them inside the tool, from 96 dpi to
// 144. The window's own DPI stays 96 under Wine, so its frame does too: the client area is not checked.
TEST(MainWindowDpi, MovedToAMonitorOfAnotherScaleTakesTheSuggestedRectangle) {
    AppProcess app;
    HWND main = app.MainWindow();
    ASSERT_NE(main, nullptr);
    ASSERT_EQ(ClientRect(main).right, ClientSizeAt(96).cx) << "the window did not start at 96 dpi";
    const InsideFacts inside = ReadInside(app, 144);
    ASSERT_TRUE(inside.moved) << "the probe did not move the window; its report:\n" << inside.report;
    EXPECT_TRUE(inside.scaledSizeAnswered) << "WM_GETDPISCALEDSIZE was not answered";

    using AdjustFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    const auto adjustForDpi = reinterpret_cast<AdjustFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
    ASSERT_NE(adjustForDpi, nullptr);
    RECT frame{0, 0, ClientSizeAt(144).cx, ClientSizeAt(144).cy};
    ASSERT_TRUE(adjustForDpi(&frame, static_cast<DWORD>(::GetWindowLongW(main, GWL_STYLE)), FALSE,
                             static_cast<DWORD>(::GetWindowLongW(main, GWL_EXSTYLE)), 144));
    const RECT& suggested = inside.suggested;
    EXPECT_EQ(suggested.right - suggested.left, frame.right - frame.left) << "the answer is not the size at 144 dpi";
    EXPECT_EQ(suggested.bottom - suggested.top, frame.bottom - frame.top) << "the answer is not the size at 144 dpi";

    RECT window{};
    ASSERT_TRUE(::GetWindowRect(main, &window));
    EXPECT_EQ(window.left, suggested.left);
    EXPECT_EQ(window.top, suggested.top);
    EXPECT_EQ(window.right, suggested.right);
    EXPECT_EQ(window.bottom, suggested.bottom);
    ExpectControlsAt(main, 144);
    ExpectFontsAt(inside, 144);
}

}  // namespace
