#pragma once
// Everything the console companion prints: English, for administrators. Paths and keys are printed
// as they are.

namespace ConsoleTexts {

inline constexpr wchar_t kUsage[] =
    L"Qelpad80RemoverCli: removes the Tavrex security login control (Qelpad80.dll) without asking,\r\n"
    L"for deployment systems. Run it elevated or as SYSTEM.\r\n"
    L"\r\n"
    L"  Qelpad80RemoverCli check    lists the registration and every file and key of the control that is\r\n"
    L"                              present; exit code 1 when the control is registered, 0 when not\r\n"
    L"  Qelpad80RemoverCli remove   removes it as the tool's window does after OK; exit code 0 when it is\r\n"
    L"                              not registered afterwards\r\n"
    L"  Qelpad80RemoverCli --help   prints this\r\n"
    L"\r\n"
    L"Every exit code, and how deployment systems use them: deployment.md, released beside this program.";
inline constexpr wchar_t kUsageError[] = L"usage error: ";
inline constexpr wchar_t kAborted[] = L"failed: the companion ended on an error of its own (exit code 5)";

// What was looked at, and what of it loads the control.
inline constexpr wchar_t kLookedAt[] = L"looked at: ";
inline constexpr wchar_t kLayerSeparator[] = L"; ";
inline constexpr wchar_t kRegistered[] = L"registered: ";
inline constexpr wchar_t kNoModulePath[] = L"no module path; its InprocServer32 key is there";
inline constexpr wchar_t kNotRegisteredLine[] = L"registered: none";
inline constexpr wchar_t kModule[] = L"module: ";
inline constexpr wchar_t kNotTheControlsModule[] = L" (not the control's module: left alone)";
// Why a file another user's registration names is not deleted: check, then remove.
inline constexpr wchar_t kAnotherUsersModule[] =
    L" (named only by another user's registration: 'remove' run elevated leaves it; a run as that user deletes it)";
inline constexpr wchar_t kAnotherUsersFileLeft[] =
    L" (named only by another user's registration, theirs to write: not deleted by a run with these rights)";
inline constexpr wchar_t kProfilesNotLoaded[] =
    L"not looked at: profiles of users who are not logged on (their classes are not loaded): ";
inline constexpr wchar_t kProfilesNotLoadedAdvice[] = L"; a run while they are logged on covers them";

// check
inline constexpr wchar_t kFile[] = L"file: ";
inline constexpr wchar_t kKey[] = L"key: ";
inline constexpr wchar_t kLeftover[] = L"leftover ";
inline constexpr wchar_t kCheckRegistered[] = L"result: registered; 'remove' removes it";
inline constexpr wchar_t kCheckNotRegistered[] = L"result: not registered";
inline constexpr wchar_t kCheckLeftovers[] =
    L"result: not registered; the leftovers above stay ('remove' leaves them, as the tool's window does)";

// remove
inline constexpr wchar_t kDeletedFile[] = L"deleted file: ";
inline constexpr wchar_t kLeftFile[] = L"left file: ";
inline constexpr wchar_t kDeletedKey[] = L"deleted key: ";
inline constexpr wchar_t kNotDeletedKey[] = L"not deleted: key ";
inline constexpr wchar_t kHoldsSubkey[] = L": it still holds its subkey ";
inline constexpr wchar_t kRemoved[] = L"result: removed; the control is no longer registered";
inline constexpr wchar_t kRemovedFromLayersLookedAt[] = L"result: removed from every layer looked at; ";
inline constexpr wchar_t kProfilesNotLookedAt[] = L" profiles not looked at";
inline constexpr wchar_t kNothingToRemove[] = L"result: not registered; nothing was deleted";
inline constexpr wchar_t kFailed[] = L"failed: ";
inline constexpr wchar_t kNotRemoved[] = L"result: not removed; what is listed above was deleted";
inline constexpr wchar_t kStillThere[] = L" is still there";
inline constexpr wchar_t kError[] = L": error ";
inline constexpr wchar_t kNoLongerLoaded[] =
    L": its classes are no longer loaded (the user logged off), so what is left there is not known";

// Where a removal stopped.
inline constexpr wchar_t kStartingCom[] = L"starting COM";
inline constexpr wchar_t kMakingFileSystemObject[] = L"creating the file-system object ";
inline constexpr wchar_t kListingLayers[] = L"listing the users whose classes are loaded ";
inline constexpr wchar_t kReadingRegistration[] = L"reading the registration ";
inline constexpr wchar_t kDeletingFile[] = L"deleting file ";
inline constexpr wchar_t kLookingForFile[] = L"looking for file ";
inline constexpr wchar_t kRemovingRegistration[] = L"removing the registration: ";
inline constexpr wchar_t kLookingAgain[] = L"looking again at ";

// What to do about it.
inline constexpr wchar_t kAdviceAccessDenied[] = L"advice: run it elevated or as SYSTEM";
inline constexpr wchar_t kAdviceInUse[] = L"advice: close the browsers and retry";

}  // namespace ConsoleTexts
