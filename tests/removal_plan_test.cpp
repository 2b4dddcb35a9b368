// The pieces of the removal that need no window: which keys it deletes and in which order, how it
// reads the registered module path, which registered paths it is willing to delete and which it
// leaves, the directory search it asks before every deletion and what the file-system object is then
// handed (against real files).

#include <windows.h>

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "base/ComApartment.h"
#include "base/Errors.h"
#include "removal/FileDeletion.h"
#include "removal/RemovalPlan.h"
#include "support/Expected.h"
#include "support/Installation.h"

namespace {

using Installation::Show;

const std::wstring kNul(1, L'\0');

const ClassesLayer kMachine{HKEY_LOCAL_MACHINE, L"Software\\Classes\\Wow6432Node", KEY_WOW64_64KEY, L"",
                            LayerOwner::Machine, L"machine"};
const ClassesLayer kRunningUser{HKEY_CURRENT_USER, L"Software\\Classes\\Wow6432Node", KEY_WOW64_64KEY, L"",
                                LayerOwner::RunningUser, L"user S-1-5-21-1-2-3-1000"};
const ClassesLayer kOtherUser{HKEY_USERS, L"S-1-5-21-1-2-3-1001_Classes\\Wow6432Node", KEY_WOW64_64KEY,
                              L"S-1-5-21-1-2-3-1001_Classes", LayerOwner::OtherUser, L"user S-1-5-21-1-2-3-1001"};

// Children always before their parent: the fourteen class keys of each layer of classes in turn, in
// the layer's view, then the distribution unit below HKEY_LOCAL_MACHINE in this process's own.
TEST(RemovalPlan, DeletesTheClassKeysOfEachLayerThenTheDistributionUnit) {
    std::vector<Expected::Key> expected;
    for (const Expected::Classes& classes :
         {Expected::Classes{HKEY_LOCAL_MACHINE, L"Software\\Classes\\Wow6432Node\\", KEY_WOW64_64KEY},
          Expected::LoggedOnUserClasses(L"S-1-5-21-1-2-3-1001")}) {
        for (const Expected::Key& key : Expected::ClassKeys(classes)) expected.push_back(key);
    }
    for (const Expected::Key& key : Expected::UnitKeys()) expected.push_back(key);
    const std::vector<RegistryKey> keys = RegistrationKeys({kMachine, kOtherUser});
    ASSERT_EQ(keys.size(), expected.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        SCOPED_TRACE(i + 1);
        EXPECT_EQ(Show(keys[i].path), Show(expected[i].path));
        EXPECT_EQ(keys[i].root, expected[i].root);
        EXPECT_EQ(keys[i].view, expected[i].view);
    }
    const Expected::Classes other = Expected::LoggedOnUserClasses(L"S-1-5-21-1-2-3-1001");
    EXPECT_EQ(Show(ModulePathKey(kOtherUser).path), Show(Expected::ModulePathKey(other).path));
    EXPECT_EQ(Show(InprocServerKey(kOtherUser).path), Show(Expected::InprocServerKey(other).path));
}

// A module-path value is read up to its first NUL (a value stored with its terminator keeps it, and
// could hide more behind it), and the module it names is the text before the first comma, not
// trimmed; a value that begins with a comma names none.
TEST(RemovalPlan, ModulePathIsCutAtItsFirstNulThenAtItsFirstComma) {
    const struct {
        std::wstring value;
        std::wstring text;
        std::wstring module;
    } cases[] = {
        {L"C:\\x\\a.dll, 1", L"C:\\x\\a.dll, 1", L"C:\\x\\a.dll"},
        {L",C:\\x\\a.dll", L",C:\\x\\a.dll", L""},
        {L"a,b,c", L"a,b,c", L"a"},
        {L" C:\\x\\a.dll ,1", L" C:\\x\\a.dll ,1", L" C:\\x\\a.dll "},
        {L"C:\\x\\a.dll" + kNul, L"C:\\x\\a.dll", L"C:\\x\\a.dll"},
        {L"C:\\a.dll" + kNul + L",1", L"C:\\a.dll", L"C:\\a.dll"},
        {L"C:\\x\\Qelpad80.dll" + kNul + L"*\\other.dll, 1", L"C:\\x\\Qelpad80.dll", L"C:\\x\\Qelpad80.dll"},
        {kNul + L"C:\\x\\Qelpad80.dll", L"", L""},
        {kNul, L"", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Show(c.value));
        const ModulePath parsed = ParseModulePath(c.value);
        EXPECT_EQ(Show(parsed.text), Show(c.text));
        EXPECT_EQ(Show(parsed.module), Show(c.module));
        EXPECT_EQ(parsed.isControlModule, IsControlModulePath(c.module));
    }
}

// Any program of the user can write the class registration; only a fully qualified local path
// that ends in the control's module, without wildcards, and not through the 64-bit system folder's
// alias, is ever deleted.
TEST(RemovalPlan, DeletesARegisteredPathOnlyWhenItNamesTheControlModule) {
    const std::wstring accepted[] = {
        L"C:\\x\\Qelpad80.dll",
        L"c:\\WINDOWS\\system32\\QELPAD80.DLL",
        L"Z:\\Qelpad80.dll",
        L"C:\\Program Files\\Tavrex\\qelpad80.Dll",
        L"C:\\Sysnative2\\Qelpad80.dll",
    };
    for (const std::wstring& path : accepted) {
        SCOPED_TRACE(Show(path));
        EXPECT_TRUE(IsControlModulePath(path));
    }
    const std::wstring refused[] = {
        L"",
        kNul,
        L"C:\\x\\Qelpad80.dll" + kNul,
        L"C:\\keep\\important.dll",
        L"C:\\keep\\Qelpad80.dll.bak",
        L"C:\\keep\\xQelpad80.dll",
        L"C:\\keep\\Qelpad80.dl",
        L"C:\\keep\\Qelpad80.dll.",
        L"C:\\keep\\Qelpad80.dll:stream",
        L"C:\\keep\\Qelpad80.dll\\",
        L"C:\\keep\\*.dll",
        L"C:\\keep\\*",
        L"C:\\keep\\Qelpad80.dl?",
        L"C:\\ke?p\\Qelpad80.dll",
        L"C:\\*\\Qelpad80.dll",
        L"Qelpad80.dll",
        L"keep\\Qelpad80.dll",
        L"\\keep\\Qelpad80.dll",
        L"C:Qelpad80.dll",
        L"C:keep\\Qelpad80.dll",
        L"\\\\server\\share\\Qelpad80.dll",
        L"\\\\?\\C:\\keep\\Qelpad80.dll",
        L"\\\\.\\C:\\keep\\Qelpad80.dll",
        L"C:/keep/Qelpad80.dll",
        L"C:\\keep/Qelpad80.dll",
        L"1:\\keep\\Qelpad80.dll",
        L"\xFF23:\\keep\\Qelpad80.dll",  // a full-width letter is no drive
        L"C:\\Windows\\Sysnative\\Qelpad80.dll",
        L"c:\\windows\\SYSNATIVE\\Qelpad80.dll",
        L"C:\\Windows\\Sysnative\\Morvex\\Qelpad80.dll",
        L"D:\\Windows\\Sysnative\\Qelpad80.dll",
    };
    for (const std::wstring& path : refused) {
        SCOPED_TRACE(Show(path));
        EXPECT_FALSE(IsControlModulePath(path));
    }
}

// The files a removal deletes: each registration's module first, in the order of the layers, each
// once, when it is the control's and the machine's or the running user's registration names it; then
// the folders' files, two in each. What it leaves is said with why: another file, or a path named only
// by another user (theirs to write), unless a layer it may follow names it too.
TEST(RemovalPlan, DeletesTheModulesItMayThenTheFoldersFiles) {
    const auto registration = [](const ClassesLayer& layer, const std::wstring& value) {
        return LayerRegistration{layer, true, ParseModulePath(value), true};
    };
    const FilePlan plan = PlanFiles({
        registration(kMachine, L"C:\\x\\Qelpad80.dll, 1"),
        registration(kRunningUser, L"C:\\y\\Qelpad80.dll" + kNul),
        registration(kOtherUser, L"C:\\users\\other\\Qelpad80.dll, 1"),
        registration(kOtherUser, L"c:\\X\\QELPAD80.DLL"),
        registration(kRunningUser, L"C:\\keep\\important.dll, 1"),
        LayerRegistration{kMachine, false, ParseModulePath(L""), true},  // InprocServer32 alone
    });
    const std::size_t folderFiles = 2 * Expected::ControlFolders().size();
    ASSERT_EQ(plan.toDelete.size(), folderFiles + 2);
    EXPECT_EQ(Show(plan.toDelete[0]), Show(L"C:\\x\\Qelpad80.dll"));
    EXPECT_EQ(Show(plan.toDelete[1]), Show(L"C:\\y\\Qelpad80.dll"));
    EXPECT_EQ(Show(plan.toDelete[2]), Show(Expected::ModuleIn(Expected::kSystemFolder)));
    EXPECT_EQ(Show(plan.toDelete.back()), Show(Expected::SetupIn(Expected::ConflictFolder(100))));
    ASSERT_EQ(plan.left.size(), 2u);
    EXPECT_EQ(Show(plan.left[0].path), Show(L"C:\\users\\other\\Qelpad80.dll"));
    EXPECT_EQ(plan.left[0].why, FileLeft::Why::AnotherUsersPath);
    EXPECT_EQ(Show(plan.left[0].layer), Show(kOtherUser.description));
    EXPECT_EQ(Show(plan.left[1].path), Show(L"C:\\keep\\important.dll"));
    EXPECT_EQ(plan.left[1].why, FileLeft::Why::NotTheControlsModule);
}

// The search asked before every deletion, against real files in a folder of this test's own.
class RemovalFileSearch : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ASSERT_NE(::GetTempPathW(MAX_PATH, temp), 0u);
        m_folder = std::wstring(temp) + L"qelpad-search-" + std::to_wstring(::GetCurrentProcessId());
        ASSERT_TRUE(::CreateDirectoryW(m_folder.c_str(), nullptr)) << ::GetLastError();
    }

    void TearDown() override {
        for (const std::wstring& name : m_made) {
            const std::wstring path = At(name);
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!::DeleteFileW(path.c_str())) ::RemoveDirectoryW(path.c_str());
        }
        ::RemoveDirectoryW(m_folder.c_str());
    }

    std::wstring At(const std::wstring& name) const { return m_folder + L"\\" + name; }

    void MakeFile(const std::wstring& name, DWORD attributes) {
        const std::wstring path = At(name);
        HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << Show(name) << ", error " << ::GetLastError();
        ::CloseHandle(file);
        m_made.push_back(name);
        ASSERT_TRUE(::SetFileAttributesW(path.c_str(), attributes)) << ::GetLastError();
        // Wine keeps hidden and system in an extended attribute; a file system without them
        // would make this test meaningless. wine-only: FILE_ATTRIBUTE_NORMAL reads back as ARCHIVE.
        const DWORD kept = attributes & ~FILE_ATTRIBUTE_NORMAL;
        ASSERT_EQ(::GetFileAttributesW(path.c_str()) & kept, kept) << Show(name);
    }

    void MakeFolder(const std::wstring& name) {
        ASSERT_TRUE(::CreateDirectoryW(At(name).c_str(), nullptr)) << ::GetLastError();
        m_made.insert(m_made.begin(), name);  // removed after the files
    }

    std::wstring m_folder;
    std::vector<std::wstring> m_made;
};

TEST_F(RemovalFileSearch, FindsOrdinaryFilesOnly) {
    const struct {
        const wchar_t* name;
        DWORD attributes;
        bool found;
    } cases[] = {
        {L"normal.dll", FILE_ATTRIBUTE_NORMAL, true},
        {L"readonly.dll", FILE_ATTRIBUTE_READONLY, true},
        {L"archive.dll", FILE_ATTRIBUTE_ARCHIVE, true},
        {L"readonly-archive.dll", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE, true},
        {L"hidden.dll", FILE_ATTRIBUTE_HIDDEN, false},
        {L"system.dll", FILE_ATTRIBUTE_SYSTEM, false},
        {L"hidden-readonly.dll", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY, false},
        {L"system-archive.dll", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE, false},
    };
    for (const auto& c : cases) ASSERT_NO_FATAL_FAILURE(MakeFile(c.name, c.attributes));
    ASSERT_NO_FATAL_FAILURE(MakeFolder(L"folder.dll"));

    for (const auto& c : cases) {
        SCOPED_TRACE(Show(c.name));
        EXPECT_EQ(Show(FindNormalFile(At(c.name))), Show(c.found ? c.name : L""));
    }
    EXPECT_EQ(Show(FindNormalFile(At(L"folder.dll"))), Show(L"")) << "a folder is not a file";
}

TEST_F(RemovalFileSearch, MissingFileOrFolderGivesNothing) {
    ASSERT_NO_FATAL_FAILURE(MakeFile(L"a.dll", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(Show(FindNormalFile(At(L"b.dll"))), Show(L""));
    EXPECT_EQ(Show(FindNormalFile(At(L"missing\\a.dll"))), Show(L""));
    EXPECT_EQ(Show(FindNormalFile(L"C:\\no such folder\\CONFLICT.7\\a.dll")), Show(L""));
    EXPECT_EQ(Show(FindNormalFile(L"")), Show(L""));
}

// Stands between the removal and the real file-system object, and keeps the first argument of
// every call as it came: a string exactly as long as its BSTR says.
class RecordingFileSystem final : public IDispatch {
public:
    explicit RecordingFileSystem(Microsoft::WRL::ComPtr<IDispatch> real) : m_real(std::move(real)) {}
    RecordingFileSystem(const RecordingFileSystem&) = delete;
    RecordingFileSystem& operator=(const RecordingFileSystem&) = delete;

    const std::vector<std::wstring>& Arguments() const noexcept { return m_arguments; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (iid != __uuidof(IUnknown) && iid != __uuidof(IDispatch)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    // Lives on the test's stack: counted, never freed by a release.
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_references; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return m_real->GetTypeInfoCount(count); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
        return m_real->GetTypeInfo(index, locale, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override {
        return m_real->GetIDsOfNames(iid, names, count, locale, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* parameters,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override {
        std::wstring argument = L"<not a string>";
        if (parameters && parameters->cArgs > 0) {
            const VARIANTARG& first = parameters->rgvarg[parameters->cArgs - 1];  // held last-first
            BSTR text = first.vt == (VT_BSTR | VT_BYREF) ? *first.pbstrVal
                        : first.vt == VT_BSTR           ? first.bstrVal
                                                        : nullptr;
            if (text) argument.assign(text, ::SysStringLen(text));
        }
        m_arguments.push_back(argument);
        return m_real->Invoke(id, iid, locale, flags, parameters, result, exception, argumentError);
    }

private:
    Microsoft::WRL::ComPtr<IDispatch> m_real;
    ULONG m_references = 1;
    std::vector<std::wstring> m_arguments;
};

// The file-system object gets exactly the path that was searched, a BSTR as long as the path. A path
// that holds a NUL (the search would stop at it and judge a shorter one) is refused before either, and
// nothing is deleted: the module path's NUL is cut where the value is read.
TEST_F(RemovalFileSearch, DeleteFileGetsExactlyThePathThatWasSearched) {
    ASSERT_NO_FATAL_FAILURE(MakeFile(L"Qelpad80.dll", FILE_ATTRIBUTE_NORMAL));
    ASSERT_NO_FATAL_FAILURE(MakeFile(L"other.dll", FILE_ATTRIBUTE_NORMAL));
    ASSERT_NO_FATAL_FAILURE(MakeFile(L"Kest.inf", FILE_ATTRIBUTE_NORMAL));
    const ComApartment com;
    ASSERT_HRESULT_SUCCEEDED(com.Result());
    RecordingFileSystem fileSystem(CreateFileSystemObject());
    FileDeleter deleter{Microsoft::WRL::ComPtr<IDispatch>(&fileSystem)};

    EXPECT_TRUE(deleter.DeleteFileIfPresent(At(L"Qelpad80.dll")));
    EXPECT_EQ(::GetFileAttributesW(At(L"Qelpad80.dll").c_str()), INVALID_FILE_ATTRIBUTES) << "the module is left";
    ASSERT_EQ(fileSystem.Arguments().size(), 1u) << "one call of DeleteFile";
    EXPECT_EQ(Show(fileSystem.Arguments()[0]), Show(At(L"Qelpad80.dll"))) << "the BSTR's length";

    for (const std::wstring& path : {At(L"Kest.inf") + kNul + At(L"other.dll"), At(L"Kest.inf") + kNul}) {
        SCOPED_TRACE(Show(path));
        try {
            deleter.DeleteFileIfPresent(path);
            ADD_FAILURE() << "a path with a NUL was taken";
        } catch (const WindowsError& e) {
            EXPECT_EQ(e.Result(), HRESULT_FROM_WIN32(ERROR_INVALID_NAME)) << e.what();
        }
    }
    EXPECT_NE(::GetFileAttributesW(At(L"Kest.inf").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(::GetFileAttributesW(At(L"other.dll").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(fileSystem.Arguments().size(), 1u) << "DeleteFile was called with a NUL in its path";
}

// A search that fails for another reason than "nothing there" is an error for the caller (the
// removal then shows its warning). wine-only: a folder part holding '|' or a wildcard
// is refused with ERROR_INVALID_NAME (a '|' in the last part merely finds nothing).
TEST_F(RemovalFileSearch, OtherFailuresOfTheSearchAreErrors) {
    const std::wstring invalid = At(L"a|b\\Qelpad80.dll");
    WIN32_FIND_DATAW data{};
    ::SetLastError(0xdeadbeef);
    const HANDLE search = ::FindFirstFileW(invalid.c_str(), &data);
    const DWORD error = ::GetLastError();
    if (search != INVALID_HANDLE_VALUE) ::FindClose(search);
    ASSERT_EQ(search, INVALID_HANDLE_VALUE);
    ASSERT_EQ(error, static_cast<DWORD>(ERROR_INVALID_NAME));

    try {
        const std::wstring found = FindNormalFile(invalid);
        ADD_FAILURE() << "no error, found " << Show(found);
    } catch (const WindowsError& e) {
        EXPECT_EQ(e.Result(), HRESULT_FROM_WIN32(ERROR_INVALID_NAME)) << e.what();
    }
}

}  // namespace
