// The console companion end to end, run as a deployment system runs it (no console, its output
// through a pipe) on installations planted in this test's own prefix: what check lists and its exit
// code, what remove deletes and says, and how each reports a failure. Every case also checks, when
// it ends, that the canaries, the sentinels and the 64-bit copy are still there.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Scenario.h"
#include "base/Text.h"
#include "base/Unique.h"
#include "console/Commands.h"
#include "support/Driver.h"
#include "support/Expected.h"
#include "support/Installation.h"

namespace {

using namespace Expected;
using namespace Installation;
using namespace Scenario;

using Console = WithBystanders;

constexpr wchar_t kAnotherUsersModule[] =
    L" (named only by another user's registration: 'remove' run elevated leaves it; a run as that user deletes it)";
constexpr wchar_t kAnotherUsersFileLeft[] =
    L" (named only by another user's registration, theirs to write: not deleted by a run with these rights)";

// Where a planted file is, as Explorer shows it: the 32-bit system folder is SysWOW64.
std::vector<std::wstring> FilePlaces(const std::vector<std::wstring>& files) {
    const std::wstring system = kSystemFolder;
    std::vector<std::wstring> places;
    for (const std::wstring& file : files) {
        places.push_back(file.compare(0, system.size(), system) == 0 ? kRedirectedSystemFolder + file.substr(system.size())
                                                                     : file);
    }
    return places;
}

// Where planted keys are, as 64-bit regedit shows them.
std::vector<std::wstring> KeyPlaces(const std::vector<Key>& keys) {
    std::vector<std::wstring> places;
    for (const Key& key : keys) {
        const Key behind = PlaceBehindTheView(key);
        places.push_back((behind.root == HKEY_USERS ? L"HKEY_USERS\\" : L"HKEY_LOCAL_MACHINE\\") + behind.path);
    }
    return places;
}

// Key deletions that the registry refuses for a missing right, in this process. Wine grants DELETE on
// a key whatever its DACL says (wine-only), so the refusal is made below the registry routine: while
// this lives, this program's import of RegDeleteKeyExA answers ERROR_ACCESS_DENIED for every key that
// is there and whose path ends in `suffix`, and hands the others on.
class RefusedKeyDeletions {
public:
    using Delete = LONG(WINAPI*)(HKEY, LPCSTR, REGSAM, DWORD);
    explicit RefusedKeyDeletions(const char* suffix) {
        s_suffix = suffix;
        s_real = Swap(&Refuse);
    }
    RefusedKeyDeletions(const RefusedKeyDeletions&) = delete;
    RefusedKeyDeletions& operator=(const RefusedKeyDeletions&) = delete;
    ~RefusedKeyDeletions() { Swap(s_real); }

private:
    static LONG WINAPI Refuse(HKEY root, LPCSTR path, REGSAM view, DWORD reserved) {
        const std::string named = path;
        UniqueHKey key;
        if (named.size() >= s_suffix.size() && named.compare(named.size() - s_suffix.size(), s_suffix.size(), s_suffix) == 0 &&
            ::RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE | view, key.Put()) == ERROR_SUCCESS) {
            return ERROR_ACCESS_DENIED;
        }
        return s_real(root, path, view, reserved);
    }
    static Delete Swap(Delete by);

    static inline std::string s_suffix;
    static inline Delete s_real = nullptr;
};

// The slot of this program's import table that every call of RegDeleteKeyExA goes through.
extern "C" RefusedKeyDeletions::Delete g_regDeleteKeyExAImport asm("__imp__RegDeleteKeyExA@16");

RefusedKeyDeletions::Delete RefusedKeyDeletions::Swap(Delete by) {
    DWORD protection = 0;
    if (!::VirtualProtect(&g_regDeleteKeyExAImport, sizeof(Delete), PAGE_READWRITE, &protection)) {
        throw HarnessError("the import of RegDeleteKeyExA cannot be written");
    }
    const Delete was = std::exchange(g_regDeleteKeyExAImport, by);
    ::VirtualProtect(&g_regDeleteKeyExAImport, sizeof(Delete), protection, &protection);
    return was;
}

// `remove` run in this process, its output read as a deployment system reads it (from a file).
ConsoleResult RemoveHere() {
    wchar_t folder[MAX_PATH];
    ::GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + L"qelpad-remove-output.txt";
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!file) throw HarnessError("making " + Show(path));
    const HANDLE standardOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    ::SetStdHandle(STD_OUTPUT_HANDLE, file.Get());
    const ExitCode code = Remove(Output(STD_OUTPUT_HANDLE));
    ::SetStdHandle(STD_OUTPUT_HANDLE, standardOutput);
    std::string bytes(::GetFileSize(file.Get(), nullptr), '\0');
    DWORD read = 0;
    ::SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN);
    ::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    return ReadConsoleOutput(static_cast<DWORD>(code), bytes.substr(0, read));
}

// Paths and keys name the same places whatever the case of their letters, as on Windows.
void ExpectSamePlaces(const std::vector<std::wstring>& actual, const std::vector<std::wstring>& expected) {
    EXPECT_TRUE(actual.size() == expected.size() &&
                std::equal(actual.begin(), actual.end(), expected.begin(), SameTextIgnoringCase))
        << ::testing::PrintToString(actual) << "\n  expected (ignoring case)\n" << ::testing::PrintToString(expected);
}

// check, remove, check on a typical installation whose registered folder's name is not ASCII (the
// output is redirected, so it is UTF-8, and holds the paths exactly). check lists the layers it
// looked at, the registration, every planted file and key, each where Explorer and 64-bit regedit
// show it, and nothing else (the 64-bit copy is not the control's); remove deletes what the window's
// full removal deletes, saying so line by line; then check finds nothing.
TEST_F(Console, CheckRemoveCheck) {
    const std::wstring registeredFolder = L"C:\\Program Files\\Tavrex Caf\u00E9";
    const std::vector<std::wstring> files = PlantInstallation(TypicalFolders(), ModuleIn(registeredFolder));

    ConsoleResult check = RunConsole(L"check");
    EXPECT_EQ(check.exitCode, 1u) << "registered: a detection asks for the remediation";
    EXPECT_NE(check.bytes.find("Tavrex Caf\xC3\xA9"), std::string::npos) << "not UTF-8: " << check.bytes;
    ASSERT_EQ(check.Starting(L"looked at: machine; user ").size(), 1u) << "the machine's classes and the user's";
    EXPECT_EQ(check.Starting(L"registered: "), std::vector<std::wstring>{L"machine: " + ModuleIn(registeredFolder) + L", 1"});
    EXPECT_EQ(check.Starting(L"module: "), std::vector<std::wstring>{ModuleIn(registeredFolder)});
    ExpectSamePlaces(check.Starting(L"file: "), FilePlaces(files));
    ExpectSamePlaces(check.Starting(L"key: "), KeyPlaces(RegistrationKeys()));
    EXPECT_EQ(check.lines.size(), 3 + files.size() + RegistrationKeys().size() + 1) << "lines of nothing planted";

    const ConsoleResult remove = RunConsole(L"remove");
    EXPECT_EQ(remove.exitCode, 0u);
    ExpectSamePlaces(remove.Starting(L"deleted file: "), FilePlaces(files));
    ExpectSamePlaces(remove.Starting(L"deleted key: "), KeyPlaces(RegistrationKeys()));
    EXPECT_TRUE(remove.Has(L"result: removed; the control is no longer registered"));
    ExpectFiles(files, false, "remove finished");
    ExpectKeys(RegistrationKeys(), false, "remove finished");

    check = RunConsole(L"check");
    EXPECT_EQ(check.exitCode, 0u);
    ASSERT_EQ(check.lines.size(), 3u);
    EXPECT_EQ(std::vector<std::wstring>(check.lines.begin() + 1, check.lines.end()),
              (std::vector<std::wstring>{L"registered: none", L"result: not registered"}));

    EXPECT_EQ(RunConsole(L"--help").exitCode, 0u);
    for (const wchar_t* wrong : {L"", L"delete", L"check remove", L"/remove"}) {
        SCOPED_TRACE(Show(wrong));
        const ConsoleResult run = RunConsole(wrong);
        EXPECT_EQ(run.exitCode, 2u) << "a usage error";
        EXPECT_TRUE(run.lines.empty()) << "a usage error goes to standard error";
    }
}

// A user logged on has classes of their own (HKEY_USERS\<SID>_Classes), which SYSTEM and an
// elevated administrator may read and a plain run may not. Elevated, check names that user with
// their profile folder, and counts the profile of a user who is not logged on as not looked at;
// remove deletes that user's keys with the files of the folders, and names the module their
// registration names, which it leaves for a run as that user; check then finds nothing. A plain run
// looks at the machine's classes and its own only.
TEST_F(Console, LoggedOnUsersRegistrationIsRemovedWhenElevated) {
    const std::wstring alice = kAlice;
    const std::wstring bob = L"S-1-5-21-3623811015-3361044348-30300820-1014";
    PlantProfile(alice, L"C:\\Users\\alice");
    PlantProfile(bob, L"C:\\Users\\bob");
    const Classes classes = LoggedOnUserClasses(alice);
    const std::wstring module = ModuleIn(L"C:\\Users\\alice\\AppData\\Roaming\\Tavrex");
    PlantRegistration(classes, module);
    const std::vector<std::wstring> files = PlantControlFiles(TypicalFolders());
    std::vector<Key> keys = ClassKeys(classes);
    for (Key& key : UnitKeys()) keys.push_back(std::move(key));

    const ConsoleResult plain = RunConsole(L"check");
    EXPECT_EQ(plain.exitCode, 0u) << "a plain run cannot see other users' classes";
    EXPECT_TRUE(plain.Has(L"registered: none"));

    ConsoleResult check = RunConsole(L"check", true);
    EXPECT_EQ(check.exitCode, 1u);
    EXPECT_EQ(check.Starting(L"looked at: ").size(), 1u);
    EXPECT_NE(check.Starting(L"looked at: ").at(0).find(L"; user " + alice + L" (C:\\Users\\alice)"), std::wstring::npos);
    EXPECT_EQ(check.Starting(L"registered: "),
              std::vector<std::wstring>{L"user " + alice + L" (C:\\Users\\alice): " + module + L", 1"});
    EXPECT_EQ(check.Starting(L"module: "), std::vector<std::wstring>{module + kAnotherUsersModule});
    ExpectSamePlaces(check.Starting(L"file: "), FilePlaces(files));
    ExpectSamePlaces(check.Starting(L"key: "), KeyPlaces(keys));
    EXPECT_EQ(check.Starting(L"not looked at: profiles of users who are not logged on (their classes are not loaded): "),
              std::vector<std::wstring>{L"1; a run while they are logged on covers them"});

    const ConsoleResult remove = RunConsole(L"remove", true);
    EXPECT_EQ(remove.exitCode, 0u);
    ExpectSamePlaces(remove.Starting(L"deleted file: "), FilePlaces(files));
    EXPECT_EQ(remove.Starting(L"left file: "), std::vector<std::wstring>{module + kAnotherUsersFileLeft});
    ExpectSamePlaces(remove.Starting(L"deleted key: "), KeyPlaces(keys));
    EXPECT_TRUE(remove.Has(L"result: removed from every layer looked at; 1 profiles not looked at"));
    ExpectFiles(files, false, "remove finished");
    EXPECT_TRUE(FileExists(module)) << "an elevated run deleted a file another user's registration named";
    ExpectKeys(keys, false, "remove finished");

    check = RunConsole(L"check", true);
    EXPECT_EQ(check.exitCode, 0u);
    EXPECT_TRUE(check.Has(L"registered: none"));
}

// A fault the companion did not expect ends it with the exit code of another failure and a line on
// standard error, never with abort()'s own 3, which deployment systems read as "access denied". A
// DLL loaded into the running companion calls abort(), as a module that fails would; the companion
// is held meanwhile by its own output, which is read only afterwards.
TEST_F(Console, AbortEndsWithTheCodeOfAnotherFailure) {
    PlantInstallation(ControlFolders());  // more lines than the pipe holds
    const ConsoleRun run = RunConsoleProgram(
        ExeBesideThisProgram(L"Qelpad80RemoverCli.exe"), L"check", false, [](HANDLE process, HANDLE output) {
            // Once it writes, it has made its arrangements for a fault.
            const bool writes = WaitUntil([&] {
                DWORD available = 0;
                return ::PeekNamedPipe(output, nullptr, 0, nullptr, &available, nullptr) && available > 0;
            });
            ASSERT_TRUE(writes) << "the companion wrote nothing";
            LoadIntoProcess(process, ExeBesideThisProgram(L"aborting_dll.dll"));
        });
    EXPECT_EQ(run.exitCode, 5u) << run.errors;
    EXPECT_NE(run.errors.find("failed: the companion ended on an error of its own"), std::string::npos) << run.errors;
    EXPECT_EQ(run.output.find("result: "), std::string::npos) << "the check ran to its end before the fault";
}

// Files and keys without a registration (neither a module path nor InprocServer32) are leftovers:
// check lists them and asks for nothing, and remove, like the window, deletes nothing.
TEST_F(Console, ListsLeftoversAndLeavesThem) {
    const std::vector<std::wstring> files = PlantInstallation();
    RemoveKey(ModulePathKey());
    RemoveKey(InprocServerKey());
    const std::vector<Key> others = WithoutWhatLoadsTheControl(RegistrationKeys());

    const ConsoleResult check = RunConsole(L"check");
    EXPECT_EQ(check.exitCode, 0u) << "nothing that remove could change";
    EXPECT_TRUE(check.Has(L"registered: none"));
    // Without a registration the registered module is not the control's to name: the fixed folders only.
    ExpectSamePlaces(check.Starting(L"leftover file: "), FilePlaces({files.begin() + 1, files.end()}));
    ExpectSamePlaces(check.Starting(L"leftover key: "), KeyPlaces(others));

    const ConsoleResult remove = RunConsole(L"remove");
    EXPECT_EQ(remove.exitCode, 0u);
    EXPECT_TRUE(remove.Has(L"result: not registered; nothing was deleted"));
    EXPECT_TRUE(remove.Starting(L"deleted ").empty());
    ExpectFiles(files, true, "the control is not registered");
    ExpectKeys(others, true, "the control is not registered");
}

// A key deletion refused for a right (made so in this process, see RefusedKeyDeletions): remove names
// the key and the error, and exits with 3, the code that asks for a run elevated or as SYSTEM; its
// parent is named as kept by it; the files and every other key go.
TEST_F(Console, KeyDeletionRefusedForARightAsksForOne) {
    const std::vector<std::wstring> files = PlantInstallation();
    ConsoleResult remove;
    {
        const RefusedKeyDeletions refused("\\InprocServer32");
        remove = RemoveHere();
    }
    EXPECT_EQ(remove.exitCode, 3u);
    const std::wstring inprocServer = KeyPlaces({InprocServerKey()}).front();
    EXPECT_TRUE(remove.HasStartIgnoringCase(L"not deleted: key " + inprocServer + L": error 0x80070005"))
        << ::testing::PrintToString(remove.lines);
    EXPECT_TRUE(remove.HasStartIgnoringCase(L"not deleted: key " + KeyPlaces({ClassKey()}).front() +
                                       L": it still holds its subkey InprocServer32"));
    EXPECT_TRUE(remove.HasStartIgnoringCase(L"failed: removing the registration: " + inprocServer + L" (machine) is still there"));
    EXPECT_TRUE(remove.Has(L"advice: run it elevated or as SYSTEM"));
    EXPECT_TRUE(remove.Has(L"result: not removed; what is listed above was deleted"));
    ExpectFiles(files, false, "files come first");
    ExpectKeys(UnitKeys(), false, "the distribution unit");
    EXPECT_TRUE(KeyExists(InprocServerKey()));
}

// A read-only copy stops remove as it stops the window: the failure's exit code, a line naming the
// file and the reason, the files before it deleted and every key still there. A registered module
// that no search accepts (a '|' in its folder) stops check and remove at that file, named so.
TEST_F(Console, FailureNamesTheFileItStoppedAt) {
    const auto [files, readOnly, before, from] = PlantInstallationWithAReadOnlyCopy();

    const ConsoleResult remove = RunConsole(L"remove");
    EXPECT_EQ(remove.exitCode, 5u);
    ExpectSamePlaces(remove.Starting(L"deleted file: "), FilePlaces(before));
    EXPECT_EQ(remove.Starting(L"failed: deleting file " + readOnly + L": error 0x80071779").size(), 1u)
        << "no line names the read-only file";
    EXPECT_TRUE(remove.Starting(L"deleted key: ").empty());
    ExpectFiles(from, true, "remove stopped at the read-only file");
    ExpectKeys(RegistrationKeys(), true, "files come before keys");

    const std::wstring unsearchable = L"C:\\a|b\\Qelpad80.dll";
    SetModulePath(unsearchable + L", 1");
    for (const auto& [verb, step] : {std::pair{L"check", L"looking for file "}, std::pair{L"remove", L"deleting file "}}) {
        SCOPED_TRACE(Show(verb));
        const ConsoleResult run = RunConsole(verb);
        EXPECT_EQ(run.exitCode, 5u);
        EXPECT_EQ(run.Starting(L"failed: " + std::wstring(step) + unsearchable + L": error 0x8007007B").size(), 1u)
            << "no line names the registered module and ERROR_INVALID_NAME";
    }
    ExpectKeys(RegistrationKeys(), true, "remove stopped at the registered module");
}

}  // namespace
