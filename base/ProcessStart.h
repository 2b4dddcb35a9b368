#pragma once
// What both exes do first, before anything loads a DLL by name or could show a box of the system's.

#include <windows.h>

#include "base/DllSearch.h"

inline void PrepareProcess() noexcept {
    RestrictDllSearchToSystemFolder();
    ::HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
    // No box of the system's may wait for a person: a module path on an empty removable drive would
    // ask "There is no disk in the drive", and an unattended run as SYSTEM, which nobody sees, would
    // hang there. The tool shows its own boxes only.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}
