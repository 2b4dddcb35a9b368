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

#include "base/Unique.h"
#include "support/Sandbox.h"
#include "support/WindowDriver.h"

namespace {

using namespace Sandbox;

// What a person reads, written out here rather than taken from the program.
const std::wstring kTitle = L"删除控件";
const std::wstring kDelete = L"【删除】";
const std::wstring kClose = L"关闭";
const std::wstring kConfirm = L"\r\n您确定要删除Tavrex安全登录控件吗？\r\n";
const std::wstring kNotRegistered = L"未在你的计算机上发现Tavrex安全登录控件";
const std::wstring kRemoved = L"删除成功，谢谢您的使用";
const std::wstring kFailed = L"\r\n删除失败，请检查是否有权限或者正在使用！";

std::string Show(const std::wstring& text) { return ::testing::PrintToString(text); }

// ---- Driving the tool ----

// A default value of the module-path key, as raw registry data.
struct ModuleValue {
    const char* what;
    DWORD type;
    const void* data;  // null: no default value at all
    DWORD size;
};

enum class Icon { None, Warning };

// A 32-bit picture in memory to draw on and read back.
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
    // Blue, green, red and an unused byte a pixel, row by row.
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

// Which of the system's standard icons a message box shows, told by its pixels on the screen:
// each standard icon is drawn here on the box's own background, and the closest one wins if it
// is close indeed ("" otherwise). Observed under Wine: the box holds the tool's own handle of the
// shared icon, another value than LoadIconW gives in this process, so handles cannot be compared.
// Xvfb has no window manager and shows the box unobscured, so the screen can be read.
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
        HDC screen = ::GetDC(nullptr);
        ::BitBlt(canvas.Dc(), 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
        ::ReleaseDC(nullptr, screen);
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

void ExpectBox(HWND box, const std::wstring& text, std::vector<int> buttons, Icon icon) {
    MessageBoxContents contents = ReadMessageBox(box);
    EXPECT_EQ(contents.title, kTitle);
    EXPECT_EQ(Show(contents.text), Show(text));
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

// Presses Delete and returns the confirmation, after checking what it says.
HWND PressDelete(const AppProcess& app) {
    PressButton(Button(app, kDelete));
    HWND box = app.WaitForMessageBox();
    if (!box) {
        ADD_FAILURE() << "Delete asked nothing";
        return nullptr;
    }
    ExpectBox(box, kConfirm, {IDOK, IDCANCEL}, Icon::None);
    return box;
}

// Presses Delete, confirms, and returns the box that tells the outcome (null when none came).
HWND ConfirmRemoval(const AppProcess& app) {
    HWND confirm = PressDelete(app);
    if (!confirm) return nullptr;
    AnswerMessageBox(confirm, IDOK);
    HWND outcome = app.WaitForMessageBox();
    if (!outcome) ADD_FAILURE() << "no message after the confirmation";
    return outcome;
}

enum class Outcome { Removed, NotRegistered, Failed };

// Checks the outcome box, answers it, and checks that the tool ended (or stayed, after a failure).
void ExpectOutcome(const AppProcess& app, HWND box, Outcome outcome) {
    ASSERT_NE(box, nullptr);
    switch (outcome) {
    case Outcome::Removed: ExpectBox(box, kRemoved, {IDOK}, Icon::None); break;
    case Outcome::NotRegistered: ExpectBox(box, kNotRegistered, {IDOK}, Icon::None); break;
    case Outcome::Failed: ExpectBox(box, kFailed, {IDOK}, Icon::Warning); break;
    }
    AnswerMessageBox(box, IDOK);
    if (outcome == Outcome::Failed) {
        EXPECT_TRUE(app.NoMessageBoxFor(300)) << "a failure shows one message";
        EXPECT_TRUE(app.Running()) << "the window stays open after a failure";
        EXPECT_TRUE(::IsWindowVisible(app.MainWindow()));
        EXPECT_TRUE(::IsWindowEnabled(Button(app, kDelete))) << "the window stays usable";
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

// ---- What is on the machine ----

void ExpectFiles(const std::vector<std::wstring>& files, bool present, const char* what) {
    for (const std::wstring& file : files) {
        EXPECT_EQ(FileExists(file), present) << Show(file) << (present ? " is gone: " : " is left: ") << what;
    }
}

void ExpectKeys(const std::vector<Key>& keys, bool present, const char* what) {
    for (const Key& key : keys) {
        EXPECT_EQ(KeyExists(key), present) << Describe(key) << (present ? " is gone: " : " is left: ") << what;
    }
}

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

class Removal : public ::testing::Test {
protected:
    void SetUp() override {
        m_canaries = PlantCanaryFiles();
        m_sentinels = PlantSentinelKeys();
        m_bystanders = Plant64BitBystanders();
    }

    // A tool built 64-bit would look in the 64-bit views, and delete these instead.
    void TearDown() override {
        ExpectFiles(m_canaries, true, "a canary");
        for (const Key& sentinel : m_sentinels) EXPECT_TRUE(SentinelIntact(sentinel)) << Describe(sentinel);
        ExpectFiles(m_bystanders, true, "the 64-bit copy is not the control the tool removes");
        ExpectKeys(ControlKeysIn64BitView(), true, "the 64-bit registration is not the control's");
    }

    // A typical installation: the nineteen keys, the module registered as "<path>, 1" in its own
    // folder, and the two files in the system folder, the maker's folder and three CONFLICT
    // folders. Returns the files in the order the removal meets them.
    static std::vector<std::wstring> PlantInstallation() {
        PlantControlKeys();
        SetModulePath(ModuleIn(kRegisteredFolder) + L", 1");
        PlantFile(ModuleIn(kRegisteredFolder));
        std::vector<std::wstring> files = PlantControlFiles(TypicalFolders());
        files.insert(files.begin(), ModuleIn(kRegisteredFolder));
        return files;
    }

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
    template <typename SetValue>
    static void ExpectEverythingButTheRegisteredPathRemoved(const std::vector<std::wstring>& keep, SetValue setValue) {
        PlantControlKeys();
        const std::vector<std::wstring> files = PlantControlFiles(TypicalFolders());
        setValue();
        RunRemoval(Outcome::Removed);
        ExpectFiles(keep, true, "the registered path is not the control's module");
        ExpectFiles(files, false, "the removal goes on");
        ExpectKeys(ControlKeys(), false, "the removal goes on");
    }

    std::vector<std::wstring> m_canaries;
    std::vector<Key> m_sentinels;
    std::vector<std::wstring> m_bystanders;
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
    for (const Key& key : ControlKeys()) {
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
    AnswerMessageBox(box, IDCANCEL);
    EXPECT_TRUE(app.NoMessageBoxFor(1000)) << "Cancel showed something more";
    EXPECT_TRUE(app.Running());

    box = PressDelete(app);
    ASSERT_NE(box, nullptr);
    ::PostMessageW(box, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(box); })) << "the confirmation did not close";
    EXPECT_TRUE(app.NoMessageBoxFor(1000)) << "closing the confirmation showed something more";
    EXPECT_TRUE(app.Running());

    ExpectFiles(files, true, "the removal was cancelled");
    ExpectKeys(ControlKeys(), true, "the removal was cancelled");
    PressButton(Button(app, kClose));
    EXPECT_EQ(app.WaitForExit(), 0u);
    ExpectFiles(files, true, "Close deletes nothing");
}

// Copies of the files and the other keys do not make a registration: nothing is touched.
TEST_F(Removal, WithoutAModulePathNothingIsDeletedAndTheToolEnds) {
    const std::vector<std::wstring> files = PlantInstallation();
    std::vector<Key> others = ControlKeys();
    others.erase(std::find_if(others.begin(), others.end(), [](const Key& k) { return k.path == kModulePathKey; }));
    ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteKeyW(HKEY_CLASSES_ROOT, kModulePathKey));

    RunRemoval(Outcome::NotRegistered);
    ExpectFiles(files, true, "the control is not registered");
    ExpectKeys(others, true, "the control is not registered");
}

// A default value that gives no text: none at all, a REG_SZ of no bytes, and types that are not
// read although they hold a path. Each is a run of its own; nothing is deleted by any.
TEST_F(Removal, ModuleValuesThatGiveNoTextCountAsNotRegistered) {
    const std::vector<std::wstring> files = PlantInstallation();
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
        {
            UniqueHKey key;
            ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_CLASSES_ROOT, kModulePathKey, 0, KEY_SET_VALUE, key.Put()));
            ::RegDeleteValueW(key.Get(), L"");
        }
        if (value.data) SetModuleValue(value.type, value.data, value.size);
        RunRemoval(Outcome::NotRegistered);
        ExpectFiles(files, true, "the control is not registered");
        ExpectKeys(ControlKeys(), true, "the control is not registered");
    }
}

TEST_F(Removal, FullRemovalLeavesNothingOfTheControl) {
    const std::vector<std::wstring> files = PlantInstallation();
    RunRemoval(Outcome::Removed);
    ExpectFiles(files, false, "the removal finished");
    ExpectKeys(ControlKeys(), false, "the removal finished");
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
    ExpectKeys(ControlKeys(), false, "the removal finished");
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
        ExpectEverythingButTheRegisteredPathRemoved(keep, [&] { SetModuleValue(value.type, value.data, value.size); });
    }
}

// The file-system object refuses a read-only file: the removal stops there with the warning.
// Pressing Delete again starts again from the confirmation.
TEST_F(Removal, ReadOnlyCopyStopsTheRemovalAtThatFile) {
    const std::vector<std::wstring> files = PlantInstallation();
    const std::wstring readOnly = ModuleIn(ConflictFolder(50));
    ASSERT_TRUE(::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    const auto at = std::find(files.begin(), files.end(), readOnly);
    ASSERT_NE(at, files.end());
    const std::vector<std::wstring> before(files.begin(), at), from(at, files.end());

    AppProcess app;
    ASSERT_NE(app.MainWindow(), nullptr);
    ASSERT_NO_FATAL_FAILURE(ExpectOutcome(app, ConfirmRemoval(app), Outcome::Failed));
    ExpectFiles(before, false, "it came before the read-only file");
    ExpectFiles(from, true, "the removal stopped at the read-only file");
    ExpectKeys(ControlKeys(), true, "files come before keys");

    HWND box = PressDelete(app);
    ASSERT_NE(box, nullptr) << "a second press asks again";
    AnswerMessageBox(box, IDCANCEL);
    EXPECT_TRUE(app.NoMessageBoxFor(500));
    ExpectFiles(from, true, "the second press was cancelled");

    ASSERT_TRUE(::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL));
    ExpectOutcome(app, ConfirmRemoval(app), Outcome::Removed);
    ExpectFiles(files, false, "the third press finished the removal");
    ExpectKeys(ControlKeys(), false, "the third press finished the removal");
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
    ExpectKeys(ControlKeys(), false, "the removal finished");
    // Observed under Wine: every file reports FILE_ATTRIBUTE_ARCHIVE, whatever it was given.
    for (const auto& file : hidden) {
        SCOPED_TRACE(Show(file.path));
        EXPECT_EQ(FileAttributes(file.path) & ~FILE_ATTRIBUTE_ARCHIVE, file.attributes & ~FILE_ATTRIBUTE_ARCHIVE);
    }
    EXPECT_NE(FileAttributes(ModuleIn(ConflictFolder(4))) & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

// Held open without FILE_SHARE_DELETE by another process, the file cannot be deleted. Observed
// under Wine: DeleteFile of the file-system object then fails, as it does for a read-only file;
// a handle opened with no data access (access 0) does not stand in the way.
TEST_F(Removal, CopyHeldOpenByAnotherProcessFailsUntilReleased) {
    const std::vector<std::wstring> files = PlantInstallation();
    const std::wstring held = SetupIn(ConflictFolder(100));  // the last file: every other one goes first
    ASSERT_EQ(files.back(), held);
    UniqueHandle holder(::CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_NE(holder.Get(), INVALID_HANDLE_VALUE) << ::GetLastError();

    AppProcess app;
    ASSERT_NE(app.MainWindow(), nullptr);
    ASSERT_NO_FATAL_FAILURE(ExpectOutcome(app, ConfirmRemoval(app), Outcome::Failed));
    ExpectFiles(std::vector<std::wstring>(files.begin(), files.end() - 1), false, "it came before the held file");
    EXPECT_TRUE(FileExists(held));
    ExpectKeys(ControlKeys(), true, "files come before keys");

    holder.Reset();
    ExpectOutcome(app, ConfirmRemoval(app), Outcome::Removed);
    EXPECT_FALSE(FileExists(held)) << "the released file is left";
    ExpectKeys(ControlKeys(), false, "the second press finished the removal");
}

// A class registration can be written by any program of the user, while the removal runs with
// more rights: a registered path that does not name the control's module is passed over, and the
// rest of the removal goes on. That covers another file, any wildcard (the file-system object
// would delete every file it matches) and relative paths, which would be resolved against the
// tool's current folder: here each of them leads into C:\keep.
TEST_F(Removal, RegisteredPathThatIsNotTheControlModuleIsPassedOver) {
    std::vector<std::wstring> keep = PlantKeepFolder();
    keep.push_back(std::wstring(kKeepFolder) + L"\\Qelpad80.dll.bak");
    PlantFile(keep.back());
    const CurrentFolder current(kKeepFolder);
    for (const wchar_t* registered : {
             L"C:\\keep\\important.dll, 1", L"C:\\keep\\Kest.inf", L"C:\\keep\\Qelpad80.dll.bak, 1",
             L"C:\\keep\\*.dll, 1", L"C:\\keep\\*", L"C:\\keep\\Qelpad80.dl?", L"C:\\ke?p\\Qelpad80.dll, 1",
             L"C:\\*\\Qelpad80.dll",
             L"Qelpad80.dll, 1", L".\\Qelpad80.dll", L"..\\keep\\Qelpad80.dll", L"\\keep\\Qelpad80.dll, 1",
             L"C:Qelpad80.dll"}) {
        SCOPED_TRACE(Show(registered));
        const std::wstring path = std::wstring(registered).substr(0, std::wstring(registered).find(L','));
        if (path.find_first_of(L"*?") == std::wstring::npos) {
            ASSERT_TRUE(FileExists(path)) << "the path leads nowhere here";
        }
        ExpectEverythingButTheRegisteredPathRemoved(keep, [&] { SetModulePath(registered); });
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
    ExpectKeys(ControlKeys(), true, "the registration could not be read");

    PressButton(Button(app, kClose));
    EXPECT_EQ(app.WaitForExit(), 0u) << "Close ends the tool after a failed removal";
}

// The file-system object is made at every press, before anything is asked: without its ProgID
// the press goes straight to the warning, and nothing is read or deleted.
TEST_F(Removal, FileSystemObjectThatCannotBeMadeIsAnErrorBeforeTheQuestion) {
    const std::vector<std::wstring> files = PlantInstallation();
    ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Scripting.FileSystemObject"));

    AppProcess app;
    ASSERT_NE(app.MainWindow(), nullptr);
    PressButton(Button(app, kDelete));
    ASSERT_NO_FATAL_FAILURE(ExpectOutcome(app, app.WaitForMessageBox(), Outcome::Failed));
    ExpectFiles(files, true, "there was no file-system object");
    ExpectKeys(ControlKeys(), true, "there was no file-system object");
}

// Keys that are missing are passed over without a word, and a key is deleted on its own: a class
// key that still has a child of someone else's stays, with that child.
TEST_F(Removal, MissingKeysArePassedOverAndNoTreeIsDeleted) {
    const Key foreign{HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\AppID"};
    {
        UniqueHKey key;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(foreign.root, foreign.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                   nullptr, key.Put(), nullptr));
    }
    SetModulePath(ModuleIn(kSystemFolder) + L",1");  // no file anywhere, no other key

    RunRemoval(Outcome::Removed);
    EXPECT_FALSE(KeyExists({HKEY_CLASSES_ROOT, kModulePathKey}));
    EXPECT_TRUE(KeyExists(foreign)) << "a key the removal does not name was deleted";
    EXPECT_TRUE(KeyExists({HKEY_CLASSES_ROOT, kClassKey})) << "the registry does not delete a key with children";
}

}  // namespace
