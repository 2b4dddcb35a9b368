// Benchmark driver, run in the Wine root under WoW64 by scripts/benchmark.sh. Like the release it is a
// 32-bit program: system32 below leads it to SysWOW64, so notepad, cmd and the batch file's reg are the
// 32-bit ones, working in the same views as the tool. Measures the tool side by side with what a user
// could use instead, alternating the two sides round by round:
//   start-up     process creation to the main window visible with its final title, against notepad.exe
//   idle memory  working set once the window has been idle, against notepad.exe
//   removal      answering OK to the success message, a full installation planted, against a batch
//                file run by cmd.exe that checks and deletes the same files and deletes the same keys
//   bench_driver.exe TOOL.exe [ROUNDS]
// Prints every round, then medians and ratios. Exits non-zero when a run fails, not when a goal is missed.

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/Unique.h"
#include "removal/Names.h"

namespace {

constexpr wchar_t kToolTitle[] = L"QelpadRemover - Tavrex安全登录控件删除工具(TAVREX.COM) - Ver0.1";
constexpr wchar_t kRemovedText[] = L"删除成功，谢谢您的使用";
constexpr wchar_t kNotepad[] = L"C:\\windows\\system32\\notepad.exe";
constexpr wchar_t kCmd[] = L"C:\\windows\\system32\\cmd.exe";
constexpr wchar_t kBenchFolder[] = L"C:\\qelpad-bench";
constexpr wchar_t kBatchFile[] = L"C:\\qelpad-bench\\remove.bat";
// Where the planted registration says the module is: the root of the browser's download cache.
constexpr wchar_t kRegisteredModule[] = L"C:\\WINDOWS\\Downloaded Program Files\\Qelpad80.dll";
constexpr DWORD kTimeoutMs = 30000;
constexpr DWORD kIdleMs = 1500;

double NowMs() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / frequency;
}

void Fail(const std::string& what) { throw std::runtime_error(what); }

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = kTimeoutMs) {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (::GetTickCount64() >= end) return false;
        ::Sleep(1);
    }
    return true;
}

std::wstring Text(HWND hwnd) {
    wchar_t text[512] = {};
    ::GetWindowTextW(hwnd, text, 512);  // another process's window: its stored text, no message sent
    return text;
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[64] = {};
    ::GetClassNameW(hwnd, name, 64);
    return name;
}

// The first visible top-level window of `pid` that `accept` takes, or null.
HWND VisibleWindowOf(DWORD pid, const std::function<bool(HWND)>& accept) {
    struct Search {
        DWORD pid;
        const std::function<bool(HWND)>* accept;
        HWND found;
    } search{pid, &accept, nullptr};
    ::EnumWindows(
        [](HWND hwnd, LPARAM lParam) CALLBACK -> BOOL {
            auto* s = reinterpret_cast<Search*>(lParam);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(hwnd, &owner);
            if (owner != s->pid || !::IsWindowVisible(hwnd) || !(*s->accept)(hwnd)) return TRUE;
            s->found = hwnd;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

class Child {
public:
    explicit Child(std::wstring commandLine) {
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &info)) {
            Fail("CreateProcessW failed, error " + std::to_string(::GetLastError()));
        }
        m_process.Reset(info.hProcess);
        ::CloseHandle(info.hThread);
        m_pid = info.dwProcessId;
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (::WaitForSingleObject(m_process.Get(), 0) == WAIT_TIMEOUT) ::TerminateProcess(m_process.Get(), 1);
        ::WaitForSingleObject(m_process.Get(), kTimeoutMs);
    }
    DWORD Pid() const { return m_pid; }
    HANDLE Handle() const { return m_process.Get(); }
    bool WaitForExit(DWORD timeoutMs = kTimeoutMs) const {
        return ::WaitForSingleObject(m_process.Get(), timeoutMs) == WAIT_OBJECT_0;
    }

private:
    UniqueHandle m_process;
    DWORD m_pid = 0;
};

// ---- Start-up and idle memory ----

struct StartupFigures {
    double startMs = 0;
    double workingSetKiB = 0;
    double modules = 0;
};

StartupFigures StartAndIdle(const std::wstring& commandLine, const std::function<bool(HWND)>& isMainWindow) {
    StartupFigures figures;
    const double start = NowMs();
    Child child(commandLine);
    HWND window = nullptr;
    if (!WaitUntil([&] { return (window = VisibleWindowOf(child.Pid(), isMainWindow)) != nullptr; })) {
        Fail("no main window appeared");
    }
    figures.startMs = NowMs() - start;

    ::Sleep(kIdleMs);
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof(memory);
    if (!::GetProcessMemoryInfo(child.Handle(), &memory, sizeof(memory))) {
        Fail("GetProcessMemoryInfo failed, error " + std::to_string(::GetLastError()));
    }
    figures.workingSetKiB = static_cast<double>(memory.WorkingSetSize) / 1024.0;
    HMODULE modules[512];
    DWORD bytes = 0;
    if (::EnumProcessModulesEx(child.Handle(), modules, sizeof(modules), &bytes, LIST_MODULES_ALL)) {
        figures.modules = static_cast<double>(bytes / sizeof(HMODULE));
    }

    ::PostMessageW(window, WM_CLOSE, 0, 0);
    if (!child.WaitForExit()) Fail("did not end after WM_CLOSE");
    return figures;
}

StartupFigures StartTool(const std::wstring& tool) {
    return StartAndIdle(L"\"" + tool + L"\"", [](HWND hwnd) { return Text(hwnd) == kToolTitle; });
}

StartupFigures StartNotepad() {
    return StartAndIdle(kNotepad, [](HWND hwnd) { return ClassOf(hwnd) == L"Notepad"; });
}

// ---- The installation the removal finds ----

std::vector<std::wstring> ControlFolders() {
    std::vector<std::wstring> folders = {Names::kSystemFolder, Names::kMakerFolder};
    for (int n = Names::kFirstConflictFolder; n <= Names::kLastConflictFolder; ++n) {
        folders.push_back(Names::kConflictFolderPrefix + std::to_wstring(n));
    }
    return folders;
}

// In the order the tool visits them: the registered module, then two files a folder.
std::vector<std::wstring> ControlFiles() {
    std::vector<std::wstring> files = {kRegisteredModule};
    for (const std::wstring& folder : ControlFolders()) {
        files.push_back(folder + Names::kModuleFileName);
        files.push_back(folder + Names::kSetupFileName);
    }
    return files;
}

struct Key {
    HKEY root;
    const char* rootName;  // as reg.exe spells it
    std::wstring path;
};

std::vector<Key> ControlKeys() {
    std::vector<Key> keys;
    for (const wchar_t* suffix : Names::kClassKeySuffixes) {
        keys.push_back({HKEY_CLASSES_ROOT, "HKCR", std::wstring(Names::kClassKey) + suffix});
    }
    for (const wchar_t* subkey : Names::kUnitSubkeys) {
        keys.push_back({HKEY_LOCAL_MACHINE, "HKLM", std::wstring(Names::kUnitKey) + (*subkey ? L"\\" : L"") + subkey});
    }
    return keys;
}

void WriteFileOf(const std::wstring& path, const std::string& content) {
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
    DWORD written = 0;
    if (file.Get() == INVALID_HANDLE_VALUE ||
        !::WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr)) {
        Fail("could not write a file, error " + std::to_string(::GetLastError()));
    }
}

void SetDefaultValue(const Key& key, const std::wstring& value) {
    UniqueHKey opened;
    if (::RegCreateKeyExW(key.root, key.path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, opened.Put(), nullptr) !=
        ERROR_SUCCESS) {
        Fail("could not create a key");
    }
    ::RegSetValueExW(opened.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void PlantInstallation() {
    ::CreateDirectoryW(L"C:\\WINDOWS\\Downloaded Program Files", nullptr);
    for (const std::wstring& folder : ControlFolders()) ::CreateDirectoryW(folder.c_str(), nullptr);
    for (const std::wstring& file : ControlFiles()) WriteFileOf(file, std::string(4096, 'Q'));
    for (const Key& key : ControlKeys()) {
        const bool modulePath = key.path == Names::kModulePathKey;
        SetDefaultValue(key, modulePath ? std::wstring(kRegisteredModule) + L", 1" : L"");
    }
}

int Leftovers() {
    int left = 0;
    for (const std::wstring& file : ControlFiles()) {
        left += ::GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    for (const Key& key : ControlKeys()) {
        UniqueHKey opened;
        left += ::RegOpenKeyExW(key.root, key.path.c_str(), 0, KEY_READ, opened.Put()) == ERROR_SUCCESS;
    }
    return left;
}

// ---- Removal ----

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) narrow += static_cast<char>(c);  // the paths and keys are ASCII
    return narrow;
}

// The same work by hand: a check and a deletion a file, one reg.exe a key, in the tool's order.
void WriteBatchFile() {
    ::CreateDirectoryW(kBenchFolder, nullptr);
    std::string script = "@echo off\r\n";
    for (const std::wstring& file : ControlFiles()) {
        script += "if exist \"" + Narrow(file) + "\" del \"" + Narrow(file) + "\"\r\n";
    }
    for (const Key& key : ControlKeys()) {
        script += "reg delete \"" + std::string(key.rootName) + "\\" + Narrow(key.path) + "\" /f >nul 2>&1\r\n";
    }
    WriteFileOf(kBatchFile, script);
}

double RemoveWithBatch() {
    const double start = NowMs();
    Child cmd(std::wstring(L"\"") + kCmd + L"\" /c " + kBatchFile);
    if (!cmd.WaitForExit()) Fail("the batch file did not finish");
    return NowMs() - start;
}

HWND MessageBoxOf(DWORD pid) {
    return VisibleWindowOf(pid, [](HWND hwnd) { return ClassOf(hwnd) == L"#32770"; });
}

bool ShowsText(HWND box, const wchar_t* text) {
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (Text(child) == text) return true;
    }
    return false;
}

double RemoveWithTool(const std::wstring& tool) {
    Child app(L"\"" + tool + L"\"");
    HWND window = nullptr;
    const auto isMainWindow = [](HWND hwnd) { return Text(hwnd) == kToolTitle; };
    if (!WaitUntil([&] { return (window = VisibleWindowOf(app.Pid(), isMainWindow)) != nullptr; })) {
        Fail("the tool's window did not appear");
    }
    const HWND deleteButton = ::FindWindowExW(window, nullptr, L"Button", L"【删除】");
    ::PostMessageW(deleteButton, BM_CLICK, 0, 0);
    HWND confirmation = nullptr;
    if (!WaitUntil([&] { return (confirmation = MessageBoxOf(app.Pid())) != nullptr; })) Fail("no confirmation");

    const double start = NowMs();
    ::PostMessageW(confirmation, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    HWND outcome = nullptr;
    if (!WaitUntil([&] {
            outcome = MessageBoxOf(app.Pid());
            return outcome && outcome != confirmation;
        })) {
        Fail("no message after the confirmation");
    }
    const double elapsed = NowMs() - start;

    if (!ShowsText(outcome, kRemovedText)) Fail("the tool did not report success");
    ::PostMessageW(outcome, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    if (!app.WaitForExit()) Fail("the tool did not end after the removal");
    return elapsed;
}

double Removal(const std::function<double()>& remove) {
    PlantInstallation();
    if (Leftovers() != static_cast<int>(ControlFiles().size() + ControlKeys().size())) Fail("planting failed");
    const double ms = remove();
    if (const int left = Leftovers()) Fail(std::to_string(left) + " files or keys were left");
    return ms;
}

// ---- Report ----

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// A goal of 0 marks a figure that explains the others.
void Compare(const char* what, const char* unit, const std::vector<double>& tool, const std::vector<double>& other,
             const char* otherName, double goalRatio) {
    const double ratio = Median(tool) / Median(other);
    std::printf("%-20s tool %9.1f %-3s  %-7s %9.1f %-3s  ratio %6.3f", what, Median(tool), unit, otherName,
                Median(other), unit, ratio);
    if (goalRatio > 0) std::printf("  goal <= %.2f  %s", goalRatio, ratio <= goalRatio ? "met" : "MISSED");
    std::printf("\n");
}

std::vector<double> Pick(const std::vector<StartupFigures>& runs, double StartupFigures::*field) {
    std::vector<double> values;
    for (const StartupFigures& run : runs) values.push_back(run.*field);
    return values;
}

struct Results {
    std::vector<StartupFigures> toolStarts, notepadStarts;
    std::vector<double> toolRemovals, batchRemovals;
};

// One round of each measure; the side that goes first changes from round to round.
void RunRound(const std::wstring& tool, int round, Results& results) {
    const bool toolFirst = round % 2 == 0;
    const auto removeWithTool = [&] { return RemoveWithTool(tool); };
    if (toolFirst) results.toolStarts.push_back(StartTool(tool));
    results.notepadStarts.push_back(StartNotepad());
    if (!toolFirst) results.toolStarts.push_back(StartTool(tool));
    if (toolFirst) results.toolRemovals.push_back(Removal(removeWithTool));
    results.batchRemovals.push_back(Removal(RemoveWithBatch));
    if (!toolFirst) results.toolRemovals.push_back(Removal(removeWithTool));
    std::printf("round %d: start-up %.1f / %.1f ms, working set %.0f / %.0f KiB, removal %.1f / %.1f ms "
                "(tool / other)\n",
                round + 1, results.toolStarts.back().startMs, results.notepadStarts.back().startMs,
                results.toolStarts.back().workingSetKiB, results.notepadStarts.back().workingSetKiB,
                results.toolRemovals.back(), results.batchRemovals.back());
    std::fflush(stdout);
}

void PrintSummary(const Results& results, int rounds) {
    using F = StartupFigures;
    const auto& tool = results.toolStarts;
    const auto& notepad = results.notepadStarts;
    std::printf("\nmedians of %d rounds, sides alternating:\n", rounds);
    Compare("start-up", "ms", Pick(tool, &F::startMs), Pick(notepad, &F::startMs), "notepad", 1.0);
    Compare("idle working set", "KiB", Pick(tool, &F::workingSetKiB), Pick(notepad, &F::workingSetKiB), "notepad", 1.0);
    Compare("modules loaded", "", Pick(tool, &F::modules), Pick(notepad, &F::modules), "notepad", 0);
    Compare("removal", "ms", results.toolRemovals, results.batchRemovals, "batch", 0.1);
    std::printf("removal: %zu files checked and deleted, %zu keys deleted on each side\n", ControlFiles().size(),
                ControlKeys().size());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_driver TOOL.exe [ROUNDS]\n");
        return 2;
    }
    const std::wstring tool = argv[1];
    const int rounds = argc > 2 ? std::max(1, _wtoi(argv[2])) : 7;
    try {
        // One unmeasured run of each side, so that neither pays for Wine's first start.
        StartTool(tool);
        StartNotepad();
        WriteBatchFile();
        Results results;
        for (int round = 0; round < rounds; ++round) RunRound(tool, round, results);
        PrintSummary(results, rounds);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_driver: %s\n", error.what());
        return 1;
    }
}
