#pragma once
// Where a class registration can be. HKEY_CLASSES_ROOT shows two layers merged, the running user's
// classes over the machine's, and a user logged on has classes of their own; the removal looks at each
// layer by name, so that what one layer shows is never taken for all of them. Each is read through
// this process's view: on 64-bit Windows the CLSID keys of every layer are redirected below
// Wow6432Node for a 32-bit process, where a 32-bit browser registered the control.

#include <windows.h>

#include <string>
#include <vector>

struct ClassesLayer {
    HKEY root;                 // HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER or HKEY_USERS
    std::wstring classes;      // the classes' key below root
    std::wstring description;  // "machine", or "user <SID> (<profile folder>)"
};

// The machine's classes and the running user's; with `loggedOnUsers`, also the classes of every other
// user whose classes are loaded now (HKEY_USERS\<SID>_Classes: a user logged on).
std::vector<ClassesLayer> ClassesLayers(bool loggedOnUsers);

// How many profiles of the machine's profile list (services' aside) belong to users other than the
// running one whose classes are not loaded, so that ClassesLayers(true) cannot show them.
int ProfilesNotLoaded();
