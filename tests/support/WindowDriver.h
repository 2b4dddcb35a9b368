#pragma once
// Drives the real Qelpad80Remover.exe from outside its process, as a person would:
// start it, find its window and message boxes, read texts, rects and fonts, press
// buttons and keys, and wait for it to end. Every wait has a timeout.

#include <windows.h>

#include <string>
#include <vector>

#include "base/Unique.h"

inline constexpr DWORD kWaitMs = 15000;

// The tool, started from the folder of this test program.
class AppProcess {
public:
    // Starts the exe beside this test program (or `exePath`, or the copy QELPAD_APP_EXE names relative to
    // this program's folder) and waits for its main window.
    explicit AppProcess(const std::wstring& exePath = L"");
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;
    ~AppProcess();  // ends the process if it still runs

    DWORD Pid() const noexcept { return m_pid; }
    DWORD ThreadId() const noexcept { return m_threadId; }
    HANDLE Process() const noexcept { return m_process.Get(); }
    HWND MainWindow() const noexcept { return m_main; }
    // The texts of the window and its controls when it was first seen visible.
    const std::vector<std::wstring>& FirstSeenTexts() const noexcept { return m_firstSeenTexts; }

    // A visible message box (class #32770) of the tool, or null after the timeout.
    HWND WaitForMessageBox(DWORD timeoutMs = kWaitMs) const;
    // True when the tool shows no message box (checked over `forMs`).
    bool NoMessageBoxFor(DWORD forMs) const;
    // The exit code, or STILL_ACTIVE when it has not ended within the timeout.
    DWORD WaitForExit(DWORD timeoutMs = kWaitMs) const;
    bool Running() const { return WaitForExit(0) == STILL_ACTIVE; }
    // The window that has the keyboard focus in the tool's UI thread.
    HWND Focus() const;

private:
    UniqueHandle m_process;
    DWORD m_pid = 0;
    DWORD m_threadId = 0;
    HWND m_main = nullptr;
    std::vector<std::wstring> m_firstSeenTexts;
};

std::wstring ExeBesideTests(const wchar_t* name);
std::wstring WindowText(HWND hwnd);
std::wstring ClassName(HWND hwnd);
// Rect of a child in its parent's client coordinates.
RECT ChildRect(HWND child);
RECT ClientRect(HWND hwnd);
std::vector<HWND> Children(HWND parent);  // direct children, in Z order
HWND ChildWithText(HWND parent, const std::wstring& text);

// Press a button the way a click does, without waiting for what the click starts.
void PressButton(HWND button);

struct MessageBoxContents {
    std::wstring title;
    std::wstring text;
    std::vector<int> buttons;  // IDs of the visible buttons, e.g. {IDOK, IDCANCEL}
    HICON icon = nullptr;      // the icon shown, or null
};
MessageBoxContents ReadMessageBox(HWND box);
// Answers a message box with one of its buttons (IDOK, IDCANCEL) and waits until it has gone.
void AnswerMessageBox(HWND box, int button);

// Keys as a person types them, to the foreground window.
void BringToFront(HWND hwnd);
void TypeKey(WORD virtualKey, bool shift = false);

// What a font of a control is.
struct FontFacts {
    std::wstring face;
    LONG height = 0;
    LONG weight = 0;
    BYTE charSet = 0;
    bool italic = false, underline = false, strikeOut = false;
};
// What only the tool's own process can read under Wine.
struct InsideFacts {
    std::vector<std::pair<int, FontFacts>> fonts;  // every child of the main window, by control ID
    SIZE icon{};                                   // the main window's big icon
    // After a move to another DPI: whether the window answered WM_GETDPISCALEDSIZE, and the
    // rectangle WM_DPICHANGED suggested to it.
    bool moved = false;
    bool scaledSizeAnswered = false;
    RECT suggested{};
};
// Loads the probe DLL into the tool and reads its report. With `moveToDpi`, the probe first moves
// the main window to that DPI as Windows does when it is dragged onto a monitor of that scale:
// WM_GETDPISCALEDSIZE, then WM_DPICHANGED with a rectangle of the answered size at another place.
// The probe is loaded once a process: only the first call in a process does anything.
InsideFacts ReadInside(const AppProcess& app, UINT moveToDpi = 0);

// Polls `condition` until it holds or the timeout passes.
template <typename F>
bool WaitUntil(F condition, DWORD timeoutMs = kWaitMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (::GetTickCount() - start >= timeoutMs) return false;
        ::Sleep(10);
    }
}
