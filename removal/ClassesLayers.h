#pragma once
// Where a class registration can be. HKEY_CLASSES_ROOT shows two layers merged, the running user's
// classes over the machine's, and a user logged on has classes of their own; the removal looks at each
// layer by name, so that what one layer shows is never taken for all of them.
//
// Each layer is read and changed at the place where Windows keeps a 32-bit class, named explicitly:
// on 64-bit Windows (7 and later) that is the layer's Wow6432Node key, opened in the 64-bit view so
// that no redirection is relied on; on 32-bit Windows the layer's classes themselves.

#include <windows.h>

#include <string>
#include <vector>

// Whose layer it is: what a registration there may make an elevated run do.
enum class LayerOwner {
    Machine,      // written by administrators only
    RunningUser,  // this process's own user
    OtherUser,    // another user's, theirs to write: a path it names is never deleted by this process
};

struct ClassesLayer {
    HKEY root;                 // HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER or HKEY_USERS
    std::wstring classes;      // below root, the key that holds "CLSID\{...}" (Wow6432Node on 64-bit Windows)
    REGSAM view;               // the view `classes` is opened in: KEY_WOW64_64KEY on 64-bit Windows, else 0
    std::wstring loadedKey;    // below root, the key that is there as long as the layer is loaded; "" for a
                               // layer that is always there
    LayerOwner owner;
    std::wstring description;  // "machine", or "user <SID> (<profile folder>)"
};

// True when this process looks at the classes of every user logged on, not only at its own: when it
// runs as SYSTEM or elevated, the only ways it may read them. One rule for both programs.
bool LooksAtOtherUsers();

// The machine's classes and the running user's; when LooksAtOtherUsers(), also the classes of every
// other user whose classes are loaded now (HKEY_USERS\<SID>_Classes: a user logged on). Throws
// WindowsError when HKEY_USERS cannot be listed.
std::vector<ClassesLayer> ClassesLayers();

// True while `layer` is loaded (a user's classes go when the user logs off). Never throws.
bool LayerIsLoaded(const ClassesLayer& layer);

// How many profiles of the machine's profile list (services' aside) belong to users other than the
// running one whose classes are not loaded, so that ClassesLayers() cannot show them. Throws
// WindowsError when the profile list or HKEY_USERS cannot be listed.
int ProfilesNotLoaded();
