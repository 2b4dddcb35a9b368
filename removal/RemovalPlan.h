#pragma once
// What the removal deletes and in which order: the control's registration keys in each layer of
// classes and its folders, and how it reads the registered module path.

#include <windows.h>

#include <string>
#include <vector>

#include "removal/ClassesLayers.h"

struct RegistryKey {
    HKEY root;
    std::wstring path;
};

// The fourteen keys of the control's class registration in `layer`, in the order they are deleted:
// children before parents, the class key itself last.
std::vector<RegistryKey> ClassKeys(const ClassesLayer& layer);
// The five keys of the browser's record of the download, children first.
std::vector<RegistryKey> DistributionUnitKeys();
// Every key the removal deletes, in its order: each layer's class keys, then the distribution unit.
std::vector<RegistryKey> RegistrationKeys(const std::vector<ClassesLayer>& layers);

// The key whose default value names the control's module in `layer`.
RegistryKey ModulePathKey(const ClassesLayer& layer);
// The key through which COM and the browser load the control in `layer`.
RegistryKey InprocServerKey(const ClassesLayer& layer);

// The folders the control's two files are deleted from, in order: the system folder,
// the maker's folder, then CONFLICT.1 to CONFLICT.100 of the download cache.
std::vector<std::wstring> ControlFolders();

// True when a registered module path (judged up to its first NUL) is a fully qualified
// local path whose last component is the control's module, without wildcards.
bool IsControlModulePath(const std::wstring& path);

// The module a registration's module path names: the text before its first comma (the bitmap's
// number follows it), up to its first NUL.
std::wstring RegisteredModule(const std::wstring& modulePath);

// The files the removal deletes where it finds them, in its order: the module each layer's module
// path names when it is the control's (each once), then the control's module and setup file in each
// of the folders.
std::vector<std::wstring> ControlFiles(const std::vector<std::wstring>& modulePaths);
