#include "support/Installation.h"

#include <sddl.h>

#include <cstdio>

#include "base/Unique.h"

namespace Installation {

using namespace Expected;

namespace {

constexpr wchar_t kSentinelName[] = L"Sentinel";
constexpr wchar_t kSentinelData[] = L"keep";

[[noreturn]] void Fail(const std::string& what, long code) {
    throw HarnessError(what + ", error " + std::to_string(code));
}

// What this process planted, so that it can all go when a case ends: the topmost key and folder each
// planting made (everything below them is the case's), the files it put into folders that were there,
// the values it set on keys that were there, and the keys it moved away.
struct Planted {
    std::vector<Key> keys;
    std::vector<std::wstring> folders;
    std::vector<std::wstring> files;
    std::vector<std::pair<Key, std::wstring>> values;
    std::vector<std::pair<Key, Key>> hidden;  // the key, and where it waits meanwhile
};
Planted& Record() {
    static Planted planted;
    return planted;
}

bool StartsWithPath(const std::wstring& path, const std::wstring& parent) {
    return path.size() >= parent.size() && ::CompareStringOrdinal(path.data(), static_cast<int>(parent.size()),
                                                                  parent.data(), static_cast<int>(parent.size()),
                                                                  TRUE) == CSTR_EQUAL &&
           (path.size() == parent.size() || path[parent.size()] == L'\\');
}

// Records the topmost of the keys that creating `key` will make, if it makes any.
void RecordKeyToCreate(const Key& key) {
    if (KeyExists(key)) return;
    Key top = key;
    for (std::size_t end = top.path.rfind(L'\\'); end != std::wstring::npos; end = top.path.rfind(L'\\')) {
        const Key parent{key.root, top.path.substr(0, end), key.view};
        if (KeyExists(parent)) break;
        top = parent;
    }
    for (const Key& made : Record().keys) {
        if (made.root == top.root && made.view == top.view && StartsWithPath(top.path, made.path)) return;
    }
    Record().keys.push_back(top);
}

UniqueHKey CreateKey(HKEY root, const std::wstring& path, REGSAM view = 0) {
    RecordKeyToCreate({root, path, view});
    UniqueHKey key;
    const LONG rc =
        ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.Put(), nullptr);
    if (rc != ERROR_SUCCESS) Fail("creating key " + Show(path), rc);
    return key;
}

// Deletes a key and everything below it, naming each key by its whole path in the key's view (a
// relative open from a 64-bit view's handle need not stay in that view).
LONG DeleteKeyTree(const Key& key) {
    UniqueHKey opened;
    LONG rc = ::RegOpenKeyExW(key.root, key.path.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | key.view, opened.Put());
    if (rc == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return rc;
    std::vector<std::wstring> subkeys;
    wchar_t name[256];
    for (DWORD length = 256; ::RegEnumKeyExW(opened.Get(), static_cast<DWORD>(subkeys.size()), name, &length, nullptr,
                                             nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         length = 256) {
        subkeys.emplace_back(name, length);
    }
    opened.Reset();
    for (const std::wstring& subkey : subkeys) {
        if ((rc = DeleteKeyTree({key.root, key.path + L"\\" + subkey, key.view})) != ERROR_SUCCESS) return rc;
    }
    rc = ::RegDeleteKeyExW(key.root, key.path.c_str(), key.view, 0);
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

// Deletes a folder and everything in it, read-only files too.
bool DeleteFolderTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found{};
    UniqueFind search(::FindFirstFileW((folder + L"\\*").c_str(), &found));
    bool deleted = true;
    if (search) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            deleted &= (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? DeleteFolderTree(path)
                                                                            : ::DeleteFileW(path.c_str()) != FALSE;
        } while (::FindNextFileW(search.Get(), &found));
    }
    search.Reset();
    return (::RemoveDirectoryW(folder.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND ||
            ::GetLastError() == ERROR_PATH_NOT_FOUND) &&
           deleted;
}

void SetText(HKEY key, const wchar_t* name, const std::wstring& text) {
    const LONG rc = ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    if (rc != ERROR_SUCCESS) Fail("setting value " + Show(name), rc);
}

// Keys and values beside the control's that a removal must leave alone.
std::vector<Key> SentinelKeys() {
    return {
        {HKEY_CLASSES_ROOT, L"CLSID"},
        {HKEY_CLASSES_ROOT, L"CLSID\\{3F6B2C81-7D4E-4A19-9C05-62E8B1D4A7F4}"},
        {HKEY_CLASSES_ROOT, L"CLSID\\{3F6B2C81-7D4E-4A19-9C05-62E8B1D4A7F4}\\ToolboxBitmap32"},
        {HKEY_CLASSES_ROOT, L"CLSID\\{3F6B2C81-7D4E-4A19-9C05-62E8B1D4A7F4}\\InprocServer32"},
        {HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L".old"},
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units"},
        {HKEY_LOCAL_MACHINE,
         L"SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units\\{3F6B2C81-7D4E-4A19-9C05-62E8B1D4A7F4}"},
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units\\"
                             L"{3F6B2C81-7D4E-4A19-9C05-62E8B1D4A7F4}\\Contains\\Files"},
    };
}

void PlantSentinel(HKEY root, const std::wstring& path) {
    if (KeyExists({root, path})) Record().values.push_back({{root, path}, kSentinelName});
    SetText(CreateKey(root, path).Get(), kSentinelName, kSentinelData);
}

}  // namespace

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size, nullptr, nullptr);
    return utf8;
}

std::string Show(const std::wstring& text) {
    std::string shown = "\"";
    for (const wchar_t c : text) {
        if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\x%02X", static_cast<unsigned>(c));
            shown += escaped;
            continue;
        }
        shown += Utf8(std::wstring(1, c));
    }
    return shown + "\"";
}

void PlantFolder(const std::wstring& path) {
    bool made = false;  // the first folder made holds the rest
    for (std::size_t end = path.find(L'\\', 3);; end = path.find(L'\\', end + 1)) {
        const std::wstring part = path.substr(0, end);
        if (::CreateDirectoryW(part.c_str(), nullptr)) {
            if (!made) Record().folders.push_back(part);
            made = true;
        } else if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            Fail("making folder " + Show(part), static_cast<long>(::GetLastError()));
        }
        if (end == std::wstring::npos) return;
    }
}

void PlantFile(const std::wstring& path, DWORD attributes) {
    PlantFolder(path.substr(0, path.rfind(L'\\')));
    Record().files.push_back(path);
    {
        UniqueFile file(
            ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) Fail("making file " + Show(path), static_cast<long>(::GetLastError()));
        DWORD written = 0;
        ::WriteFile(file.Get(), path.data(), static_cast<DWORD>(path.size() * sizeof(wchar_t)), &written, nullptr);
    }
    if (attributes && !::SetFileAttributesW(path.c_str(), attributes)) {
        Fail("setting attributes of " + Show(path), static_cast<long>(::GetLastError()));
    }
    // Wine keeps hidden and system in an extended attribute of the file; make sure it held.
    if (attributes && (FileAttributes(path) & attributes) != attributes) {
        Fail(Show(path) + " did not keep its attributes", static_cast<long>(FileAttributes(path)));
    }
}

DWORD FileAttributes(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()); }

bool FileExists(const std::wstring& path) {
    const DWORD attributes = FileAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring PlantedContents(const std::wstring& path) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return L"";
    wchar_t data[MAX_PATH] = {};
    DWORD read = 0;
    ::ReadFile(file.Get(), data, sizeof(data) - sizeof(wchar_t), &read, nullptr);
    return std::wstring(data, read / sizeof(wchar_t));
}

std::vector<std::wstring> PlantControlFiles(const std::vector<std::wstring>& folders) {
    std::vector<std::wstring> files;
    for (const std::wstring& folder : folders) {
        for (const std::wstring& file : {ModuleIn(folder), SetupIn(folder)}) {
            PlantFile(file);
            files.push_back(file);
        }
    }
    return files;
}

std::vector<std::wstring> TypicalFolders() {
    return {kSystemFolder, kMakerFolder, ConflictFolder(1), ConflictFolder(50), ConflictFolder(100)};
}

std::vector<std::wstring> InstallationFiles(const std::vector<std::wstring>& folders,
                                            const std::wstring& registeredModule) {
    std::vector<std::wstring> files = {registeredModule};
    for (const std::wstring& folder : folders) {
        files.push_back(ModuleIn(folder));
        files.push_back(SetupIn(folder));
    }
    return files;
}

std::vector<std::wstring> PlantInstallation(const std::vector<std::wstring>& folders,
                                            const std::wstring& registeredModule) {
    PlantControlKeys();
    SetModulePath(registeredModule + L", 1");
    const std::vector<std::wstring> files = InstallationFiles(folders, registeredModule);
    for (const std::wstring& file : files) PlantFile(file);
    return files;
}

std::vector<std::wstring> PlantCanaryFiles() {
    std::vector<std::wstring> canaries;
    // Near misses beside the control's files, wherever it deletes from.
    for (const std::wstring& folder : TypicalFolders()) {
        for (const wchar_t* name : {L"\\Qelpad80.dll.bak", L"\\Kest.inf.txt", L"\\other.dll", L"\\xQelpad80.dll"}) {
            canaries.push_back(folder + name);
        }
    }
    // The control's own names in folders that are not in its list.
    for (const std::wstring& folder :
         {ConflictFolder(101), ConflictFolder(1000), ConflictFolder(0), ConflictFolder(L"01"), ConflictFolder(L"1x"),
          std::wstring(kDownloadFolder) + L"\\CONFLICT", std::wstring(kDownloadFolder), std::wstring(L"C:\\WINDOWS"),
          std::wstring(kMakerFolder) + L"\\sub", std::wstring(kSystemFolder) + L"\\Morvex2"}) {
        canaries.push_back(ModuleIn(folder));
        canaries.push_back(SetupIn(folder));
    }
    // Beside the registered module: only the module itself is named there.
    canaries.push_back(SetupIn(kRegisteredFolder));
    canaries.push_back(std::wstring(kRegisteredFolder) + L"\\Qelpad80.dll.bak");
    for (const std::wstring& canary : canaries) PlantFile(canary);
    return canaries;
}

std::string Describe(const Key& key) {
    const char* root = key.root == HKEY_CLASSES_ROOT   ? "HKCR\\"
                       : key.root == HKEY_CURRENT_USER ? "HKCU\\"
                       : key.root == HKEY_USERS        ? "HKU\\"
                                                       : "HKLM\\";
    return root + Show(key.path) + (key.view == KEY_WOW64_64KEY ? " (64-bit view)" : "");
}

void PlantKey(const Key& key) { CreateKey(key.root, key.path, key.view); }

void RemoveKey(const Key& key) {
    const LONG rc = DeleteKeyTree(key);
    if (rc != ERROR_SUCCESS) Fail("removing " + Describe(key), rc);
}

void HideKey(const Key& key) {
    const Key hidden{HKEY_CURRENT_USER, L"Software\\QelpadHidden\\" + std::to_wstring(Record().hidden.size())};
    UniqueHKey from;
    LONG rc = ::RegOpenKeyExW(key.root, key.path.c_str(), 0, KEY_READ | key.view, from.Put());
    if (rc == ERROR_SUCCESS) rc = ::RegCopyTreeW(from.Get(), nullptr, CreateKey(hidden.root, hidden.path).Get());
    if (rc != ERROR_SUCCESS) Fail("keeping a copy of " + Describe(key), rc);
    from.Reset();
    Record().hidden.push_back({key, hidden});
    RemoveKey(key);
}

void PlantControlKeys(const Classes& classes) {
    // Parents first: the deletion order, reversed.
    std::vector<Key> keys = ClassKeys(classes);
    for (Key& key : UnitKeys()) keys.push_back(std::move(key));
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) PlantKey(*key);
    const std::wstring classKey = ClassKey(classes).path;
    const std::wstring unitKey = kUnitKey;
    const auto inClasses = [&](const wchar_t* subkey) { return Key{classes.root, classKey + subkey, classes.view}; };
    const struct {
        Key key;
        const wchar_t* name;
        std::wstring data;
    } values[] = {
        {inClasses(L""), L"", L"Qelpad80 Control"},
        {inClasses(L"\\InprocServer32"), L"", ModuleIn(kRegisteredFolder)},
        {inClasses(L"\\InprocServer32"), L"ThreadingModel", L"Apartment"},
        {inClasses(L"\\MiscStatus"), L"", L"0"},
        {inClasses(L"\\MiscStatus\\1"), L"", L"131473"},
        {inClasses(L"\\ProgID"), L"", L"Qelpad80.Ctrl.1"},
        {inClasses(L"\\TypeLib"), L"", L"{9A1E6C44-2B7D-4F3A-8E55-0C6D2B9F1A17}"},
        {inClasses(L"\\Version"), L"", L"1.0"},
        {inClasses(L"\\VersionIndependentProgID"), L"", L"Qelpad80.Ctrl"},
        {{HKEY_LOCAL_MACHINE, unitKey}, L"SystemComponent", L"0"},
        {{HKEY_LOCAL_MACHINE, unitKey + L"\\InstalledVersion"}, L"", L"1,0,0,3"},
        {{HKEY_LOCAL_MACHINE, unitKey + L"\\DownloadInformation"}, L"CODEBASE", L"https://www.tavrex.com/Qelpad80.cab"},
        {{HKEY_LOCAL_MACHINE, unitKey + L"\\DownloadInformation"}, L"INF", SetupIn(ConflictFolder(1))},
        {{HKEY_LOCAL_MACHINE, unitKey + L"\\Contains\\Files"}, ModuleIn(ConflictFolder(1)).c_str(), L""},
    };
    for (const auto& value : values) {
        SetText(CreateKey(value.key.root, value.key.path, value.key.view).Get(), value.name, value.data);
    }
}

bool KeyExists(const Key& key) {
    UniqueHKey opened;
    return ::RegOpenKeyExW(key.root, key.path.c_str(), 0, KEY_READ | key.view, opened.Put()) == ERROR_SUCCESS;
}

std::wstring DefaultValue(const Key& key) {
    UniqueHKey opened;
    if (::RegOpenKeyExW(key.root, key.path.c_str(), 0, KEY_QUERY_VALUE | key.view, opened.Put()) != ERROR_SUCCESS) {
        return L"";
    }
    wchar_t data[MAX_PATH] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    DWORD type = 0;
    if (::RegQueryValueExW(opened.Get(), L"", nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return L"";
    }
    return data;
}

Key PlaceBehindTheView(const Key& key) {
    if (key.view == KEY_WOW64_64KEY) return key;  // named where it is already
    const std::wstring software = L"SOFTWARE\\";
    if (key.root == HKEY_CLASSES_ROOT) {
        return {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Wow6432Node\\" + key.path, KEY_WOW64_64KEY};
    }
    return {HKEY_LOCAL_MACHINE, software + L"Wow6432Node\\" + key.path.substr(software.size()), KEY_WOW64_64KEY};
}

std::vector<Key> RegistrationKeysIn64BitView() {
    std::vector<Key> keys = RegistrationKeys();
    for (Key& key : keys) key.view = KEY_WOW64_64KEY;
    for (const Key& key : ClassKeys({HKEY_CURRENT_USER, L"Software\\Classes\\", KEY_WOW64_64KEY})) keys.push_back(key);
    return keys;
}

std::vector<std::wstring> Plant64BitBystanders() {
    const std::vector<Key> keys = RegistrationKeysIn64BitView();
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
        const UniqueHKey created = CreateKey(key->root, key->path, key->view);
        const std::wstring& path = key->path;
        const auto endsWith = [&path](const std::wstring& end) {
            return path.size() >= end.size() && path.compare(path.size() - end.size(), end.size(), end) == 0;
        };
        if (endsWith(kClassKey) || path == kUnitKey) SetText(created.Get(), L"", L"64-bit");
        // Its module as a 64-bit program names it: what a tool looking in this view would find and delete.
        if (endsWith(kModulePathKey)) SetText(created.Get(), L"", ModuleIn(kSystemFolder) + L", 1");
    }
    return PlantControlFiles({kNativeSystemFolder});
}

void SetModuleValue(DWORD type, const void* data, DWORD size, const Classes& classes) {
    const Key modulePathKey = ModulePathKey(classes);
    const UniqueHKey key = CreateKey(modulePathKey.root, modulePathKey.path, modulePathKey.view);
    const LONG rc = ::RegSetValueExW(key.Get(), L"", 0, type, static_cast<const BYTE*>(data), size);
    if (rc != ERROR_SUCCESS) Fail("setting the module path", rc);
}

void SetModulePath(const std::wstring& text, bool withNul, const Classes& classes) {
    // RegSetValueExW counts a NUL that directly follows the data into a REG_SZ, so text stored
    // without its terminator is written from a buffer that goes on.
    const std::wstring buffer = text + (withNul ? L'\0' : L'X');
    SetModuleValue(REG_SZ, buffer.data(), static_cast<DWORD>((text.size() + (withNul ? 1 : 0)) * sizeof(wchar_t)),
                   classes);
}

void PlantRegistration(const Classes& classes, const std::wstring& module) {
    PlantControlKeys(classes);
    SetModulePath(module + L", 1", true, classes);
    PlantFile(module);
}

void DeleteModuleValue(const Classes& classes) {
    const Key modulePathKey = ModulePathKey(classes);
    UniqueHKey key;
    LONG rc = ::RegOpenKeyExW(modulePathKey.root, modulePathKey.path.c_str(), 0, KEY_SET_VALUE | modulePathKey.view,
                              key.Put());
    if (rc == ERROR_SUCCESS) rc = ::RegDeleteValueW(key.Get(), L"");
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) Fail("deleting the module path", rc);
}

void RestrictModulePathKey(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
        Fail("SDDL " + Show(sddl), static_cast<long>(::GetLastError()));
    }
    UniqueHKey key;
    LONG rc = ::RegOpenKeyExW(HKEY_CLASSES_ROOT, kModulePathKey, 0, WRITE_DAC, key.Put());
    if (rc == ERROR_SUCCESS) rc = ::RegSetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, descriptor);
    ::LocalFree(descriptor);
    if (rc != ERROR_SUCCESS) Fail("restricting the module-path key", rc);
}

std::vector<Key> PlantSentinelKeys() {
    const std::vector<Key> sentinels = SentinelKeys();
    for (const Key& sentinel : sentinels) PlantSentinel(sentinel.root, sentinel.path);
    return sentinels;
}

void PlantProfile(const std::wstring& sid, const std::wstring& folder) {
    const UniqueHKey key = CreateKey(
        HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + sid, KEY_WOW64_64KEY);
    const LONG rc = ::RegSetValueExW(key.Get(), L"ProfileImagePath", 0, REG_EXPAND_SZ,
                                     reinterpret_cast<const BYTE*>(folder.c_str()),
                                     static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    if (rc != ERROR_SUCCESS) Fail("setting the profile folder of " + Show(sid), rc);
}

bool SentinelIntact(const Key& key) {
    UniqueHKey opened;
    if (::RegOpenKeyExW(key.root, key.path.c_str(), 0, KEY_QUERY_VALUE, opened.Put()) != ERROR_SUCCESS) return false;
    wchar_t data[16] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    DWORD type = 0;
    return ::RegQueryValueExW(opened.Get(), kSentinelName, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) ==
               ERROR_SUCCESS &&
           type == REG_SZ && std::wstring(data) == kSentinelData;
}

}  // namespace Installation

namespace Installation {

void RemoveWhatWasPlanted() {
    Planted planted = std::exchange(Record(), Planted{});
    std::string failures;
    const auto failed = [&failures](const std::string& what, long code) {
        failures += (failures.empty() ? "" : "; ") + what + " (error " + std::to_string(code) + ")";
    };
    for (auto hidden = planted.hidden.rbegin(); hidden != planted.hidden.rend(); ++hidden) {
        const auto& [key, copy] = *hidden;
        UniqueHKey from;
        UniqueHKey to;
        LONG rc = ::RegOpenKeyExW(copy.root, copy.path.c_str(), 0, KEY_READ, from.Put());
        if (rc == ERROR_SUCCESS) {
            rc = ::RegCreateKeyExW(key.root, key.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | key.view, nullptr,
                                   to.Put(), nullptr);
        }
        if (rc == ERROR_SUCCESS) rc = ::RegCopyTreeW(from.Get(), nullptr, to.Get());
        if (rc != ERROR_SUCCESS) failed("putting back " + Describe(key), rc);
    }
    for (const auto& [key, name] : planted.values) {
        UniqueHKey opened;
        LONG rc = ::RegOpenKeyExW(key.root, key.path.c_str(), 0, KEY_SET_VALUE | key.view, opened.Put());
        if (rc == ERROR_SUCCESS) rc = ::RegDeleteValueW(opened.Get(), name.c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) failed("removing the value " + Show(name), rc);
    }
    for (auto key = planted.keys.rbegin(); key != planted.keys.rend(); ++key) {
        if (const LONG rc = DeleteKeyTree(*key)) failed("removing " + Describe(*key), rc);
    }
    for (auto file = planted.files.rbegin(); file != planted.files.rend(); ++file) {
        ::SetFileAttributesW(file->c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!::DeleteFileW(file->c_str()) && FileExists(*file)) failed("deleting " + Show(*file), ::GetLastError());
    }
    for (auto folder = planted.folders.rbegin(); folder != planted.folders.rend(); ++folder) {
        if (!DeleteFolderTree(*folder)) failed("removing the folder " + Show(*folder), ::GetLastError());
    }
    if (!failures.empty()) throw HarnessError("what a case planted could not all be removed: " + failures);
}

std::vector<std::string> SessionState() {
    std::vector<std::string> state;
    const auto keyThere = [&state](const Key& key) {
        if (KeyExists(key)) state.push_back(Describe(key));
    };
    const auto subkeys = [&state](const Key& key) {
        UniqueHKey opened;
        if (::RegOpenKeyExW(key.root, key.path.c_str(), 0, KEY_READ | key.view, opened.Put()) != ERROR_SUCCESS) return;
        wchar_t name[256];
        for (DWORD index = 0, length = 256;
             ::RegEnumKeyExW(opened.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
             ++index, length = 256) {
            state.push_back(Describe(key) + " has " + Show(std::wstring(name, length)));
        }
    };
    const auto valueOf = [&state](const Key& key, const wchar_t* name) {
        UniqueHKey opened;
        BYTE data[64] = {};
        DWORD size = sizeof(data) - sizeof(wchar_t);
        if (::RegOpenKeyExW(key.root, key.path.c_str(), 0, KEY_QUERY_VALUE | key.view, opened.Put()) == ERROR_SUCCESS &&
            ::RegQueryValueExW(opened.Get(), name, nullptr, nullptr, data, &size) == ERROR_SUCCESS) {
            state.push_back(Describe(key) + " " + Show(name) + " = " + std::to_string(size) + " bytes " +
                            Show(reinterpret_cast<const wchar_t*>(data)));
        }
    };
    const auto files = [&state](const std::wstring& pattern) {
        WIN32_FIND_DATAW found{};
        UniqueFind search(::FindFirstFileW(pattern.c_str(), &found));
        if (!search) return;
        do {
            state.push_back(Show(pattern) + " finds " + Show(found.cFileName));
        } while (::FindNextFileW(search.Get(), &found));
    };

    // The control's registration in every place a case plants one, in both views, and beside it.
    const Classes userClasses64{HKEY_CURRENT_USER, L"Software\\Classes\\", KEY_WOW64_64KEY};
    for (const Classes& classes : {kMachineClasses, Classes{HKEY_CLASSES_ROOT, L"", KEY_WOW64_64KEY}, kUserClasses,
                                   userClasses64}) {
        keyThere(ClassKey(classes));
    }
    keyThere({HKEY_CURRENT_USER, L"Software\\Classes\\Wow6432Node", KEY_WOW64_64KEY});
    for (const REGSAM view : {REGSAM{0}, REGSAM{KEY_WOW64_64KEY}}) keyThere({HKEY_LOCAL_MACHINE, kUnitKey, view});
    for (const Key& sentinel : SentinelKeys()) {
        keyThere(sentinel);
        valueOf(sentinel, kSentinelName);
    }
    // Users' classes loaded, profiles, hidden copies, and what a case may change of the session.
    subkeys({HKEY_USERS, L""});
    subkeys({HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", KEY_WOW64_64KEY});
    keyThere({HKEY_CURRENT_USER, L"Software\\QelpadHidden"});
    keyThere({HKEY_CLASSES_ROOT, L"Scripting.FileSystemObject"});
    valueOf({HKEY_CURRENT_USER, L"Control Panel\\Desktop"}, L"LogPixels");
    valueOf({HKEY_CURRENT_CONFIG, L"Software\\Fonts"}, L"LogPixels");
    valueOf({HKEY_CURRENT_USER, L"Control Panel\\International"}, L"LocaleName");
    // Files and folders where cases plant them.
    for (const wchar_t* pattern : {L"C:\\*", L"C:\\Program Files\\*", L"C:\\users\\*", L"C:\\users\\Public\\*"}) {
        files(pattern);
    }
    for (const std::wstring& folder : {std::wstring(kSystemFolder), std::wstring(kNativeSystemFolder)}) {
        for (const wchar_t* name : {L"\\Qelpad80*", L"\\Kest*", L"\\Morvex*"}) files(folder + name);
    }
    return state;
}

}  // namespace Installation
