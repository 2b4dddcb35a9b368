#pragma once
// MainWindow: the tool's only window and its handlers. Delete runs the removal (removal/Removal.h)
// and tells the user its outcome; Close ends the program.

#include <windows.h>

#include <array>
#include <string>

#include "base/Unique.h"
#include "removal/Removal.h"
#include "window/MainWindowDesign.h"

class MainWindow {
public:
    // Registers the window class. Throws WindowsError when it cannot.
    explicit MainWindow(HINSTANCE instance);
    // Destroys the window if it still lives (an error at start-up), so that nothing reaches it after.
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Creates the window and its controls as designed, fills in their texts, centres the
    // window on the screen and shows it with the focus on the Delete button. Throws WindowsError
    // when a window, a font or a text cannot be made.
    void Show(int showCommand);

    // Keyboard navigation between the buttons; true when the message was used. Reports nothing else.
    bool TranslateKeyboard(MSG& msg);

    HWND Hwnd() const noexcept { return m_hwnd; }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void CreateControls();
    void ApplyDpi(UINT dpi);
    SIZE WindowSizeForDpi(UINT dpi) const;
    HWND Item(Control id) const;
    void SetText(Control id, const std::wstring& text);
    int ShowMessage(const wchar_t* text, UINT style);

    void FillInTexts();
    void OnDeleteClick();
    void OnCloseClick();
    void OnCommand(WORD controlId, WORD notification);

    HINSTANCE m_instance;
    HWND m_hwnd{};
    std::array<HWND, kControlCount> m_controls{};
    UniqueFont m_windowFont;
    UniqueFont m_noticeFont;
    UINT m_dpi = USER_DEFAULT_SCREEN_DPI;
    HWND m_lastFocus{};

    // The removal, with the file-system object the last press of Delete made; held until the process ends.
    ControlRemoval m_removal;
};
