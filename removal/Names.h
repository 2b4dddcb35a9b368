#pragma once
// Paths, keys, ProgIDs and class names of the removal: never shown to a person.

#include <windows.h>

namespace Names {

inline constexpr wchar_t kFileSystemProgId[] = L"Scripting.FileSystemObject";
inline constexpr wchar_t kDeleteFileMethod[] = L"DeleteFile";

// Where class registrations are kept, each a layer of what HKEY_CLASSES_ROOT shows: the machine's,
// the running user's, and (below HKEY_USERS) those of each user logged on now, a key named by the
// user's SID followed by the suffix.
inline constexpr wchar_t kMachineClasses[] = L"Software\\Classes";  // below HKEY_LOCAL_MACHINE
inline constexpr wchar_t kUserClasses[] = L"Software\\Classes";     // below HKEY_CURRENT_USER
inline constexpr wchar_t kLoadedClassesSuffix[] = L"_Classes";       // below HKEY_USERS
// Below each of them, where 64-bit Windows keeps the registrations of 32-bit classes, the control's
// among them.
inline constexpr wchar_t kWow64Classes[] = L"\\Wow6432Node";
// The machine's profiles, a key per user's SID, in the 64-bit view, where Windows keeps them.
inline constexpr wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
inline constexpr wchar_t kProfileFolderValue[] = L"ProfileImagePath";
// Profiles of services, never logged on: LocalSystem, LocalService, NetworkService.
inline constexpr const wchar_t* kServiceProfiles[] = {L"S-1-5-18", L"S-1-5-19", L"S-1-5-20"};

// The control's class registration, below a layer's classes.
inline constexpr wchar_t kClassKey[] = L"CLSID\\{3F6B2C81-7D4E-4A19-9C05-62E8B1D4A7F3}";
// Its default value names the control's module, followed by a comma and a resource number.
inline constexpr wchar_t kModulePathSuffix[] = L"\\ToolboxBitmap32";
// What COM and the browser load the control through.
inline constexpr wchar_t kInprocServerSuffix[] = L"\\InprocServer32";
// The browser's record of the download, below HKEY_LOCAL_MACHINE.
inline constexpr wchar_t kUnitKey[] =
    L"SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units\\{3F6B2C81-7D4E-4A19-9C05-62E8B1D4A7F3}";

// Below the class key, children always before their parent; the empty suffix is the class key itself.
inline constexpr const wchar_t* kClassKeySuffixes[] = {
    L"\\VersionIndependentProgID",
    L"\\Version",
    L"\\TypeLib",
    L"\\ToolboxBitmap32",
    L"\\Programmable",
    L"\\ProgID",
    L"\\MiscStatus\\1",
    L"\\MiscStatus",
    L"\\InprocServer32",
    L"\\Implemented Categories\\{7DD95802-9882-11CF-9FA9-00AA006C42C4}",  // safe for initialising
    L"\\Implemented Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}",  // safe for scripting
    L"\\Implemented Categories",
    L"\\Control",
    L"",
};

// Below the unit key, after one backslash; the empty path is the unit key itself.
inline constexpr const wchar_t* kUnitSubkeys[] = {
    L"InstalledVersion",
    L"DownloadInformation",
    L"Contains\\Files",
    L"Contains",
    L"",
};

// The control's files, appended to a folder that does not end in a backslash.
inline constexpr wchar_t kModuleFileName[] = L"\\Qelpad80.dll";
inline constexpr wchar_t kSetupFileName[] = L"\\Kest.inf";
// What a registered module path must end in to be deleted (without the leading backslash).
inline constexpr wchar_t kModuleLeafName[] = L"Qelpad80.dll";

// The folders the control is known to be installed in: fixed, not taken from the system's settings.
inline constexpr wchar_t kSystemFolder[] = L"C:\\WINDOWS\\system32";
inline constexpr wchar_t kMakerFolder[] = L"C:\\WINDOWS\\system32\\Morvex";
inline constexpr wchar_t kConflictFolderPrefix[] = L"C:\\WINDOWS\\Downloaded Program Files\\CONFLICT.";
inline constexpr int kFirstConflictFolder = 1;
inline constexpr int kLastConflictFolder = 100;
// The name through which a 32-bit process reaches the 64-bit system folder: never the control's, which
// is 32-bit.
inline constexpr wchar_t kNativeSystemFolderName[] = L"Sysnative";

// Predefined roots by their 32-bit handle values.
inline const HKEY kLocalMachine = HKEY_LOCAL_MACHINE;
inline const HKEY kCurrentUser = HKEY_CURRENT_USER;
inline const HKEY kUsers = HKEY_USERS;

}  // namespace Names
