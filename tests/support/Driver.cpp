#include "support/Driver.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "support/Installation.h"

namespace {

[[noreturn]] void Fail(const std::string& what) {
    throw Installation::HarnessError(what + ", error " + std::to_string(::GetLastError()));
}

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

std::wstring ExeBesideThisProgram(const wchar_t* name) { return FolderOfThisProgram() + L"\\" + name; }

namespace {

// The tool beside this test program (the release build), or the copy QELPAD_APP_EXE names relative to
// it (the signing test starts the signed release so). It is printed, so a run's log shows which exe
// each case drove.
std::wstring ToolExe() {
    wchar_t name[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableW(L"QELPAD_APP_EXE", name, MAX_PATH);
    const std::wstring exe = ExeBesideThisProgram(length == 0 || length >= MAX_PATH ? L"Qelpad80Remover.exe" : name);
    std::printf("AppProcess: starting %ls\n", exe.c_str());
    std::fflush(stdout);
    return exe;
}

}  // namespace

AppProcess::AppProcess(const std::wstring& exePath, DWORD pollMs) {
    const std::wstring exe = exePath.empty() ? ToolExe() : exePath;
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info)) {
        Fail("CreateProcessW of " + Installation::Show(exe));
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
        kWaitMs, pollMs);
    if (!m_main) {
        std::fprintf(stderr, "AppProcess: no window of %ls appeared\n", exe.c_str());
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

HWND AppProcess::WaitForMessageBox(DWORD timeoutMs, HWND except) const {
    HWND box = nullptr;
    WaitUntil(
        [&] {
            for (HWND hwnd : TopLevelWindows(m_pid)) {
                if (IsMessageBox(hwnd) && hwnd != except) box = hwnd;
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
    // WM_GETTEXT is copied across processes; a timeout keeps a hung tool from hanging the test. Not
    // SMTO_ABORTIFHUNG: under an emulated CPU a tool that is merely slow to start counts as hung.
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kWaitMs, &length)) return L"<hung>";
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    ::SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL, kWaitMs,
                          &copied);
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

bool AnswerMessageBox(HWND box, int button) {
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(box, button)));
    return WaitUntil([&] { return !::IsWindow(box); });
}

bool BringToFront(HWND hwnd) {
    ::SetForegroundWindow(hwnd);
    return WaitUntil([&] { return ::GetForegroundWindow() == hwnd; });
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

void LoadIntoProcess(HANDLE process, const std::wstring& dll) {
    const SIZE_T bytes = (dll.size() + 1) * sizeof(wchar_t);
    void* remote = ::VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!remote || !::WriteProcessMemory(process, remote, dll.c_str(), bytes, nullptr)) {
        Fail("writing into another process's memory");
    }
    auto* loadLibrary = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW")));
    UniqueHandle thread(::CreateRemoteThread(process, nullptr, 0, loadLibrary, remote, 0, nullptr));
    if (!thread) Fail("CreateRemoteThread");
    ::WaitForSingleObject(thread.Get(), kWaitMs);
}

InsideFacts ReadInside(const AppProcess& app, UINT moveToDpi) {
    InsideFacts facts;
    const std::wstring probe = ExeBesideThisProgram(L"inside_probe.dll");
    const std::wstring report = L"C:\\inside-probe-" + std::to_wstring(app.Pid()) + L".txt";
    const std::wstring request = L"C:\\inside-probe-" + std::to_wstring(app.Pid()) + L".in";
    {
        // The window the test found, not one the probe would guess at, and the move asked for.
        const std::string numbers = std::to_string(reinterpret_cast<UINT_PTR>(app.MainWindow())) + " " +
                                    std::to_string(moveToDpi);
        UniqueFile file(::CreateFileW(request.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        if (!file || !::WriteFile(file.Get(), numbers.data(), static_cast<DWORD>(numbers.size()), &written, nullptr)) {
            Fail("writing the probe's request");
        }
    }
    LoadIntoProcess(app.Process(), probe);
    // The report appears whole, by a rename; it is read once it opens and holds something (a first
    // open can still meet the rename under Wine).
    std::wstring all;
    DWORD lastError = 0;
    const bool gotReport = WaitUntil([&] {
        UniqueFile file(::CreateFileW(report.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
        LARGE_INTEGER size{};
        if (!file || !::GetFileSizeEx(file.Get(), &size)) {
            lastError = ::GetLastError();
            return false;
        }
        all.resize(static_cast<std::size_t>(size.QuadPart) / sizeof(wchar_t));
        DWORD bytes = 0;
        if (!::ReadFile(file.Get(), all.data(), static_cast<DWORD>(size.QuadPart), &bytes, nullptr)) {
            lastError = ::GetLastError();
            return false;
        }
        all.resize(bytes / sizeof(wchar_t));
        return !all.empty();
    });
    // Both go with the case: the session may serve the next one.
    ::DeleteFileW(request.c_str());
    ::DeleteFileW(report.c_str());
    if (!gotReport) Fail("reading the probe's report (last error " + std::to_string(lastError) + ")");
    // The icon's size, the move when one was asked for, then one line a control: id, height,
    // weight, charset, italic, underline, strike-out, face (UTF-16).
    std::wstring line;
    facts.report = all;
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

// ---- The screen ----

namespace {

// A 32-bit picture in memory to draw on and read back, row by row from the top.
class Canvas {
public:
    Canvas(int width, int height) : m_width(width), m_height(height) {
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        m_bitmap = ::CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, &m_bits, nullptr, 0);
        m_previous = ::SelectObject(m_dc, m_bitmap);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    ~Canvas() {
        ::SelectObject(m_dc, m_previous);
        ::DeleteObject(m_bitmap);
        ::DeleteDC(m_dc);
    }
    HDC Dc() const noexcept { return m_dc; }
    // Copies what the screen shows at `rect` (screen coordinates).
    void CopyScreen(const RECT& rect) {
        HDC screen = ::GetDC(nullptr);
        ::BitBlt(m_dc, 0, 0, m_width, m_height, screen, rect.left, rect.top, SRCCOPY);
        ::ReleaseDC(nullptr, screen);
    }
    // Blue, green, red and an unused byte a pixel.
    std::vector<BYTE> Pixels() const {
        ::GdiFlush();
        const auto* bytes = static_cast<const BYTE*>(m_bits);
        return bytes ? std::vector<BYTE>(bytes, bytes + static_cast<std::size_t>(m_width) * m_height * 4)
                     : std::vector<BYTE>();
    }

private:
    int m_width, m_height;
    HDC m_dc = ::CreateCompatibleDC(nullptr);
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_previous = nullptr;
    void* m_bits = nullptr;
};

long Distance(const std::vector<BYTE>& a, const std::vector<BYTE>& b) {
    long distance = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (i % 4 != 3) distance += std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i]));
    }
    return distance;
}

}  // namespace

// Each standard icon is drawn on the box's own background, and the closest one wins if it is close
// indeed. wine-only: the box holds the tool's own handle of the shared icon, another value
// than LoadIconW gives in this process, so handles cannot be compared. Xvfb has no window manager
// and shows the box unobscured, so the screen can be read.
std::string StandardIconShown(HWND box) {
    HWND control = nullptr;
    for (HWND child : Children(box)) {
        if (::IsWindowVisible(child) && _wcsicmp(ClassName(child).c_str(), L"Static") == 0 &&
            (::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            control = child;
        }
    }
    if (!control) return "";
    RECT rect{};
    ::GetWindowRect(control, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    const struct {
        const wchar_t* id;
        const char* name;
    } candidates[] = {{IDI_EXCLAMATION, "exclamation"}, {IDI_HAND, "hand"}, {IDI_ASTERISK, "asterisk"},
                      {IDI_QUESTION, "question"}, {IDI_APPLICATION, "application"}};
    Canvas canvas(width, height);
    std::string best;
    // Polled: the box may be on the screen before it is painted.
    WaitUntil([&] {
        canvas.CopyScreen(rect);
        const std::vector<BYTE> shown = canvas.Pixels();
        if (shown.empty()) return false;
        HBRUSH background = ::CreateSolidBrush(RGB(shown[2], shown[1], shown[0]));  // a corner is clear in each
        long bestDistance = -1;
        for (const auto& candidate : candidates) {
            const RECT all{0, 0, width, height};
            ::FillRect(canvas.Dc(), &all, background);
            ::DrawIconEx(canvas.Dc(), 0, 0, ::LoadIconW(nullptr, candidate.id), width, height, 0, nullptr, DI_NORMAL);
            const long distance = Distance(canvas.Pixels(), shown);
            if (bestDistance < 0 || distance < bestDistance) {
                bestDistance = distance;
                best = candidate.name;
            }
        }
        ::DeleteObject(background);
        // A few levels a colour on average at most: blending may round differently.
        if (bestDistance > static_cast<long>(width) * height * 3 * 4) best.clear();
        return !best.empty();
    });
    return best;
}

void SaveScreenshot(HWND hwnd, const std::wstring& file) {
    RECT rect{};
    ::GetWindowRect(hwnd, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    Canvas canvas(width, height);
    canvas.CopyScreen(rect);
    const std::vector<BYTE> pixels = canvas.Pixels();
    const DWORD size = static_cast<DWORD>(pixels.size());
    const BITMAPINFOHEADER info{sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, size, 0, 0, 0, 0};
    const BITMAPFILEHEADER header{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(info) + size), 0, 0,
                                  sizeof(BITMAPFILEHEADER) + sizeof(info)};
    UniqueFile out(::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    if (!out || !::WriteFile(out.Get(), &header, sizeof(header), &written, nullptr) ||
        !::WriteFile(out.Get(), &info, sizeof(info), &written, nullptr) ||
        !::WriteFile(out.Get(), pixels.data(), size, &written, nullptr)) {
        Fail("saving a screenshot");
    }
}

// ---- The console companion ----

namespace {

// A pipe whose write end the child inherits; its read end is drained by a thread of its own, so a
// child that writes more than the pipe holds never waits on us.
class CapturedPipe {
public:
    CapturedPipe() {
        SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
        if (!::CreatePipe(m_read.Put(), m_write.Put(), &inherit, 0)) Fail("CreatePipe");
        ::SetHandleInformation(m_read.Get(), HANDLE_FLAG_INHERIT, 0);
    }
    CapturedPipe(const CapturedPipe&) = delete;
    CapturedPipe& operator=(const CapturedPipe&) = delete;
    ~CapturedPipe() { Finish(); }
    HANDLE WriteEnd() const noexcept { return m_write.Get(); }
    HANDLE ReadEnd() const noexcept { return m_read.Get(); }
    void StartReading() {
        m_write.Reset();  // the child holds its own copy now
        m_reader = std::thread([this] {
            char buffer[4096];
            DWORD read = 0;
            while (::ReadFile(m_read.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) m_bytes.append(buffer, read);
        });
    }
    std::string Finish() {
        if (m_reader.joinable()) m_reader.join();
        return m_bytes;
    }

private:
    UniqueHandle m_read, m_write;
    std::thread m_reader;
    std::string m_bytes;
};

}  // namespace

namespace {

// The elevated token of this process: its own when it is elevated, else the one linked to it.
UniqueHandle ElevatedToken() {
    UniqueHandle own;
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY, &raw)) {
        Fail("OpenProcessToken");
    }
    own.Reset(raw);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (::GetTokenInformation(own.Get(), TokenElevation, &elevation, sizeof(elevation), &size) &&
        elevation.TokenIsElevated) {
        return own;
    }
    TOKEN_LINKED_TOKEN linked{};
    if (!::GetTokenInformation(own.Get(), TokenLinkedToken, &linked, sizeof(linked), &size)) Fail("TokenLinkedToken");
    return UniqueHandle(linked.LinkedToken);
}

}  // namespace

ConsoleRun RunConsoleProgram(const std::wstring& exePath, const std::wstring& arguments, bool elevated,
                             const std::function<void(HANDLE process, HANDLE output)>& meanwhile, DWORD timeoutMs) {
    CapturedPipe output, errors;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = output.WriteEnd();
    startup.hStdError = errors.WriteEnd();
    std::wstring commandLine = L"\"" + exePath + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    PROCESS_INFORMATION info{};
    const UniqueHandle token = elevated ? ElevatedToken() : UniqueHandle();
    // No console at all: CREATE_NO_WINDOW would give it a hidden one, a conhost process of its own.
    const DWORD flags = DETACHED_PROCESS;
    const BOOL started = elevated ? ::CreateProcessAsUserW(token.Get(), exePath.c_str(), commandLine.data(), nullptr,
                                                           nullptr, TRUE, flags, nullptr, nullptr, &startup, &info)
                                  : ::CreateProcessW(exePath.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags,
                                                     nullptr, nullptr, &startup, &info);
    if (!started) Fail("starting " + Installation::Show(exePath));
    UniqueHandle process(info.hProcess);
    ::CloseHandle(info.hThread);
    errors.StartReading();
    if (meanwhile) meanwhile(process.Get(), output.ReadEnd());
    output.StartReading();
    ConsoleRun run;
    if (::WaitForSingleObject(process.Get(), timeoutMs) != WAIT_OBJECT_0) ::TerminateProcess(process.Get(), STILL_ACTIVE);
    ::WaitForSingleObject(process.Get(), kWaitMs);
    ::GetExitCodeProcess(process.Get(), &run.exitCode);
    run.output = output.Finish();
    run.errors = errors.Finish();
    return run;
}
