#pragma once
// Where this program's DLLs may come from: the system folder only, never the folder it was started
// from (a Downloads folder may hold anything). Call it first thing, before anything loads a DLL by
// name.

#include <windows.h>

// SetDefaultDllDirectories does that on Windows 8 and later, and on Windows 7 with KB2533623, which
// its security updates since 2011 bring; it is looked up because a Windows 7 without that update
// lacks it. There only SetDllDirectoryW(L"") helps: it takes the current folder out of the search,
// but the exe's own folder is still searched first, so a DLL beside the exe named like a system
// DLL that is not a KnownDLL loads.
inline void RestrictDllSearchToSystemFolder() noexcept {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    ::SetDllDirectoryW(L"");
}
