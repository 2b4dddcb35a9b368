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

UniqueHKey CreateKey(HKEY root, const std::wstring& path, REGSAM view = 0) {
    UniqueHKey key;
    const LONG rc =
        ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.Put(), nullptr);
    if (rc != ERROR_SUCCESS) Fail("creating key " + Show(path), rc);
    return key;
}

void SetText(HKEY key, const wchar_t* name, const std::wstring& text) {
    const LONG rc = ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    if (rc != ERROR_SUCCESS) Fail("setting value " + Show(name), rc);
}

void PlantSentinel(HKEY root, const std::wstring& path) { SetText(CreateKey(root, path).Get(), kSentinelName, kSentinelData); }

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
    for (std::size_t end = path.find(L'\\', 3);; end = path.find(L'\\', end + 1)) {
        const std::wstring part = path.substr(0, end);
        if (!::CreateDirectoryW(part.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
            Fail("making folder " + Show(part), static_cast<long>(::GetLastError()));
        }
        if (end == std::wstring::npos) return;
    }
}

void PlantFile(const std::wstring& path, DWORD attributes) {
    PlantFolder(path.substr(0, path.rfind(L'\\')));
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

void PlantControlKeys(const Classes& classes) {
    // Parents first: the deletion order, reversed.
    std::vector<Key> keys = ClassKeys(classes);
    for (Key& key : UnitKeys()) keys.push_back(std::move(key));
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) PlantKey(*key);
    const HKEY classesRoot = classes.root;
    const std::wstring classKey = ClassKey(classes).path;
    const std::wstring unitKey = kUnitKey;
    const struct {
        HKEY root;
        std::wstring path;
        const wchar_t* name;
        std::wstring data;
    } values[] = {
        {classesRoot, classKey, L"", L"Qelpad80 Control"},
        {classesRoot, classKey + L"\\InprocServer32", L"", ModuleIn(kRegisteredFolder)},
        {classesRoot, classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {classesRoot, classKey + L"\\MiscStatus", L"", L"0"},
        {classesRoot, classKey + L"\\MiscStatus\\1", L"", L"131473"},
        {classesRoot, classKey + L"\\ProgID", L"", L"Qelpad80.Ctrl.1"},
        {classesRoot, classKey + L"\\TypeLib", L"", L"{9A1E6C44-2B7D-4F3A-8E55-0C6D2B9F1A17}"},
        {classesRoot, classKey + L"\\Version", L"", L"1.0"},
        {classesRoot, classKey + L"\\VersionIndependentProgID", L"", L"Qelpad80.Ctrl"},
        {HKEY_LOCAL_MACHINE, unitKey, L"SystemComponent", L"0"},
        {HKEY_LOCAL_MACHINE, unitKey + L"\\InstalledVersion", L"", L"1,0,0,3"},
        {HKEY_LOCAL_MACHINE, unitKey + L"\\DownloadInformation", L"CODEBASE", L"https://www.tavrex.com/Qelpad80.cab"},
        {HKEY_LOCAL_MACHINE, unitKey + L"\\DownloadInformation", L"INF", SetupIn(ConflictFolder(1))},
        {HKEY_LOCAL_MACHINE, unitKey + L"\\Contains\\Files", ModuleIn(ConflictFolder(1)).c_str(), L""},
    };
    for (const auto& value : values) SetText(CreateKey(value.root, value.path).Get(), value.name, value.data);
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
    const std::wstring software = L"SOFTWARE\\";
    if (key.root == HKEY_CLASSES_ROOT) {
        return {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Wow6432Node\\" + key.path, KEY_WOW64_64KEY};
    }
    if (key.root == HKEY_USERS) {
        // Windows keeps a 32-bit process's CLSID keys of a user's classes below Wow6432Node too;
        // observed: Wine 10 does not, and keeps them where they are named.
        const std::size_t classes = key.path.find(L"_Classes\\") + std::wstring(L"_Classes\\").size();
        const Key redirected{HKEY_USERS, key.path.substr(0, classes) + L"Wow6432Node\\" + key.path.substr(classes),
                             KEY_WOW64_64KEY};
        return KeyExists(redirected) ? redirected : Key{HKEY_USERS, key.path, KEY_WOW64_64KEY};
    }
    return {HKEY_LOCAL_MACHINE, software + L"Wow6432Node\\" + key.path.substr(software.size()), KEY_WOW64_64KEY};
}

std::vector<Key> RegistrationKeysIn64BitView() {
    std::vector<Key> keys = RegistrationKeys();
    for (Key& key : keys) key.view = KEY_WOW64_64KEY;
    return keys;
}

std::vector<std::wstring> Plant64BitBystanders() {
    const std::vector<Key> keys = RegistrationKeysIn64BitView();
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
        const UniqueHKey created = CreateKey(key->root, key->path, key->view);
        if (key->path == kClassKey || key->path == kUnitKey) SetText(created.Get(), L"", L"64-bit");
        // Its module as a 64-bit program names it: what a tool looking in this view would find and delete.
        if (key->path == kModulePathKey) SetText(created.Get(), L"", ModuleIn(kSystemFolder) + L", 1");
    }
    return PlantControlFiles({kNativeSystemFolder});
}

void SetModuleValue(DWORD type, const void* data, DWORD size, const Classes& classes) {
    const Key modulePathKey = ModulePathKey(classes);
    const UniqueHKey key = CreateKey(modulePathKey.root, modulePathKey.path);
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

void DeleteModuleValue() {
    UniqueHKey key;
    LONG rc = ::RegOpenKeyExW(HKEY_CLASSES_ROOT, kModulePathKey, 0, KEY_SET_VALUE, key.Put());
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
    const std::vector<Key> sentinels = {
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
