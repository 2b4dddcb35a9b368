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

// The module a registration's module path names: the text before its first comma (the bitmap's
// number follows it), up to its first NUL.
std::wstring RegisteredModule(const std::wstring& modulePath);

// The files the removal deletes where it finds them, in its order: the registered module when it is
// the control's, then the control's module and setup file in each of the folders.
std::vector<std::wstring> ControlFiles(const std::wstring& modulePath);
