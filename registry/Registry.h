#pragma once
// The registry routines of the removal: read one value, delete one key, through the ANSI entry points
// (RegOpenKeyExA, RegQueryValueExA, RegDeleteKeyExA, RegCloseKey). They report registry failures by
// status, never by throwing; what may throw is said at each.
//
// Every routine takes the view it works in: 0 for this process's own, KEY_WOW64_64KEY to name a key
// at its physical place (below Wow6432Node, say) without any redirection on the way.

#include <windows.h>

#include <string>
#include <vector>

#include "registry/RegistryValue.h"

namespace Registry {

// Every key is opened with options 0 and this access (and the view): the six key-specific rights,
// none of the standard ones. A key the user may read but not change does not open.
inline constexpr REGSAM kKeyAccess = 0x3F;

// Status of ReadValueFromOpenKey when the type is neither REG_SZ nor REG_DWORD,
// or when the size query failed.
inline constexpr LONG kUnreadType = -1;

// Reads the value `valueName` ("" is the default value) of `keyPath` below `root`.
// Empty when the key or value is missing, refused, or of an unhandled type. When `openResult` is
// given it receives what the open of the key returned. Throws only when a text cannot be converted
// to the ANSI code page (WindowsError) or memory runs out.
RegistryValue ReadRegistryValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName,
                                REGSAM view = 0, LONG* openResult = nullptr);

// Reads a value of a key that is already open into `output` (empty on entry).
// Returns 0, the registry's code of a failed data query, or kUnreadType. Never throws.
LONG ReadValueFromOpenKey(HKEY key, std::wstring valueName, RegistryValue& output) noexcept;

// Asks the registry to delete the one key `keyPath` below `root`, never its subkeys, and returns
// what it answered: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND for a key that is not there, or why it
// stays. Throws only as ReadRegistryValue does.
LONG DeleteRegistryKey(HKEY root, const std::wstring& keyPath, REGSAM view = 0);

// True when the key `keyPath` is there below `root`, also when it may not be opened. Never throws
// but for memory.
bool KeyExists(HKEY root, const std::wstring& keyPath, REGSAM view = 0);

// ---- Looking around, for finding the layers of classes and naming places; nothing is changed ----

// "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_USERS" or "HKEY_CLASSES_ROOT"; "" for another key.
const wchar_t* RootName(HKEY root) noexcept;

// The names of the subkeys of `keyPath` below `root`. Throws WindowsError when the key cannot be
// opened or listed: an empty list always means a key without subkeys.
std::vector<std::wstring> SubkeyNames(HKEY root, const std::wstring& keyPath, REGSAM view = 0);

// A REG_SZ or REG_EXPAND_SZ value as text, with environment variables expanded; "" when there is none.
// Never throws but for memory.
std::wstring ReadExpandedText(HKEY root, const std::wstring& keyPath, const wchar_t* valueName, REGSAM view = 0);

// Where the key `keyPath` below `root` is, as a person finds it in 64-bit regedit: the name the
// registry gives the key it opens ("HKEY_LOCAL_MACHINE\..." or "HKEY_USERS\...", after any
// redirection), or the path as named when it cannot be opened. Never throws but for memory.
std::wstring KeyPlace(HKEY root, const std::wstring& keyPath, REGSAM view = 0);

}  // namespace Registry
