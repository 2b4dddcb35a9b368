// Looking around the registry: subkeys, a text value, and where a key is. Wide entry points:
// these read SIDs and profile folders, which the ANSI code page need not hold.

#include "registry/Registry.h"

#include <algorithm>
#include <iterator>

#include "base/Errors.h"
#include "base/Text.h"
#include "base/Unique.h"

namespace Registry {

namespace {

UniqueHKey OpenForLooking(HKEY root, const std::wstring& keyPath, REGSAM view) {
    UniqueHKey key;
    ::RegOpenKeyExW(root, keyPath.c_str(), 0, KEY_READ | view, key.Put());
    return key;
}

// What the native registry names a key, "\\REGISTRY\\MACHINE\\..." (NtQueryKey with
// KeyNameInformation, which ntdll exports on every Windows since NT).
std::wstring NativeKeyName(HKEY key) {
    using NtQueryKeyFn = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    static const auto query = reinterpret_cast<NtQueryKeyFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryKey")));
    constexpr int kKeyNameInformation = 3;
    if (!query) return L"";
    std::vector<ULONG> buffer(256);  // ULONGs: the name's length, then its characters
    for (int attempt = 0; attempt < 2; ++attempt) {
        ULONG needed = 0;
        const LONG status = query(key, kKeyNameInformation, buffer.data(),
                                  static_cast<ULONG>(buffer.size() * sizeof(ULONG)), &needed);
        if (status >= 0) {
            const ULONG length = std::min<ULONG>(buffer[0], (buffer.size() - 1) * sizeof(ULONG));
            return std::wstring(reinterpret_cast<const wchar_t*>(&buffer[1]), length / sizeof(wchar_t));
        }
        buffer.resize(needed / sizeof(ULONG) + 2);
    }
    return L"";
}

// "\\REGISTRY\\MACHINE\\x" as "HKEY_LOCAL_MACHINE\\x", "\\REGISTRY\\USER\\x" as "HKEY_USERS\\x".
std::wstring RootByName(const std::wstring& native) {
    const struct {
        const wchar_t* native;
        const wchar_t* name;
    } roots[] = {{L"\\REGISTRY\\MACHINE", RootName(HKEY_LOCAL_MACHINE)}, {L"\\REGISTRY\\USER", RootName(HKEY_USERS)}};
    for (const auto& root : roots) {
        const std::size_t length = std::wstring_view(root.native).size();
        if (native.size() >= length && SameTextIgnoringCase(std::wstring_view(native).substr(0, length), root.native)) {
            return root.name + native.substr(length);
        }
    }
    return native;
}

}  // namespace

const wchar_t* RootName(HKEY root) noexcept {
    if (root == HKEY_LOCAL_MACHINE) return L"HKEY_LOCAL_MACHINE";
    if (root == HKEY_CURRENT_USER) return L"HKEY_CURRENT_USER";
    if (root == HKEY_USERS) return L"HKEY_USERS";
    if (root == HKEY_CLASSES_ROOT) return L"HKEY_CLASSES_ROOT";
    return L"";
}

std::vector<std::wstring> SubkeyNames(HKEY root, const std::wstring& keyPath, REGSAM view) {
    std::vector<std::wstring> names;
    UniqueHKey key;
    const LONG opened = ::RegOpenKeyExW(root, keyPath.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | view, key.Put());
    if (opened != ERROR_SUCCESS) throw WindowsError::FromWin32("RegOpenKeyExW", static_cast<DWORD>(opened));
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(std::size(name));
        const LONG result = ::RegEnumKeyExW(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_MORE_DATA) continue;  // longer than any key name may be
        if (result == ERROR_NO_MORE_ITEMS) return names;
        if (result != ERROR_SUCCESS) throw WindowsError::FromWin32("RegEnumKeyExW", static_cast<DWORD>(result));
        names.emplace_back(name, length);
    }
}

std::wstring ReadExpandedText(HKEY root, const std::wstring& keyPath, const wchar_t* valueName, REGSAM view) {
    const UniqueHKey key = OpenForLooking(root, keyPath, view);
    DWORD type = 0;
    DWORD size = 0;
    if (!key || ::RegQueryValueExW(key.Get(), valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return L"";
    }
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (::RegQueryValueExW(key.Get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
        ERROR_SUCCESS) {
        return L"";
    }
    text.resize(::lstrlenW(text.c_str()));
    if (type == REG_SZ) return text;
    const DWORD expandedSize = ::ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    std::wstring expanded(expandedSize, L'\0');
    if (expandedSize == 0 || ::ExpandEnvironmentStringsW(text.c_str(), expanded.data(), expandedSize) == 0) return text;
    expanded.resize(::lstrlenW(expanded.c_str()));
    return expanded;
}

std::wstring KeyPlace(HKEY root, const std::wstring& keyPath, REGSAM view) {
    UniqueHKey key;
    std::wstring native;
    if (::RegOpenKeyExW(root, keyPath.c_str(), 0, KEY_QUERY_VALUE | view, key.Put()) == ERROR_SUCCESS) {
        native = NativeKeyName(key.Get());
    }
    return native.empty() ? RootName(root) + (L"\\" + keyPath) : RootByName(native);
}

}  // namespace Registry
