#pragma once
// What the removal deletes and in which order: the control's registration keys and folders,
// and how it reads the registered module path.

#include <windows.h>

#include <string>
#include <vector>

struct RegistryKey {
    HKEY root;
    std::wstring path;
};

// The nineteen registration keys, in the order they are deleted: children before parents.
std::vector<RegistryKey> RegistrationKeys();

// The folders the control's two files are deleted from, in order: the system folder,
// the maker's folder, then CONFLICT.1 to CONFLICT.100 of the download cache.
std::vector<std::wstring> ControlFolders();

// True when a registered module path (judged up to its first NUL) is a fully qualified
// local path whose last component is the control's module, without wildcards.
bool IsControlModulePath(const std::wstring& path);
