#include "support/Sandbox.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include "base/Unique.h"

namespace Sandbox {

namespace {

constexpr wchar_t kSentinelName[] = L"Sentinel";
constexpr wchar_t kSentinelData[] = L"keep";

std::string Show(const std::wstring& text) { return ::testing::PrintToString(text); }

UniqueHKey CreateKey(HKEY root, const std::wstring& path, REGSAM view = 0) {
    UniqueHKey key;
    const LONG rc =
        ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.Put(), nullptr);
    if (rc != ERROR_SUCCESS) ADD_FAILURE() << "creating key " << Show(path) << ", error " << rc;
    return key;
}

void SetText(HKEY key, const wchar_t* name, const std::wstring& text) {
    const LONG rc = ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    if (rc != ERROR_SUCCESS) ADD_FAILURE() << "setting value " << Show(name) << ", error " << rc;
}

void PlantSentinel(HKEY root, const std::wstring& path) {
    const UniqueHKey key = CreateKey(root, path);
    if (key) SetText(key.Get(), kSentinelName, kSentinelData);
}

}  // namespace

std::wstring ConflictFolder(const std::wstring& n) { return std::wstring(kDownloadFolder) + L"\\CONFLICT." + n; }
std::wstring ConflictFolder(int n) { return ConflictFolder(std::to_wstring(n)); }
std::wstring ModuleIn(const std::wstring& folder) { return folder + L"\\Qelpad80.dll"; }
std::wstring SetupIn(const std::wstring& folder) { return folder + L"\\Kest.inf"; }

void PlantFolder(const std::wstring& path) {
    for (std::size_t end = path.find(L'\\', 3);; end = path.find(L'\\', end + 1)) {
        const std::wstring part = path.substr(0, end);
        if (!::CreateDirectoryW(part.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << "making folder " << Show(part) << ", error " << ::GetLastError();
            return;
        }
        if (end == std::wstring::npos) return;
    }
}

void PlantFile(const std::wstring& path, DWORD attributes) {
    PlantFolder(path.substr(0, path.rfind(L'\\')));
    {
        UniqueHandle file(
            ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.Get() == INVALID_HANDLE_VALUE) {
            ADD_FAILURE() << "making file " << Show(path) << ", error " << ::GetLastError();
            return;
        }
        DWORD written = 0;
        ::WriteFile(file.Get(), path.data(), static_cast<DWORD>(path.size() * sizeof(wchar_t)), &written, nullptr);
    }
    if (attributes && !::SetFileAttributesW(path.c_str(), attributes)) {
        ADD_FAILURE() << "setting attributes of " << Show(path) << ", error " << ::GetLastError();
    }
    // Wine keeps hidden and system in an extended attribute of the file; make sure it held.
    if (attributes && (FileAttributes(path) & attributes) != attributes) {
        ADD_FAILURE() << Show(path) << " has attributes 0x" << std::hex << FileAttributes(path) << ", not 0x"
                      << attributes;
    }
}

DWORD FileAttributes(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()); }

bool FileExists(const std::wstring& path) {
    const DWORD attributes = FileAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
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
    return (key.root == HKEY_CLASSES_ROOT ? "HKCR\\" : "HKLM\\") + Show(key.path) +
           (key.view == KEY_WOW64_64KEY ? " (64-bit view)" : "");
}

std::vector<Key> ControlKeys() {
    std::vector<Key> keys = {{HKEY_CLASSES_ROOT, kClassKey}};
    for (const wchar_t* sub :
         {L"Control", L"Implemented Categories", L"Implemented Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}",
          L"Implemented Categories\\{7DD95802-9882-11CF-9FA9-00AA006C42C4}", L"InprocServer32", L"MiscStatus",
          L"MiscStatus\\1", L"ProgID", L"Programmable", L"ToolboxBitmap32", L"TypeLib", L"Version",
          L"VersionIndependentProgID"}) {
        keys.push_back({HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\" + sub});
    }
    keys.push_back({HKEY_LOCAL_MACHINE, kUnitKey});
    for (const wchar_t* sub : {L"Contains", L"Contains\\Files", L"DownloadInformation", L"InstalledVersion"}) {
        keys.push_back({HKEY_LOCAL_MACHINE, std::wstring(kUnitKey) + L"\\" + sub});
    }
    return keys;
}

void PlantControlKeys() {
    for (const Key& key : ControlKeys()) CreateKey(key.root, key.path);
    const std::wstring classKey = kClassKey;
    const std::wstring unitKey = kUnitKey;
    const struct {
        HKEY root;
        std::wstring path;
        const wchar_t* name;
        std::wstring data;
    } values[] = {
        {HKEY_CLASSES_ROOT, classKey, L"", L"Qelpad80 Control"},
        {HKEY_CLASSES_ROOT, classKey + L"\\InprocServer32", L"", ModuleIn(kRegisteredFolder)},
        {HKEY_CLASSES_ROOT, classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {HKEY_CLASSES_ROOT, classKey + L"\\MiscStatus", L"", L"0"},
        {HKEY_CLASSES_ROOT, classKey + L"\\MiscStatus\\1", L"", L"131473"},
        {HKEY_CLASSES_ROOT, classKey + L"\\ProgID", L"", L"Qelpad80.Ctrl.1"},
        {HKEY_CLASSES_ROOT, classKey + L"\\TypeLib", L"", L"{9A1E6C44-2B7D-4F3A-8E55-0C6D2B9F1A17}"},
        {HKEY_CLASSES_ROOT, classKey + L"\\Version", L"", L"1.0"},
        {HKEY_CLASSES_ROOT, classKey + L"\\VersionIndependentProgID", L"", L"Qelpad80.Ctrl"},
        {HKEY_LOCAL_MACHINE, unitKey, L"SystemComponent", L"0"},
        {HKEY_LOCAL_MACHINE, unitKey + L"\\InstalledVersion", L"", L"1,0,0,3"},
        {HKEY_LOCAL_MACHINE, unitKey + L"\\DownloadInformation", L"CODEBASE", L"https://www.tavrex.com/Qelpad80.cab"},
        {HKEY_LOCAL_MACHINE, unitKey + L"\\DownloadInformation", L"INF", SetupIn(ConflictFolder(1))},
        {HKEY_LOCAL_MACHINE, unitKey + L"\\Contains\\Files", ModuleIn(ConflictFolder(1)).c_str(), L""},
    };
    for (const auto& value : values) {
        const UniqueHKey key = CreateKey(value.root, value.path);
        if (key) SetText(key.Get(), value.name, value.data);
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

std::wstring PlantedContents(const std::wstring& path) {
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE) return L"";
    wchar_t data[MAX_PATH] = {};
    DWORD read = 0;
    ::ReadFile(file.Get(), data, sizeof(data) - sizeof(wchar_t), &read, nullptr);
    return std::wstring(data, read / sizeof(wchar_t));
}

Key PlaceBehindTheView(const Key& key) {
    const std::wstring software = L"SOFTWARE\\";
    if (key.root == HKEY_CLASSES_ROOT) {
        return {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Wow6432Node\\" + key.path, KEY_WOW64_64KEY};
    }
    return {HKEY_LOCAL_MACHINE, software + L"Wow6432Node\\" + key.path.substr(software.size()), KEY_WOW64_64KEY};
}

std::vector<Key> ControlKeysIn64BitView() {
    std::vector<Key> keys = ControlKeys();
    for (Key& key : keys) key.view = KEY_WOW64_64KEY;
    return keys;
}

std::vector<std::wstring> Plant64BitBystanders() {
    for (const Key& key : ControlKeysIn64BitView()) {
        const UniqueHKey created = CreateKey(key.root, key.path, key.view);
        if (created && (key.path == kClassKey || key.path == kUnitKey)) SetText(created.Get(), L"", L"64-bit");
        // Its module as a 64-bit program names it: what a tool looking in this view would find and delete.
        if (created && key.path == kModulePathKey) SetText(created.Get(), L"", ModuleIn(kSystemFolder) + L", 1");
    }
    return PlantControlFiles({kNativeSystemFolder});
}

void SetModuleValue(DWORD type, const void* data, DWORD size) {
    const UniqueHKey key = CreateKey(HKEY_CLASSES_ROOT, kModulePathKey);
    const LONG rc = ::RegSetValueExW(key.Get(), L"", 0, type, static_cast<const BYTE*>(data), size);
    if (rc != ERROR_SUCCESS) ADD_FAILURE() << "setting the module path, error " << rc;
}

void SetModulePath(const std::wstring& text, bool withNul) {
    // RegSetValueExW counts a NUL that directly follows the data into a REG_SZ, so text stored
    // without its terminator is written from a buffer that goes on.
    const std::wstring buffer = text + (withNul ? L'\0' : L'X');
    SetModuleValue(REG_SZ, buffer.data(), static_cast<DWORD>((text.size() + (withNul ? 1 : 0)) * sizeof(wchar_t)));
}

void RestrictModulePathKey(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
        ADD_FAILURE() << "SDDL " << Show(sddl) << ", error " << ::GetLastError();
        return;
    }
    UniqueHKey key;
    LONG rc = ::RegOpenKeyExW(HKEY_CLASSES_ROOT, kModulePathKey, 0, WRITE_DAC, key.Put());
    if (rc == ERROR_SUCCESS) rc = ::RegSetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, descriptor);
    if (rc != ERROR_SUCCESS) ADD_FAILURE() << "restricting the module-path key, error " << rc;
    ::LocalFree(descriptor);
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

}  // namespace Sandbox
