// Benchmark driver, run in the Wine root under WoW64 by scripts/benchmark.sh. Like the release it is a
// 32-bit program: system32 below leads it to SysWOW64, so notepad, cmd and the batch file's reg are the
// 32-bit ones, working in the same views as the tool. Built on the tests' support code. Measures the
// tool side by side with its references, alternating which side goes first round by round:
//   start-up     process creation to the main window visible, against minimal_window.exe (the same
//                window, fonts and manifest with nothing else: the limit) and notepad.exe (a reference)
//   idle memory  working set once the window has been idle, against notepad.exe
//   removal      answering OK to the success message, a full installation planted, against a batch
//                file run by cmd.exe that checks and deletes the same files and deletes the same keys
//   console      the console companion's `remove` on the same installation, against the batch file
//   bench_driver.exe TOOL.exe [ROUNDS] [startup]     (startup: only the tool against its limit)
// Prints every round, then medians and ratios. Exits non-zero when a run fails, not when a goal is missed.

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/Driver.h"
#include "support/Expected.h"
#include "support/Installation.h"

namespace {

using namespace Expected;
using namespace Installation;

constexpr wchar_t kNotepad[] = L"C:\\windows\\system32\\notepad.exe";
constexpr wchar_t kCmd[] = L"C:\\windows\\system32\\cmd.exe";
constexpr wchar_t kBenchFolder[] = L"C:\\qelpad-bench";
constexpr wchar_t kBatchFile[] = L"C:\\qelpad-bench\\remove.bat";
constexpr DWORD kTimeoutMs = 60000;
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

// ---- Start-up and idle memory ----

struct StartupFigures {
    double startMs = 0;
    double workingSetKiB = 0;
    double modules = 0;
};

StartupFigures StartAndIdle(const std::wstring& exe, bool idle = true) {
    StartupFigures figures;
    const double start = NowMs();
    AppProcess app(exe, 1);
    if (!app.MainWindow()) Fail("no main window appeared");
    figures.startMs = NowMs() - start;
    if (!idle) {
        ::PostMessageW(app.MainWindow(), WM_CLOSE, 0, 0);
        if (app.WaitForExit(kTimeoutMs) == STILL_ACTIVE) Fail("did not end after WM_CLOSE");
        return figures;
    }

    ::Sleep(kIdleMs);
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof(memory);
    if (!::GetProcessMemoryInfo(app.Process(), &memory, sizeof(memory))) Fail("GetProcessMemoryInfo failed");
    figures.workingSetKiB = static_cast<double>(memory.WorkingSetSize) / 1024.0;
    HMODULE modules[512];
    DWORD bytes = 0;
    if (::EnumProcessModulesEx(app.Process(), modules, sizeof(modules), &bytes, LIST_MODULES_ALL)) {
        figures.modules = static_cast<double>(bytes / sizeof(HMODULE));
    }
    ::PostMessageW(app.MainWindow(), WM_CLOSE, 0, 0);
    if (app.WaitForExit(kTimeoutMs) == STILL_ACTIVE) Fail("did not end after WM_CLOSE");
    return figures;
}

// ---- The installation the removal finds ----

// Where the planted registration says the module is: the root of the browser's download cache.
std::wstring RegisteredModule() { return ModuleIn(kDownloadFolder); }

// In the order the tool visits them: the registered module, then two files a folder.
std::vector<std::wstring> ControlFiles() { return InstallationFiles(ControlFolders(), RegisteredModule()); }

int Leftovers() {
    int left = 0;
    for (const std::wstring& file : ControlFiles()) left += FileExists(file);
    for (const Key& key : RegistrationKeys()) left += KeyExists(key);
    return left;
}

void Plant() {
    const std::vector<std::wstring> files = PlantInstallation(ControlFolders(), RegisteredModule());
    if (Leftovers() != static_cast<int>(files.size() + RegistrationKeys().size())) {
        Fail("planting failed");
    }
}

// ---- Removal ----

// The same work by hand: a check and a deletion a file, one reg.exe a key, in the tool's order.
void WriteBatchFile() {
    PlantFolder(kBenchFolder);
    std::wstring script = L"@echo off\r\n";
    for (const std::wstring& file : ControlFiles()) script += L"if exist \"" + file + L"\" del \"" + file + L"\"\r\n";
    for (const Key& key : RegistrationKeys()) {
        script += std::wstring(L"reg delete \"") + (key.root == HKEY_CLASSES_ROOT ? L"HKCR" : L"HKLM") + L"\\" +
                  key.path + L"\" /f >nul 2>&1\r\n";
    }
    const std::string bytes = Utf8(script);  // the paths and keys are ASCII
    UniqueFile file(::CreateFileW(kBatchFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    if (!file || !::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
        Fail("could not write the batch file");
    }
}

double RemoveWithBatch() {
    const double start = NowMs();
    const ConsoleRun run = RunConsoleProgram(kCmd, std::wstring(L"/c ") + kBatchFile, kTimeoutMs);
    if (run.exitCode == STILL_ACTIVE) Fail("the batch file did not finish");
    return NowMs() - start;
}

double RemoveWithTool(const std::wstring& tool) {
    AppProcess app(tool, 1);
    if (!app.MainWindow()) Fail("the tool's window did not appear");
    PressButton(ChildWithText(app.MainWindow(), kDeleteButton));
    const HWND confirmation = app.WaitForMessageBox(kTimeoutMs);
    if (!confirmation) Fail("no confirmation");

    const double start = NowMs();
    ::PostMessageW(confirmation, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    HWND outcome = nullptr;
    WaitUntil([&] { return (outcome = app.WaitForMessageBox(0, confirmation)) != nullptr; }, kTimeoutMs, 1);
    const double elapsed = NowMs() - start;

    if (!outcome || ReadMessageBox(outcome).text != kRemoved) Fail("the tool did not report success");
    AnswerMessageBox(outcome, IDOK);
    if (app.WaitForExit(kTimeoutMs) == STILL_ACTIVE) Fail("the tool did not end after the removal");
    return elapsed;
}

double RemoveWithConsole(const std::wstring& console) {
    const double start = NowMs();
    const ConsoleRun run = RunConsoleProgram(console, L"remove", kTimeoutMs);
    const double elapsed = NowMs() - start;
    if (run.exitCode != 0) Fail("the console companion's remove exited with " + std::to_string(run.exitCode));
    return elapsed;
}

double Removal(const std::function<double()>& remove) {
    Plant();
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
    std::printf("%-20s tool %9.1f %-3s  %-8s %9.1f %-3s  ratio %6.3f", what, Median(tool), unit, otherName,
                Median(other), unit, ratio);
    if (goalRatio > 0) std::printf("  goal <= %.2f  %s", goalRatio, ratio <= goalRatio ? "met" : "MISSED");
    std::printf("\n");
}

std::vector<double> Pick(const std::vector<StartupFigures>& runs, double StartupFigures::*field) {
    std::vector<double> values;
    for (const StartupFigures& run : runs) values.push_back(run.*field);
    return values;
}

struct Sides {
    std::wstring tool, minimal, console;
};

struct Results {
    std::vector<StartupFigures> toolStarts, minimalStarts, notepadStarts;
    std::vector<double> toolRemovals, batchRemovals, consoleRemovals;
};

// Runs `a` then `b`, or `b` then `a`: the side that goes first changes from round to round.
void Alternate(bool aFirst, const std::function<void()>& a, const std::function<void()>& b) {
    if (aFirst) a();
    b();
    if (!aFirst) a();
}

void RunRound(const Sides& sides, int round, Results& r) {
    const bool toolFirst = round % 2 == 0;
    Alternate(toolFirst, [&] { r.toolStarts.push_back(StartAndIdle(sides.tool)); },
              [&] { r.minimalStarts.push_back(StartAndIdle(sides.minimal)); });
    r.notepadStarts.push_back(StartAndIdle(kNotepad));
    Alternate(toolFirst, [&] { r.toolRemovals.push_back(Removal([&] { return RemoveWithTool(sides.tool); })); },
              [&] { r.batchRemovals.push_back(Removal(RemoveWithBatch)); });
    r.consoleRemovals.push_back(Removal([&] { return RemoveWithConsole(sides.console); }));
    std::printf("round %d: start-up %.1f / %.1f / %.1f ms (tool / minimal / notepad), removal %.1f / %.1f / %.1f ms "
                "(tool / batch / console)\n",
                round + 1, r.toolStarts.back().startMs, r.minimalStarts.back().startMs, r.notepadStarts.back().startMs,
                r.toolRemovals.back(), r.batchRemovals.back(), r.consoleRemovals.back());
    std::fflush(stdout);
}

void PrintSummary(const Results& r, int rounds) {
    using F = StartupFigures;
    std::printf("\nmedians of %d rounds, sides alternating:\n", rounds);
    Compare("start-up", "ms", Pick(r.toolStarts, &F::startMs), Pick(r.minimalStarts, &F::startMs), "minimal", 1.05);
    Compare("start-up", "ms", Pick(r.toolStarts, &F::startMs), Pick(r.notepadStarts, &F::startMs), "notepad", 0);
    Compare("idle working set", "KiB", Pick(r.toolStarts, &F::workingSetKiB), Pick(r.notepadStarts, &F::workingSetKiB),
            "notepad", 1.0);
    Compare("modules loaded", "", Pick(r.toolStarts, &F::modules), Pick(r.minimalStarts, &F::modules), "minimal", 0);
    Compare("removal", "ms", r.toolRemovals, r.batchRemovals, "batch", 0.1);
    Compare("console remove", "ms", r.consoleRemovals, r.batchRemovals, "batch", 0);
    std::printf("removal: %zu files checked and deleted, %zu keys deleted on each side\n", ControlFiles().size(),
                RegistrationKeys().size());
}

// Only the start-up against its limit, for telling apart what makes a gap.
void RunStartupOnly(const Sides& sides, int rounds) {
    std::vector<double> tool, minimal;
    for (int round = 0; round < rounds; ++round) {
        Alternate(round % 2 == 0, [&] { tool.push_back(StartAndIdle(sides.tool, false).startMs); },
                  [&] { minimal.push_back(StartAndIdle(sides.minimal, false).startMs); });
        std::printf("round %d: start-up %.1f / %.1f ms (tool / minimal)\n", round + 1, tool.back(), minimal.back());
        std::fflush(stdout);
    }
    std::printf("\nmedians of %d rounds, sides alternating:\n", rounds);
    Compare("start-up", "ms", tool, minimal, "minimal", 1.05);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_driver TOOL.exe [ROUNDS]\n");
        return 2;
    }
    const Sides sides{argv[1], ExeBesideThisProgram(L"minimal_window.exe"),
                      ExeBesideThisProgram(L"Qelpad80RemoverCli.exe")};
    const int rounds = argc > 2 ? std::max(1, _wtoi(argv[2])) : 7;
    try {
        // One unmeasured run of each side, so that none pays for Wine's first start.
        StartAndIdle(sides.tool, false);
        StartAndIdle(sides.minimal, false);
        if (argc > 3 && std::wstring(argv[3]) == L"startup") {
            RunStartupOnly(sides, rounds);
            return 0;
        }
        StartAndIdle(kNotepad, false);
        WriteBatchFile();
        Results results;
        for (int round = 0; round < rounds; ++round) RunRound(sides, round, results);
        PrintSummary(results, rounds);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_driver: %s\n", error.what());
        return 1;
    }
}
