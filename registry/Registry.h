#pragma once
// The registry routines of the removal: read one value, delete one key.
// They reach the registry only through RegOpenKeyExA, RegQueryValueExA,
// RegDeleteKeyA and RegCloseKey, and report registry failures by status or not at all.

#include <windows.h>

#include <string>
#include <vector>

#include "registry/RegistryValue.h"

namespace Registry {

// Every key is opened with options 0 and this access: the six key-specific rights,
// none of the standard ones. A key the user may read but not change does not open.
inline constexpr REGSAM kKeyAccess = 0x3F;

// Status of ReadValueFromOpenKey when the type is neither REG_SZ nor REG_DWORD,
// or when the size query failed.
inline constexpr LONG kUnreadType = -1;

// Reads the value `valueName` ("" is the default value) of `keyPath` below `root`.
// Empty when the key or value is missing, refused, or of an unhandled type.
// When `openResult` is given it receives what the open of the key returned.
RegistryValue ReadRegistryValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName,
                                LONG* openResult = nullptr);

// Reads a value of a key that is already open into `output` (empty on entry).
// Returns 0, the registry's code of a failed data query, or kUnreadType. Never throws.
LONG ReadValueFromOpenKey(HKEY key, std::wstring valueName, RegistryValue& output) noexcept;

// Asks the registry to delete the one key `keyPath` below `root`; reports nothing.
void DeleteRegistryKey(HKEY root, const std::wstring& keyPath);

// True when the key `keyPath` is there below `root`, also when it may not be opened.
bool KeyExists(HKEY root, const std::wstring& keyPath);

// ---- Looking around, for finding the layers of classes and naming places; nothing is changed ----

// "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_USERS" or "HKEY_CLASSES_ROOT"; "" for another key.
const wchar_t* RootName(HKEY root) noexcept;

// The names of the subkeys of `keyPath` below `root` in `view` (0: this process's own, or
// KEY_WOW64_64KEY); none when the key cannot be opened.
std::vector<std::wstring> SubkeyNames(HKEY root, const std::wstring& keyPath, REGSAM view = 0);

// A REG_SZ or REG_EXPAND_SZ value as text, with environment variables expanded; "" when there is none.
std::wstring ReadExpandedText(HKEY root, const std::wstring& keyPath, const wchar_t* valueName, REGSAM view = 0);

// Where the key `keyPath` below `root` is, as the registry names the key it opens: after the
// redirection of this process's view (on 64-bit Windows a 32-bit process's CLSID keys are below
// Wow6432Node), "HKEY_LOCAL_MACHINE\..." or "HKEY_USERS\...". "" when it cannot be opened.
std::wstring KeyLocation(HKEY root, const std::wstring& keyPath);

}  // namespace Registry
