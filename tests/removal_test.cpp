// The Delete button end to end: a sample installation is planted in this test's own prefix, the
// real tool is started, driven through its message boxes from outside its process, and then the
// registry and the files show what it did. Every case also checks, when it ends, that the canary
// files beside the control's files and the sentinel keys beside its keys are still there.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "Scenario.h"
#include "base/Unique.h"
#include "removal/Removal.h"
#include "support/Driver.h"
#include "support/Expected.h"
#include "support/Installation.h"

namespace {

using namespace Expected;
using namespace Installation;
using namespace Scenario;

// ---- Driving the tool ----

// A default value of the module-path key, as raw registry data.
struct ModuleValue {
    const char* what;
    DWORD type;
    const void* data;  // null: no default value at all
    DWORD size;
};

enum class Icon { None, Warning };

// Checks a message box of the tool: its texts, buttons and icon, and that it is modal to the main
// window (owned by it, the window disabled behind it), so that nothing there can be clicked meanwhile.
void ExpectBox(const AppProcess& app, HWND box, const std::wstring& text, std::vector<int> buttons, Icon icon) {
    EXPECT_EQ(::GetWindow(box, GW_OWNER), app.MainWindow()) << "the box is not owned by the main window";
    EXPECT_FALSE(::IsWindowEnabled(app.MainWindow())) << "the main window takes input behind the box";
    MessageBoxContents contents = ReadMessageBox(box);
    EXPECT_EQ(contents.title, kAppTitle);
    EXPECT_EQ(contents.text, text);
    std::sort(contents.buttons.begin(), contents.buttons.end());
    EXPECT_EQ(contents.buttons, buttons);
    if (icon == Icon::None) {
        EXPECT_EQ(contents.icon, nullptr) << "the box shows an icon";
    } else {
        EXPECT_NE(contents.icon, nullptr) << "the box shows no icon";
        EXPECT_EQ(StandardIconShown(box), "exclamation");
    }
}

HWND Button(const AppProcess& app, const std::wstring& text) { return ChildWithText(app.MainWindow(), text); }

// Answers a box and checks that it went.
void Answer(HWND box, int button) { EXPECT_TRUE(AnswerMessageBox(box, button)) << "the message box stayed"; }

// Presses Delete and returns the confirmation, after checking what it says.
HWND PressDelete(const AppProcess& app) {
    PressButton(Button(app, kDeleteButton));
    HWND box = app.WaitForMessageBox();
    if (!box) {
        ADD_FAILURE() << "Delete asked nothing";
        return nullptr;
    }
    ExpectBox(app, box, kConfirm, {IDOK, IDCANCEL}, Icon::None);
    return box;
}

// Presses Delete, confirms, and returns the box that tells the outcome (null when none came).
HWND ConfirmRemoval(const AppProcess& app) {
    HWND confirm = PressDelete(app);
    if (!confirm) return nullptr;
    Answer(confirm, IDOK);
    HWND outcome = app.WaitForMessageBox();
    if (!outcome) ADD_FAILURE() << "no message after the confirmation";
    return outcome;
}

enum class Outcome { Removed, NotRegistered, Failed };

// Checks the outcome box, answers it, and checks that the tool ended (or stayed, after a failure).
void ExpectOutcome(const AppProcess& app, HWND box, Outcome outcome) {
    ASSERT_NE(box, nullptr);
    switch (outcome) {
    case Outcome::Removed: ExpectBox(app, box, kRemoved, {IDOK}, Icon::None); break;
    case Outcome::NotRegistered: ExpectBox(app, box, kNotRegistered, {IDOK}, Icon::None); break;
    case Outcome::Failed: ExpectBox(app, box, kFailed, {IDOK}, Icon::Warning); break;
    }
    Answer(box, IDOK);
    if (outcome == Outcome::Failed) {
        EXPECT_TRUE(app.NoMessageBoxFor(300)) << "a failure shows one message";
        EXPECT_TRUE(app.Running()) << "the window stays open after a failure";
        EXPECT_TRUE(::IsWindowVisible(app.MainWindow()));
        EXPECT_TRUE(::IsWindowEnabled(app.MainWindow())) << "the window stays usable";
        EXPECT_TRUE(::IsWindowEnabled(Button(app, kDeleteButton))) << "the window stays usable";
    } else {
        EXPECT_EQ(app.WaitForExit(), 0u) << "the tool ends after the message";
    }
}

// One whole run of the tool: start it, press Delete, confirm, check the outcome.
void RunRemoval(Outcome outcome) {
    AppProcess app;
    ASSERT_NE(app.MainWindow(), nullptr);
    ExpectOutcome(app, ConfirmRemoval(app), outcome);
}

// The removal that Delete runs in the tool, run in this process instead, confirmed at once: for
// the further values of a scenario whose first value went through the window. A start of the tool
// costs seconds under an emulated processor; what the window makes of an outcome is shown above.
void RunRemovalHere(Outcome outcome) {
    const RemovalOutcome expected = outcome == Outcome::Removed         ? RemovalOutcome::Removed
                                    : outcome == Outcome::NotRegistered ? RemovalOutcome::NotRegistered
                                                                        : RemovalOutcome::Failed;
    ControlRemoval removal;
    const RemovalOutcome got = removal.Run([] { return true; });
    const RemovalReport& report = removal.Report();
    EXPECT_EQ(static_cast<int>(got), static_cast<int>(expected))
        << "0 cancelled, 1 not registered, 2 removed, 3 failed; stopped at "
        << (report.failure ? Installation::Show(report.failure->subject) : "nothing") << ", 0x" << std::hex
        << (report.failure ? report.failure->result : S_OK) << "; still loading: "
        << ::testing::PrintToString(report.stillLoading);
}

// Through the window for the first of several values, then here.
void RunRemovalFor(bool first, Outcome outcome) { first ? RunRemoval(outcome) : RunRemovalHere(outcome); }

// ---- What is on the machine ----

// Runs the tool with another current folder, so that relative paths have somewhere to point.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::wstring& folder) {
        ::GetCurrentDirectoryW(MAX_PATH, m_previous);
        EXPECT_TRUE(::SetCurrentDirectoryW(folder.c_str())) << ::GetLastError();
    }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;
    ~CurrentFolder() { ::SetCurrentDirectoryW(m_previous); }

private:
    wchar_t m_previous[MAX_PATH] = {};
};

class Removal : public WithBystanders {
protected:
    // Files a registered module path may point at, and that must stay.
    static std::vector<std::wstring> PlantKeepFolder() {
        const std::vector<std::wstring> files = {
            ModuleIn(kKeepFolder), SetupIn(kKeepFolder), std::wstring(kKeepFolder) + L"\\important.dll",
            std::wstring(kKeepFolder) + L"\\a.dll"};
        for (const std::wstring& file : files) PlantFile(file);
        return files;
    }

    // One whole run on a fresh set of keys and files, with the module path that `setValue` writes;
    // the registered path leads to no deletion, and the rest of the control goes.
    // `first`: through the window, else in this process.
    template <typename SetValue>
    static void ExpectEverythingButTheRegisteredPathRemoved(const std::vector<std::wstring>& keep, bool first,
                                                            SetValue setValue) {
        PlantControlKeys();
        const std::vector<std::wstring> files = PlantControlFiles(TypicalFolders());
        setValue();
        RunRemovalFor(first, Outcome::Removed);
        ExpectFiles(keep, true, "the registered path is not the control's module");
        ExpectFiles(files, false, "the removal goes on");
        ExpectKeys(RegistrationKeys(), false, "the removal goes on");
    }
};

// ---- The scenarios ----

// The planting itself, before any bystander is there: a 32-bit program's system32 is SysWOW64,
// its classes and HKLM\SOFTWARE are the 32-bit ones below Wow6432Node, and the 64-bit places stay
// empty. The tool, 32-bit as well, finds the control where the tests planted it.
TEST(Wow64Planting, InstallationLandsWhereA32BitBrowserPutsIt) {
    PlantControlKeys();
    SetModulePath(ModuleIn(kRegisteredFolder) + L", 1");
    for (const std::wstring& file : PlantControlFiles({kSystemFolder, kMakerFolder})) {
        SCOPED_TRACE(Show(file));
        const std::wstring behind = kRedirectedSystemFolder + file.substr(std::wstring(kSystemFolder).size());
        EXPECT_EQ(Show(PlantedContents(behind)), Show(file)) << "not in SysWOW64";
        EXPECT_FALSE(FileExists(kNativeSystemFolder + file.substr(std::wstring(kSystemFolder).size())))
            << "in the 64-bit system folder";
    }
    for (const Key& key : RegistrationKeys()) {
        SCOPED_TRACE(Describe(key));
        EXPECT_TRUE(KeyExists(PlaceBehindTheView(key))) << "not below Wow6432Node";
        EXPECT_FALSE(KeyExists({key.root, key.path, KEY_WOW64_64KEY})) << "in the 64-bit view";
    }
    EXPECT_EQ(DefaultValue(PlaceBehindTheView({HKEY_CLASSES_ROOT, kClassKey})), L"Qelpad80 Control");

    // The bystanders of the scenarios are where a 64-bit program would have put them.
    Plant64BitBystanders();
    EXPECT_EQ(DefaultValue({HKEY_CLASSES_ROOT, kClassKey, KEY_WOW64_64KEY}), L"64-bit");
    EXPECT_EQ(DefaultValue({HKEY_LOCAL_MACHINE, kUnitKey, KEY_WOW64_64KEY}), L"64-bit");
    EXPECT_EQ(DefaultValue({HKEY_CLASSES_ROOT, kClassKey}), L"Qelpad80 Control") << "the 32-bit view changed";
    EXPECT_EQ(Show(PlantedContents(ModuleIn(kNativeSystemFolder))), Show(ModuleIn(kNativeSystemFolder)));
    EXPECT_EQ(Show(PlantedContents(ModuleIn(kSystemFolder))), Show(ModuleIn(kSystemFolder)));
}

// Neither the Cancel button nor closing the box deletes anything or says more; Close still ends.
TEST_F(Removal, CancelChangesNothingAndShowsNothingMore) {
    const std::vector<std::wstring> files = PlantInstallation();
    AppProcess app;
    ASSERT_NE(app.MainWindow(), nullptr);

    HWND box = PressDelete(app);
    ASSERT_NE(box, nullptr);
    Answer(box, IDCANCEL);
    EXPECT_TRUE(app.NoMessageBoxFor(1000)) << "Cancel showed something more";
    EXPECT_TRUE(app.Running());

    box = PressDelete(app);
    ASSERT_NE(box, nullptr);
    ::PostMessageW(box, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(box); })) << "the confirmation did not close";
    EXPECT_TRUE(app.NoMessageBoxFor(1000)) << "closing the confirmation showed something more";
    EXPECT_TRUE(app.Running());

    ExpectFiles(files, true, "the removal was cancelled");
    ExpectKeys(RegistrationKeys(), true, "the removal was cancelled");
    PressButton(Button(app, kCloseButton));
    EXPECT_EQ(app.WaitForExit(), 0u);
    ExpectFiles(files, true, "Close deletes nothing");
}

// Copies of the files and the other keys do not make a registration: without the key that names the
// module and the key COM loads it through, nothing is touched.
TEST_F(Removal, WithoutAModulePathOrInprocServer32NothingIsDeletedAndTheToolEnds) {
    const std::vector<std::wstring> files = PlantInstallation();
    RemoveKey(ModulePathKey());
    RemoveKey(InprocServerKey());
    const std::vector<Key> others = WithoutWhatLoadsTheControl(RegistrationKeys());

    RunRemoval(Outcome::NotRegistered);
    ExpectFiles(files, true, "the control is not registered");
    ExpectKeys(others, true, "the control is not registered");
}

// A default value that gives no text: none at all, a REG_SZ of no bytes, and types that are not
// read although they hold a path. Without InprocServer32 each is no registration: each a run of its
// own (the first through the window), and nothing is deleted by any. With InprocServer32 the class
// still loads: check says so, and the removal goes on, leaving the file at the unread path.
TEST_F(Removal, ModuleValuesThatGiveNoTextCountAsNotRegistered) {
    const std::vector<std::wstring> files = PlantInstallation();
    RemoveKey(InprocServerKey());
    const std::wstring path = ModuleIn(kRegisteredFolder);
    const std::wstring multi = path + L'\0' + L'\0';
    const BYTE binary[] = {'C', ':', '\\', 'x', 0};
    const ModuleValue values[] = {
        {"no default value", REG_NONE, nullptr, 0},
        {"REG_SZ of zero bytes", REG_SZ, L"X", 0},
        {"REG_EXPAND_SZ", REG_EXPAND_SZ, path.c_str(), static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))},
        {"REG_MULTI_SZ", REG_MULTI_SZ, multi.data(), static_cast<DWORD>(multi.size() * sizeof(wchar_t))},
        {"REG_BINARY", REG_BINARY, binary, sizeof(binary)},
    };
    for (const auto& value : values) {
        SCOPED_TRACE(value.what);
        DeleteModuleValue();
        if (value.data) SetModuleValue(value.type, value.data, value.size);
        RunRemovalFor(&value == values, Outcome::NotRegistered);
        ExpectFiles(files, true, "the control is not registered");
        ExpectKeys(WithoutWhatLoadsTheControl(RegistrationKeys()), true, "the control is not registered");
    }

    PlantKey(InprocServerKey());
    EXPECT_EQ(RunConsole(L"check").exitCode, 1u) << "InprocServer32 still loads the control";
    RunRemovalHere(Outcome::Removed);
    EXPECT_TRUE(FileExists(path)) << "a module path that gives no text names no file";
    ExpectFiles({files.begin() + 1, files.end()}, false, "the removal goes on");
    ExpectKeys(RegistrationKeys(), false, "the removal goes on");
}

// Driven by the keyboard alone: Enter on Delete, which has the focus from the start, then Enter in
// the confirmation, whose default button must be OK, and the outcome box answered the same way.
TEST_F(Removal, FullRemovalByEnterAloneLeavesNothingOfTheControl) {
    const std::vector<std::wstring> files = PlantInstallation();
    AppProcess app;
    ASSERT_NE(app.MainWindow(), nullptr);
    ASSERT_TRUE(BringToFront(app.MainWindow()));
    ASSERT_TRUE(WaitUntil([&] { return app.Focus() == Button(app, kDeleteButton); }));
    TypeKey(VK_RETURN);
    const HWND confirm = app.WaitForMessageBox();
    ASSERT_NE(confirm, nullptr) << "Enter did not press Delete";
    ExpectBox(app, confirm, kConfirm, {IDOK, IDCANCEL}, Icon::None);
    ASSERT_TRUE(WaitUntil([&] { return ::GetForegroundWindow() == confirm; })) << "the confirmation is not active";
    TypeKey(VK_RETURN);
    const HWND outcome = app.WaitForMessageBox(kWaitMs, confirm);
    ASSERT_NE(outcome, nullptr) << "Enter in the confirmation did not confirm";
    ExpectOutcome(app, outcome, Outcome::Removed);
    ExpectFiles(files, false, "the removal finished");
    ExpectKeys(RegistrationKeys(), false, "the removal finished");
}

// HKEY_CLASSES_ROOT shows the running user's classes over the machine's; the tool looks at each
// layer by name (Wine's HKEY_CLASSES_ROOT shows the machine's alone). The tool runs elevated, so it
// also looks at the classes of each other user logged on (HKEY_USERS\<SID>_Classes), keeps the file
// their registration names (theirs to write: a run as that user removes it) and deletes their keys.
// Registered in all three, each naming a module of its own, every layer's keys go, with the files of
// every folder and the machine's and the running user's modules. Registered for the running user
// alone, the control is found and removed (that run in this process).
TEST_F(Removal, EachLayerOfClassesIsRemoved) {
    const std::wstring userModule = ModuleIn(L"C:\\users\\Public\\Tavrex");
    {
        SCOPED_TRACE("the machine's classes, the running user's and a logged-on user's");
        const Classes alice = LoggedOnUserClasses(kAlice);
        const std::wstring aliceModule = ModuleIn(L"C:\\Users\\alice\\AppData\\Roaming\\Tavrex");
        PlantProfile(kAlice, L"C:\\Users\\alice");
        PlantRegistration(alice, aliceModule);
        PlantRegistration(kUserClasses, userModule);
        const std::vector<std::wstring> files = PlantInstallation();
        RunRemoval(Outcome::Removed);
        ExpectFiles(files, false, "the machine's registration and the folders");
        EXPECT_FALSE(FileExists(userModule)) << "the running user's registered module is left";
        EXPECT_TRUE(FileExists(aliceModule)) << "an elevated run deleted a file another user named";
        ExpectKeys(RegistrationKeys(), false, "the machine's registration");
        ExpectKeys(ClassKeys(kUserClasses), false, "the running user's registration");
        ExpectKeys(ClassKeys(alice), false, "the logged-on user's registration");
    }
    {
        SCOPED_TRACE("the running user's classes alone");
        PlantRegistration(kUserClasses, userModule);
        const std::vector<std::wstring> files = PlantControlFiles(TypicalFolders());
        RunRemovalHere(Outcome::Removed);
        ExpectFiles(files, false, "the control was registered for the user");
        EXPECT_FALSE(FileExists(userModule)) << "the user's registered module is left";
        ExpectKeys(ClassKeys(kUserClasses), false, "the user's registration");
        ExpectKeys(UnitKeys(), false, "the distribution unit");
    }
}

// A key kept by the registry because it holds a subkey of someone else's, when it is the key through
// which COM loads the control (InprocServer32) or the one that names its module (ToolboxBitmap32),
// in whichever layer: the tool must not say it succeeded. The files and every other key go. (The
// first case through the window, the second in this process.) What still loads the control is a
// registration the next time too: a second press fails again, check says registered, and remove
// names the key and the subkey that keeps it.
TEST_F(Removal, KeyThatStillLoadsTheControlIsAFailure) {
    const std::wstring userModule = ModuleIn(L"C:\\users\\Public\\Tavrex");
    const struct {
        const char* what;
        Classes classes;
        const wchar_t* held;
    } cases[] = {
        {"InprocServer32 in the machine's classes", kMachineClasses, L"\\InprocServer32"},
        {"ToolboxBitmap32 in the user's classes", kUserClasses, L"\\ToolboxBitmap32"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::wstring> files = PlantInstallation();
        PlantRegistration(kUserClasses, userModule);
        files.push_back(userModule);
        const Key held{c.classes.root, ClassKey(c.classes).path + c.held, c.classes.view};
        const Key foreign{held.root, held.path + L"\\Foreign", held.view};
        PlantKey(foreign);

        if (&c == cases) {
            AppProcess app;
            ASSERT_NE(app.MainWindow(), nullptr);
            ASSERT_NO_FATAL_FAILURE(ExpectOutcome(app, ConfirmRemoval(app), Outcome::Failed));
            ASSERT_NO_FATAL_FAILURE(ExpectOutcome(app, ConfirmRemoval(app), Outcome::Failed))
                << "InprocServer32 still loads the control: not the box for a control that is not there";
        } else {
            RunRemovalHere(Outcome::Failed);
        }
        ExpectFiles(files, false, "files come first, in every layer");
        for (const Classes& classes : {kMachineClasses, kUserClasses}) {
            for (const Key& key : ClassKeys(classes)) {
                const bool stays = key.root == held.root && (key.path == held.path || key.path == ClassKey(c.classes).path);
                EXPECT_EQ(KeyExists(key), stays) << Describe(key);
            }
        }
        ExpectKeys(UnitKeys(), false, "the distribution unit");
        EXPECT_TRUE(KeyExists(foreign));
        if (&c == cases) {
            EXPECT_EQ(RunConsole(L"check").exitCode, 1u) << "still registered";
            const ConsoleResult remove = RunConsole(L"remove");
            EXPECT_EQ(remove.exitCode, 5u) << "kept by a subkey: no right is missing";
            const std::wstring place = L"HKEY_LOCAL_MACHINE\\Software\\Classes\\Wow6432Node\\" + held.path;
            EXPECT_TRUE(remove.HasStartIgnoringCase(L"not deleted: key " + place + L": it still holds its subkey Foreign"));
            EXPECT_TRUE(remove.HasStartIgnoringCase(L"failed: removing the registration: " + place + L" (machine) is still there"));
            EXPECT_FALSE(remove.Has(L"advice: run it elevated or as SYSTEM"));
        }
        RemoveKey(ClassKey(c.classes));
    }
}

// Without a comma the whole value is the path, and the value's stored NUL comes with it.
TEST_F(Removal, ModulePathWithoutACommaIsUsedWholeWithItsNul) {
    std::vector<std::wstring> files = PlantInstallation();
    const std::wstring registered = std::wstring(kRegisteredFolder) + L"\\Bin\\QELPAD80.DLL";
    PlantFile(registered);
    SetModulePath(registered, true);

    RunRemoval(Outcome::Removed);
    EXPECT_FALSE(FileExists(registered)) << "the registered module is left";
    files.erase(files.begin());  // registered elsewhere this time
    ExpectFiles(files, false, "the removal finished");
    EXPECT_TRUE(FileExists(ModuleIn(kRegisteredFolder))) << "the module is no longer registered there";
    ExpectKeys(RegistrationKeys(), false, "the removal finished");
}

// A number, a lone NUL or a leading comma names no file: that path is passed over and the rest of
// the control is removed. A number's text would be a relative name; files of those names in the
// tool's current folder stay.
TEST_F(Removal, ModuleValuesThatNameNoFileStillRemoveTheRest) {
    std::vector<std::wstring> keep = PlantKeepFolder();
    for (const wchar_t* name : {L"\\74565", L"\\-1"}) {
        keep.push_back(kKeepFolder + std::wstring(name));
        PlantFile(keep.back());
    }
    const CurrentFolder current(kKeepFolder);
    const DWORD number = 74565;
    const DWORD minusOne = 0xFFFFFFFF;
    const ModuleValue values[] = {
        {"REG_DWORD 74565", REG_DWORD, &number, sizeof(number)},
        {"REG_DWORD -1", REG_DWORD, &minusOne, sizeof(minusOne)},
        {"REG_SZ holding only its NUL", REG_SZ, L"", sizeof(wchar_t)},
        {"REG_SZ beginning with a comma", REG_SZ, L", C:\\keep\\Qelpad80.dll", sizeof(L", C:\\keep\\Qelpad80.dll")},
    };
    for (const auto& value : values) {
        SCOPED_TRACE(value.what);
        ExpectEverythingButTheRegisteredPathRemoved(keep, &value == values,
                                                    [&] { SetModuleValue(value.type, value.data, value.size); });
    }
}

// The file-system object refuses a read-only file: the removal stops there with the warning.
// Pressing Delete again starts again from the confirmation.
TEST_F(Removal, ReadOnlyCopyStopsTheRemovalAtThatFile) {
    const auto [files, readOnly, before, from] = PlantInstallationWithAReadOnlyCopy();

    AppProcess app;
    ASSERT_NE(app.MainWindow(), nullptr);
    ASSERT_NO_FATAL_FAILURE(ExpectOutcome(app, ConfirmRemoval(app), Outcome::Failed));
    ExpectFiles(before, false, "it came before the read-only file");
    ExpectFiles(from, true, "the removal stopped at the read-only file");
    ExpectKeys(RegistrationKeys(), true, "files come before keys");

    HWND box = PressDelete(app);
    ASSERT_NE(box, nullptr) << "a second press asks again";
    Answer(box, IDCANCEL);
    EXPECT_TRUE(app.NoMessageBoxFor(500));
    ExpectFiles(from, true, "the second press was cancelled");

    ASSERT_TRUE(::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL));
    ExpectOutcome(app, ConfirmRemoval(app), Outcome::Removed);
    ExpectFiles(files, false, "the third press finished the removal");
    ExpectKeys(RegistrationKeys(), false, "the third press finished the removal");
}

// The search does not report hidden or system files, or folders: they stay, without an error,
// even where deleting them would have failed.
TEST_F(Removal, HiddenAndSystemCopiesAreLeftInPlace) {
    const std::vector<std::wstring> files = PlantInstallation();
    const struct {
        std::wstring path;
        DWORD attributes;
    } hidden[] = {
        {ModuleIn(ConflictFolder(2)), FILE_ATTRIBUTE_HIDDEN},
        {SetupIn(ConflictFolder(2)), FILE_ATTRIBUTE_SYSTEM},
        {ModuleIn(ConflictFolder(3)), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY},
        {SetupIn(ConflictFolder(3)), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE},
    };
    for (const auto& file : hidden) PlantFile(file.path, file.attributes);
    PlantFolder(ModuleIn(ConflictFolder(4)));  // a folder by the module's name

    RunRemoval(Outcome::Removed);
    ExpectFiles(files, false, "the removal finished");
    ExpectKeys(RegistrationKeys(), false, "the removal finished");
    // wine-only: every file reports FILE_ATTRIBUTE_ARCHIVE, whatever it was given.
    for (const auto& file : hidden) {
        SCOPED_TRACE(Show(file.path));
        EXPECT_EQ(FileAttributes(file.path) & ~FILE_ATTRIBUTE_ARCHIVE, file.attributes & ~FILE_ATTRIBUTE_ARCHIVE);
    }
    EXPECT_NE(FileAttributes(ModuleIn(ConflictFolder(4))) & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

// Held open without FILE_SHARE_DELETE by another process, the file cannot be deleted. wine-only:
// DeleteFile of the file-system object then fails, as it does for a read-only file;
// a handle opened with no data access (access 0) does not stand in the way.
TEST_F(Removal, CopyHeldOpenByAnotherProcessFailsUntilReleased) {
    const std::vector<std::wstring> files = PlantInstallation();
    const std::wstring held = SetupIn(ConflictFolder(100));  // the last file: every other one goes first
    ASSERT_EQ(files.back(), held);
    UniqueFile holder(::CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder) << ::GetLastError();

    AppProcess app;
    ASSERT_NE(app.MainWindow(), nullptr);
    ASSERT_NO_FATAL_FAILURE(ExpectOutcome(app, ConfirmRemoval(app), Outcome::Failed));
    ExpectFiles(std::vector<std::wstring>(files.begin(), files.end() - 1), false, "it came before the held file");
    EXPECT_TRUE(FileExists(held));
    ExpectKeys(RegistrationKeys(), true, "files come before keys");

    // Unattended: the exit code that says to close the browsers and retry, naming the file.
    const ConsoleResult run = RunConsole(L"remove");
    EXPECT_EQ(run.exitCode, 4u);
    const std::vector<std::wstring> failed = run.Starting(L"failed: deleting file " + held + L": error 0x80070020");
    EXPECT_EQ(failed.size(), 1u) << "no line names the held file and the sharing violation";
    EXPECT_TRUE(run.Has(L"advice: close the browsers and retry"));
    ExpectKeys(RegistrationKeys(), true, "files come before keys");

    holder.Reset();
    ExpectOutcome(app, ConfirmRemoval(app), Outcome::Removed);
    EXPECT_FALSE(FileExists(held)) << "the released file is left";
    ExpectKeys(RegistrationKeys(), false, "the second press finished the removal");
}

// A class registration can be written by any program of the user, while the removal runs with
// more rights: a registered path that does not name the control's module is passed over, and the
// rest of the removal goes on. That covers another file, any wildcard (the file-system object
// would delete every file it matches) and relative paths, which would be resolved against the
// tool's current folder: here each of them leads into C:\keep. A path through Sysnative leads a
// 32-bit process to the 64-bit system folder, whose copy (a bystander) stays.
TEST_F(Removal, RegisteredPathThatIsNotTheControlModuleIsPassedOver) {
    std::vector<std::wstring> keep = PlantKeepFolder();
    keep.push_back(std::wstring(kKeepFolder) + L"\\Qelpad80.dll.bak");
    PlantFile(keep.back());
    const CurrentFolder current(kKeepFolder);
    bool first = true;
    for (const wchar_t* registered : {
             L"C:\\keep\\important.dll, 1", L"C:\\keep\\Kest.inf", L"C:\\keep\\Qelpad80.dll.bak, 1",
             L"C:\\keep\\*.dll, 1", L"C:\\keep\\*", L"C:\\keep\\Qelpad80.dl?", L"C:\\ke?p\\Qelpad80.dll, 1",
             L"C:\\*\\Qelpad80.dll", L"C:\\Windows\\Sysnative\\Qelpad80.dll, 1",
             L"Qelpad80.dll, 1", L".\\Qelpad80.dll", L"..\\keep\\Qelpad80.dll", L"\\keep\\Qelpad80.dll, 1",
             L"C:Qelpad80.dll"}) {
        SCOPED_TRACE(Show(registered));
        const std::wstring path = std::wstring(registered).substr(0, std::wstring(registered).find(L','));
        if (path.find_first_of(L"*?") == std::wstring::npos) {
            ASSERT_TRUE(FileExists(path)) << "the path leads nowhere here";
        }
        ExpectEverythingButTheRegisteredPathRemoved(keep, first, [&] { SetModulePath(registered); });
        first = false;
    }
}

// A module-path key that we may read but not open with the access the tool asks for (0x3F) is a
// registration all the same: the tool says to check the rights instead of "not found", and
// deletes nothing. Observed under Wine: the open is refused with ERROR_ACCESS_DENIED.
TEST_F(Removal, ModulePathKeyWeMayNotOpenIsAnErrorNotMissing) {
    const std::vector<std::wstring> files = PlantInstallation();
    RestrictModulePathKey(L"D:P(A;;KR;;;WD)");
    {
        UniqueHKey key;
        ASSERT_EQ(ERROR_ACCESS_DENIED, ::RegOpenKeyExW(HKEY_CLASSES_ROOT, kModulePathKey, 0, 0x3F, key.Put()));
        ASSERT_TRUE(KeyExists({HKEY_CLASSES_ROOT, kModulePathKey})) << "it can still be read";
    }

    AppProcess app;
    ASSERT_NE(app.MainWindow(), nullptr);
    ASSERT_NO_FATAL_FAILURE(ExpectOutcome(app, ConfirmRemoval(app), Outcome::Failed));
    ExpectFiles(files, true, "the registration could not be read");
    ExpectKeys(RegistrationKeys(), true, "the registration could not be read");

    PressButton(Button(app, kCloseButton));
    EXPECT_EQ(app.WaitForExit(), 0u) << "Close ends the tool after a failed removal";

    // Unattended, the same: an exit code that says to run it with the rights it needs.
    for (const wchar_t* verb : {L"check", L"remove"}) {
        SCOPED_TRACE(Show(verb));
        const ConsoleResult run = RunConsole(verb);
        EXPECT_EQ(run.exitCode, 3u);
        EXPECT_TRUE(run.Has(L"advice: run it elevated or as SYSTEM"));
    }
    ExpectFiles(files, true, "the registration could not be read");
    ExpectKeys(RegistrationKeys(), true, "the registration could not be read");
}

// The file-system object is made at every press, before anything is asked: without its ProgID
// the press goes straight to the warning, and nothing is read or deleted.
TEST_F(Removal, FileSystemObjectThatCannotBeMadeIsAnErrorBeforeTheQuestion) {
    const std::vector<std::wstring> files = PlantInstallation();
    HideKey({HKEY_CLASSES_ROOT, L"Scripting.FileSystemObject"});

    AppProcess app;
    ASSERT_NE(app.MainWindow(), nullptr);
    PressButton(Button(app, kDeleteButton));
    ASSERT_NO_FATAL_FAILURE(ExpectOutcome(app, app.WaitForMessageBox(), Outcome::Failed));
    ExpectFiles(files, true, "there was no file-system object");
    ExpectKeys(RegistrationKeys(), true, "there was no file-system object");
}

// Keys that are missing are passed over without a word, and a key is deleted on its own: a class
// key that still has a child of someone else's stays, with that child.
TEST_F(Removal, MissingKeysArePassedOverAndNoTreeIsDeleted) {
    const Key foreign{HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\AppID"};
    PlantKey(foreign);
    SetModulePath(ModuleIn(kSystemFolder) + L",1");  // no file anywhere, no other key

    RunRemoval(Outcome::Removed);
    EXPECT_FALSE(KeyExists({HKEY_CLASSES_ROOT, kModulePathKey}));
    EXPECT_TRUE(KeyExists(foreign)) << "a key the removal does not name was deleted";
    EXPECT_TRUE(KeyExists({HKEY_CLASSES_ROOT, kClassKey})) << "the registry does not delete a key with children";
}

}  // namespace
