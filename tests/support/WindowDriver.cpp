#include "support/WindowDriver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

namespace {

std::wstring FolderOfThisProgram() {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.rfind(L'\\'));
}

bool IsMessageBox(HWND hwnd) { return ClassName(hwnd) == L"#32770"; }

// The driver reads the tool's windows in real pixels, as the tool (per-monitor aware) lays them out.
// A process unaware of DPI is shown them scaled to 96 dpi, by Wine 10 as by Windows.
const bool kDpiAware = [] {
    using SetContextFn = BOOL(WINAPI*)(HANDLE);
    const auto setContext = reinterpret_cast<SetContextFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
    const auto kPerMonitorAwareV2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
    return setContext ? setContext(kPerMonitorAwareV2) != FALSE : ::SetProcessDPIAware() != FALSE;
}();

// Visible top-level windows of a process.
std::vector<HWND> TopLevelWindows(DWORD pid) {
    struct Search {
        DWORD pid;
        std::vector<HWND> found;
    } search{pid, {}};
    ::EnumWindows(
        [](HWND hwnd, LPARAM lParam) CALLBACK -> BOOL {
            auto* s = reinterpret_cast<Search*>(lParam);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(hwnd, &owner);
            if (owner == s->pid && ::IsWindowVisible(hwnd)) s->found.push_back(hwnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

std::wstring ExeBesideTests(const wchar_t* name) { return FolderOfThisProgram() + L"\\" + name; }

namespace {

// The tool beside this test program (the release build), or the copy QELPAD_APP_EXE names relative to
// it (the signing test starts the signed release so). It is printed, so a run's log shows which exe
// each case drove.
std::wstring ToolExe() {
    wchar_t name[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableW(L"QELPAD_APP_EXE", name, MAX_PATH);
    const std::wstring exe = ExeBesideTests(length == 0 || length >= MAX_PATH ? L"Qelpad80Remover.exe" : name);
    std::printf("AppProcess: starting %ls\n", exe.c_str());
    std::fflush(stdout);
    return exe;
}

}  // namespace

AppProcess::AppProcess(const std::wstring& exePath) {
    const std::wstring exe = exePath.empty() ? ToolExe() : exePath;
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info)) {
        ADD_FAILURE() << "CreateProcessW failed, error " << ::GetLastError();
        return;
    }
    m_process.Reset(info.hProcess);
    ::CloseHandle(info.hThread);
    m_pid = info.dwProcessId;
    m_threadId = info.dwThreadId;
    WaitUntil(
        [&] {
            for (HWND hwnd : TopLevelWindows(m_pid)) {
                if (!IsMessageBox(hwnd)) m_main = hwnd;
            }
            return m_main != nullptr;
        },
        kWaitMs);
    if (!m_main) {
        ADD_FAILURE() << "the tool's window did not appear";
        return;
    }
    m_firstSeenTexts.push_back(WindowText(m_main));
    for (HWND child : Children(m_main)) m_firstSeenTexts.push_back(WindowText(child));
}

AppProcess::~AppProcess() {
    if (m_process && Running()) {
        ::TerminateProcess(m_process.Get(), 0xDEAD);
        ::WaitForSingleObject(m_process.Get(), kWaitMs);
    }
}

HWND AppProcess::WaitForMessageBox(DWORD timeoutMs) const {
    HWND box = nullptr;
    WaitUntil(
        [&] {
            for (HWND hwnd : TopLevelWindows(m_pid)) {
                if (IsMessageBox(hwnd)) box = hwnd;
            }
            return box != nullptr;
        },
        timeoutMs);
    return box;
}

bool AppProcess::NoMessageBoxFor(DWORD forMs) const { return WaitForMessageBox(forMs) == nullptr; }

DWORD AppProcess::WaitForExit(DWORD timeoutMs) const {
    if (!m_process) return STILL_ACTIVE;
    ::WaitForSingleObject(m_process.Get(), timeoutMs);
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(m_process.Get(), &code);
    return code;
}

HWND AppProcess::Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    return ::GetGUIThreadInfo(m_threadId, &info) ? info.hwndFocus : nullptr;
}

std::wstring WindowText(HWND hwnd) {
    // WM_GETTEXT is copied across processes; a timeout keeps a hung tool from hanging the test.
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kWaitMs, &length)) return L"<hung>";
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    ::SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                          kWaitMs, &copied);
    text.resize(copied);
    return text;
}

std::wstring ClassName(HWND hwnd) {
    wchar_t name[256] = {};
    ::GetClassNameW(hwnd, name, 256);
    return name;
}

RECT ChildRect(HWND child) {
    RECT rect{};
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(nullptr, ::GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

RECT ClientRect(HWND hwnd) {
    RECT rect{};
    ::GetClientRect(hwnd, &rect);
    return rect;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = ::GetWindow(parent, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

HWND ChildWithText(HWND parent, const std::wstring& text) {
    for (HWND child : Children(parent)) {
        if (WindowText(child) == text) return child;
    }
    return nullptr;
}

void PressButton(HWND button) { ::PostMessageW(button, BM_CLICK, 0, 0); }

MessageBoxContents ReadMessageBox(HWND box) {
    MessageBoxContents contents;
    contents.title = WindowText(box);
    for (HWND child : Children(box)) {
        if (!::IsWindowVisible(child)) continue;
        const std::wstring kind = ClassName(child);
        const LONG style = ::GetWindowLongW(child, GWL_STYLE);
        if (_wcsicmp(kind.c_str(), L"Button") == 0) {
            contents.buttons.push_back(::GetDlgCtrlID(child));
        } else if (_wcsicmp(kind.c_str(), L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON) {
            contents.icon = reinterpret_cast<HICON>(::SendMessageW(child, STM_GETICON, 0, 0));
        } else if (_wcsicmp(kind.c_str(), L"Static") == 0) {
            contents.text = WindowText(child);
        }
    }
    return contents;
}

void AnswerMessageBox(HWND box, int button) {
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(box, button)));
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(box); })) << "the message box stayed";
}

void BringToFront(HWND hwnd) {
    ::SetForegroundWindow(hwnd);
    EXPECT_TRUE(WaitUntil([&] { return ::GetForegroundWindow() == hwnd; })) << "could not bring the window to front";
}

void TypeKey(WORD virtualKey, bool shift) {
    std::vector<INPUT> inputs;
    auto key = [&](WORD vk, bool up) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = vk;
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(input);
    };
    if (shift) key(VK_SHIFT, false);
    key(virtualKey, false);
    key(virtualKey, true);
    if (shift) key(VK_SHIFT, true);
    ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

InsideFacts ReadInside(const AppProcess& app, UINT moveToDpi) {
    InsideFacts facts;
    const std::wstring probe = ExeBesideTests(L"inside_probe.dll");
    const std::wstring report = L"C:\\inside-probe-" + std::to_wstring(app.Pid()) + L".txt";
    if (moveToDpi) {
        const std::wstring request = L"C:\\inside-probe-" + std::to_wstring(app.Pid()) + L".dpi";
        const std::string digits = std::to_string(moveToDpi);
        UniqueHandle file(::CreateFileW(request.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        if (file.Get() == INVALID_HANDLE_VALUE ||
            !::WriteFile(file.Get(), digits.data(), static_cast<DWORD>(digits.size()), &written, nullptr)) {
            ADD_FAILURE() << "could not ask the probe for a move, error " << ::GetLastError();
            return facts;
        }
    }
    const SIZE_T bytes = (probe.size() + 1) * sizeof(wchar_t);
    void* remote = ::VirtualAllocEx(app.Process(), nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!remote || !::WriteProcessMemory(app.Process(), remote, probe.c_str(), bytes, nullptr)) {
        ADD_FAILURE() << "could not write into the tool's memory, error " << ::GetLastError();
        return facts;
    }
    auto* loadLibrary = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW")));
    UniqueHandle thread(::CreateRemoteThread(app.Process(), nullptr, 0, loadLibrary, remote, 0, nullptr));
    if (!thread) {
        ADD_FAILURE() << "CreateRemoteThread failed, error " << ::GetLastError();
        return facts;
    }
    if (!WaitUntil([&] { return ::GetFileAttributesW(report.c_str()) != INVALID_FILE_ATTRIBUTES; })) {
        ADD_FAILURE() << "the font probe wrote no report";
        return facts;
    }
    // The icon's size, the move when one was asked for, then one line a control: id, height,
    // weight, charset, italic, underline, strike-out, face (UTF-16).
    std::wstring line;
    std::wstring all;
    {
        UniqueHandle file(
            ::CreateFileW(report.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        LARGE_INTEGER size{};
        ::GetFileSizeEx(file.Get(), &size);
        all.resize(static_cast<std::size_t>(size.QuadPart) / sizeof(wchar_t));
        DWORD read = 0;
        ::ReadFile(file.Get(), all.data(), static_cast<DWORD>(size.QuadPart), &read, nullptr);
    }
    std::wistringstream lines(all);
    std::wstring word;
    if (std::getline(lines, line)) std::wistringstream(line) >> word >> facts.icon.cx >> facts.icon.cy;
    while (std::getline(lines, line)) {
        std::wistringstream fields(line);
        if (line.rfind(L"moved\t", 0) == 0) {
            int answered = 0;
            RECT& r = facts.suggested;
            fields >> word >> answered >> r.left >> r.top >> r.right >> r.bottom;
            facts.moved = !fields.fail();
            facts.scaledSizeAnswered = answered != 0;
            continue;
        }
        int id = 0, charSet = 0, italic = 0, underline = 0, strike = 0;
        FontFacts font;
        fields >> id >> font.height >> font.weight >> charSet >> italic >> underline >> strike;
        fields.get();  // the tab before the face
        std::getline(fields, font.face);
        font.charSet = static_cast<BYTE>(charSet);
        font.italic = italic != 0;
        font.underline = underline != 0;
        font.strikeOut = strike != 0;
        facts.fonts.emplace_back(id, font);
    }
    return facts;
}
