#pragma once
// A sample installation of the control, planted in the Wine prefix of this run (the tool runs in
// the same prefix, so it sees what is planted here): the control's files with any attributes, its
// class and distribution-unit keys, the registered module path in any type and bytes, and beside
// all of it canary files and sentinel keys that a removal must leave alone.
//
// The tests, like the tool, are 32-bit programs: on 64-bit Windows (and Wine's WoW64) system32
// leads them to SysWOW64, HKCR\CLSID to the 32-bit classes and HKLM\SOFTWARE to Wow6432Node, as it
// led the 32-bit browser that installed the control.
//
// Everything planted is recorded, and RemoveWhatWasPlanted takes it all away again: the session a
// case ran in is as it found it (SessionState tells). Nothing here asserts: planting that fails throws
// HarnessError, and the callers judge what the queries return.

#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "support/Expected.h"

namespace Installation {

using Expected::Classes;
using Expected::Key;

// The harness itself could not do what it was asked (a file or key could not be made).
class HarnessError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Where the sample installation registers its module (not one of the fixed folders).
inline constexpr wchar_t kRegisteredFolder[] = L"C:\\Program Files\\Tavrex";
// Files that a registered module path may name but the removal must keep.
inline constexpr wchar_t kKeepFolder[] = L"C:\\keep";
inline constexpr wchar_t kRedirectedSystemFolder[] = L"C:\\WINDOWS\\SysWOW64";  // what system32 is
inline constexpr wchar_t kNativeSystemFolder[] = L"C:\\WINDOWS\\Sysnative";     // the 64-bit system32

// Text as UTF-8.
std::string Utf8(const std::wstring& text);
// Text for messages: quoted UTF-8, with control characters (a NUL) escaped.
std::string Show(const std::wstring& text);

// ---- Files ----

// Makes a folder and its parents.
void PlantFolder(const std::wstring& path);
// Makes a file (and its folder) holding its own path, then gives it `attributes` (0: leave them).
void PlantFile(const std::wstring& path, DWORD attributes = 0);
bool FileExists(const std::wstring& path);
// INVALID_FILE_ATTRIBUTES when nothing is there.
DWORD FileAttributes(const std::wstring& path);
// The file's contents as planted (its own path when PlantFile made it), or "" when it is missing.
std::wstring PlantedContents(const std::wstring& path);

// The control's two files in each folder, in the order the removal meets them (module first).
std::vector<std::wstring> PlantControlFiles(const std::vector<std::wstring>& folders);
// The folders of a typical installation: system, maker, CONFLICT.1, a middle one, CONFLICT.100.
std::vector<std::wstring> TypicalFolders();

// The files of an installation, in the order the removal meets them: the registered module first,
// then the two files in each of `folders`.
std::vector<std::wstring> InstallationFiles(const std::vector<std::wstring>& folders = TypicalFolders(),
                                            const std::wstring& registeredModule = Expected::ModuleIn(kRegisteredFolder));
// An installation: the nineteen keys, the module registered as "<registeredModule>, 1", and the
// files InstallationFiles lists, which it returns.
std::vector<std::wstring> PlantInstallation(const std::vector<std::wstring>& folders = TypicalFolders(),
                                            const std::wstring& registeredModule = Expected::ModuleIn(kRegisteredFolder));

// Files the removal must never delete, beside every place it deletes from: near-miss names in
// the fixed folders, the control's names in folders that are not in its list (CONFLICT.101,
// CONFLICT.1000, CONFLICT.0, CONFLICT.01, CONFLICT.1x, CONFLICT, the download folder itself,
// C:\WINDOWS, a subfolder of the maker's folder, Morvex2) and beside the registered module.
// Returns them all.
std::vector<std::wstring> PlantCanaryFiles();

// ---- Registry ----

std::string Describe(const Key& key);
// Plants the fourteen class keys in `classes` and the five distribution-unit keys, with the values a
// registration writes. The module-path key is made without a default value: set it with one of the
// calls below.
void PlantControlKeys(const Classes& classes = Expected::kMachineClasses);
// Makes a key (and its parents).
void PlantKey(const Key& key);
// Deletes a key and its subkeys.
void RemoveKey(const Key& key);
// Removes a key of the session's own (a ProgID, say) until RemoveWhatWasPlanted puts it back.
void HideKey(const Key& key);
bool KeyExists(const Key& key);
// What the key's default value reads, or "" when it has none.
std::wstring DefaultValue(const Key& key);

// Where a key of the control planted through this program's view is kept: its place in the
// 64-bit view, below Wow6432Node (a key below HKEY_CLASSES_ROOT or HKEY_LOCAL_MACHINE\SOFTWARE); a key
// named in the 64-bit view already is where it is named.
Key PlaceBehindTheView(const Key& key);
// The control's nineteen keys as a 64-bit program registers them, in the 64-bit view, and its class
// keys in the running user's 64-bit classes.
std::vector<Key> RegistrationKeysIn64BitView();
// A 64-bit copy of the control that the removal, made for the 32-bit one, must leave alone: its two
// files in the 64-bit system folder and its nineteen keys in the 64-bit view, each class and unit
// key's default value reading "64-bit", its module registered in the 64-bit system folder. Returns
// the files.
std::vector<std::wstring> Plant64BitBystanders();

// The module-path key's default value in `classes`, exactly as given (the key is made when missing).
void SetModuleValue(DWORD type, const void* data, DWORD size, const Classes& classes = Expected::kMachineClasses);
// A REG_SZ module path, stored with its terminating NUL or without it.
void SetModulePath(const std::wstring& text, bool withNul = true, const Classes& classes = Expected::kMachineClasses);
// The control registered in `classes` with its module `module` ("<module>, 1"), and that module's file.
void PlantRegistration(const Classes& classes, const std::wstring& module);
// Removes the module-path key's default value in `classes`.
void DeleteModuleValue(const Classes& classes = Expected::kMachineClasses);
// Replaces the module-path key's DACL (SDDL, e.g. "D:P(A;;KR;;;WD)").
void RestrictModulePathKey(const wchar_t* sddl);

// Keys and values beside the control's that a removal must leave alone: a sibling class,
// a class whose name begins with the control's, a sibling distribution unit, and values in
// the parents of the control's keys. Each holds the value "Sentinel" = "keep".
std::vector<Key> PlantSentinelKeys();
// True when the key is there and its "Sentinel" value still reads "keep".
bool SentinelIntact(const Key& key);

// A user's profile in the machine's profile list (the 64-bit view, where Windows keeps it).
void PlantProfile(const std::wstring& sid, const std::wstring& folder);

// ---- The session ----

// Removes every key, value, file and folder planted since the last call, and puts hidden keys back.
// Throws HarnessError naming what could not be removed.
void RemoveWhatWasPlanted();
// What of the control and its bystanders is in the session now, wherever a case plants it, and the
// settings a case could change (users' classes, profiles, DPI, locale): a line each.
std::vector<std::string> SessionState();

}  // namespace Installation
