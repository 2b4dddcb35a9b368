#pragma once
// Drives the real exes from outside their processes, as a person or a deployment system would:
// start the tool, find its window and message boxes, read texts, rects, fonts and what the screen
// shows, press buttons and keys, wait for it to end; run the console companion and keep its output.
// Every wait has a timeout. Nothing here asserts: what goes wrong in the harness itself throws
// Installation::HarnessError, and the callers judge what the rest returns.

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/Unique.h"

// Long enough for Wine under an emulated CPU while other cases and a build share its processors
// (a start of the tool has taken over a minute so); a wait that succeeds ends as soon as it can.
inline constexpr DWORD kWaitMs = 150000;

// Polls `condition` every `pollMs` until it holds or the timeout passes. Not much more often: every
// look at another process's windows is a round of calls to the wineserver, which several cases
// running at once on an emulated processor pay for.
template <typename F>
bool WaitUntil(F condition, DWORD timeoutMs = kWaitMs, DWORD pollMs = 50) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (::GetTickCount() - start >= timeoutMs) return false;
        ::Sleep(pollMs);
    }
}

// The file `name` in the folder of this program (where the build puts every exe and DLL).
std::wstring ExeBesideThisProgram(const wchar_t* name);

// A program with a window, started from here. The tool by default: the exe beside this program,
// or the copy that QELPAD_APP_EXE names relative to its folder (the signing test starts the signed
// release so); which one is printed, so that a run's log shows the exe each case drove.
class AppProcess {
public:
    // Starts it and waits (polling every `pollMs`) for its main window: its first visible
    // top-level window that is not a message box. MainWindow() stays null when none came.
    explicit AppProcess(const std::wstring& exePath = L"", DWORD pollMs = 50);
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;
    ~AppProcess();  // ends the process if it still runs

    DWORD Pid() const noexcept { return m_pid; }
    DWORD ThreadId() const noexcept { return m_threadId; }
    HANDLE Process() const noexcept { return m_process.Get(); }
    HWND MainWindow() const noexcept { return m_main; }
    // The texts of the window and its controls when it was first seen visible.
    const std::vector<std::wstring>& FirstSeenTexts() const noexcept { return m_firstSeenTexts; }

    // A visible message box (class #32770) of the tool other than `except`, or null after the timeout.
    HWND WaitForMessageBox(DWORD timeoutMs = kWaitMs, HWND except = nullptr) const;
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
// Answers a message box with one of its buttons (IDOK, IDCANCEL); true when it has gone.
bool AnswerMessageBox(HWND box, int button);
// Which of the system's standard icons a message box shows, told by its pixels on the screen
// ("exclamation", "hand", "asterisk", "question", "application"), or "" when none is close.
std::string StandardIconShown(HWND box);

// Keys as a person types them, to the foreground window.
bool BringToFront(HWND hwnd);
void TypeKey(WORD virtualKey, bool shift = false);

// Saves what the screen shows of a window as a 24-bit BMP.
void SaveScreenshot(HWND hwnd, const std::wstring& file);

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
    std::wstring report;  // the probe's report as it was written, for a failure's message
};
// Loads `dll` into a running process, by LoadLibraryW on a thread of its own there, and waits for
// that thread (the process may end meanwhile).
void LoadIntoProcess(HANDLE process, const std::wstring& dll);

// Loads the probe DLL into the tool and reads its report. With `moveToDpi`, the probe first moves
// the main window to that DPI as Windows does when it is dragged onto a monitor of that scale:
// WM_GETDPISCALEDSIZE, then WM_DPICHANGED with a rectangle of the answered size at another place.
// The probe is loaded once a process: only the first call in a process does anything.
InsideFacts ReadInside(const AppProcess& app, UINT moveToDpi = 0);

// A console program run to its end, as a deployment system runs it: no console, its standard
// output and error captured through pipes.
struct ConsoleRun {
    DWORD exitCode = STILL_ACTIVE;  // STILL_ACTIVE when it did not end within the timeout
    std::string output;             // standard output, the bytes as written
    std::string errors;             // standard error
};
// With `elevated` it runs with the elevated token linked to this process's (Wine gives every
// process a limited one, as UAC gives an administrator), as a deployment system's SYSTEM or an
// elevated prompt runs it. `meanwhile`, when given, is called once it runs, with its process and the
// read end of its standard output, before anything of that output is read (what it writes beyond
// what the pipe holds waits till then).
ConsoleRun RunConsoleProgram(const std::wstring& exePath, const std::wstring& arguments, bool elevated = false,
                             const std::function<void(HANDLE process, HANDLE output)>& meanwhile = {},
                             DWORD timeoutMs = kWaitMs);
