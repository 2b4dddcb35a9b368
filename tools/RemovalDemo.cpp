// Shows a new user a real removal in a throwaway Wine prefix (scripts/run.sh). Like the tool it is a
// 32-bit program, so it plants and looks through the views a 32-bit browser had on 64-bit Windows
// (system32 is SysWOW64, the classes and HKLM\SOFTWARE are the 32-bit ones), and it plants a 64-bit
// copy of the control beside them that the tool must leave alone. Built on the tests' support code.
//   removal_demo seed              plants the sample installation and the 64-bit copy
//   removal_demo report            prints which of their files and keys are there, in both views;
//                                  exit code 1 when something of the 32-bit installation is left,
//                                  2 when something of the 64-bit copy is gone, 3 for both
//   removal_demo drive FOLDER      runs the tool, presses Delete, confirms, and saves a
//                                  screenshot (BMP) of the window and of each message box
// It prints what it sees and exits non-zero when the removal did not go as a user would expect.

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/Driver.h"
#include "support/Expected.h"
#include "support/Installation.h"

namespace {

using namespace Expected;
using namespace Installation;

// One line in UTF-8, whatever the console's code page; line breaks in a message become spaces.
void Say(std::wstring text) {
    for (wchar_t& c : text) {
        if (c == L'\r' || c == L'\n') c = L' ';
    }
    std::puts(Utf8(text).c_str());
    std::fflush(stdout);
}

// Where a file of the 32-bit view really is, when the view redirects it.
std::wstring PlaceBehindTheView(const std::wstring& file) {
    const std::wstring system = kSystemFolder;
    if (file.compare(0, system.size() + 1, system + L"\\") != 0) return L"";
    return kRedirectedSystemFolder + file.substr(system.size());
}

std::wstring Where(const Key& key) {
    const Key behind = Installation::PlaceBehindTheView(key);
    return key.view == KEY_WOW64_64KEY ? L"64-bit view" : L"HKEY_LOCAL_MACHINE\\" + behind.path;
}

bool ReportFile(const std::wstring& file, const std::wstring& place) {
    const bool there = FileExists(file);
    Say((there ? L"    file  present  " : L"    file  gone     ") + file + (place.empty() ? L"" : L"  (" + place + L")"));
    return there;
}

bool ReportKey(const Key& key) {
    const bool there = KeyExists(key);
    const std::wstring root = key.root == HKEY_CLASSES_ROOT ? L"HKEY_CLASSES_ROOT\\" : L"HKEY_LOCAL_MACHINE\\";
    Say((there ? L"    key   present  " : L"    key   gone     ") + root + key.path + L"  (" + Where(key) + L")");
    return there;
}

int Report() {
    bool installed = false;
    Say(L"  The control as a 32-bit browser installed it (32-bit view; the tool removes it):");
    for (const std::wstring& file : InstallationFiles()) installed |= ReportFile(file, PlaceBehindTheView(file));
    installed |= ReportKey({HKEY_CLASSES_ROOT, kClassKey});
    installed |= ReportKey({HKEY_LOCAL_MACHINE, kUnitKey});

    bool intact = true;
    Say(L"  A 64-bit copy beside it (64-bit view; the tool leaves it alone):");
    for (const std::wstring& folder : {std::wstring(kNativeSystemFolder)}) {
        intact &= ReportFile(ModuleIn(folder), L"system32 of 64-bit programs");
        intact &= ReportFile(SetupIn(folder), L"system32 of 64-bit programs");
    }
    intact &= ReportKey({HKEY_CLASSES_ROOT, kClassKey, KEY_WOW64_64KEY});
    intact &= ReportKey({HKEY_LOCAL_MACHINE, kUnitKey, KEY_WOW64_64KEY});
    return (installed ? 1 : 0) | (intact ? 0 : 2);
}

// Saves a message box, says what it says, and answers it with OK.
bool ShotAndConfirm(HWND box, const std::wstring& file) {
    if (!box) return false;
    ::Sleep(300);  // let it paint
    SaveScreenshot(box, file);
    const MessageBoxContents contents = ReadMessageBox(box);
    Say(L"  message box \"" + contents.title + L"\": " + contents.text);
    return AnswerMessageBox(box, IDOK);
}

int Drive(const std::wstring& folder) {
    AppProcess app;
    if (!app.MainWindow()) return 3;
    ::Sleep(500);
    SaveScreenshot(app.MainWindow(), folder + L"\\1-window.bmp");
    Say(L"  window \"" + WindowText(app.MainWindow()) + L"\"");
    PressButton(ChildWithText(app.MainWindow(), kDeleteButton));
    const HWND confirmation = app.WaitForMessageBox();
    if (!ShotAndConfirm(confirmation, folder + L"\\2-confirmation.bmp")) return 4;
    if (!ShotAndConfirm(app.WaitForMessageBox(kWaitMs, confirmation), folder + L"\\3-outcome.bmp")) return 5;
    const DWORD exitCode = app.WaitForExit();
    Say(exitCode == STILL_ACTIVE ? L"  the tool is still running"
                                 : L"  the tool ended with exit code " + std::to_wstring(exitCode));
    return exitCode == 0 ? 0 : 6;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring verb = argc > 1 ? argv[1] : L"";
    try {
        if (verb == L"seed") {
            PlantInstallation();
            Plant64BitBystanders();
            return 0;
        }
        if (verb == L"report") return Report();
        if (verb == L"drive" && argc > 2) return Drive(argv[2]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "removal_demo: %s\n", error.what());
        return 7;
    }
    std::fputs("usage: removal_demo seed | report | drive FOLDER\n", stderr);
    return 2;
}
