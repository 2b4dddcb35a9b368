#pragma once
// What the removal deletes and in which order: the control's registration keys in each layer of
// classes, its folders, and which files a registration's module path adds, or leaves and why.
// Nothing here looks at the machine, and nothing throws but for memory.

#include <windows.h>

#include <string>
#include <vector>

#include "removal/ClassesLayers.h"

struct RegistryKey {
    HKEY root;
    std::wstring path;
    REGSAM view = 0;  // 0: this process's view; KEY_WOW64_64KEY: the path names the physical place
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

// A registration's module-path value, read as text and taken apart once.
struct ModulePath {
    std::wstring text;             // the text up to its first NUL: what a person is shown
    std::wstring module;           // the text before its first comma (a bitmap's number follows it)
    bool isControlModule = false;  // `module` is the control's module (IsControlModulePath)
};
ModulePath ParseModulePath(const std::wstring& value);

// True when `path` is a fully qualified local path whose last component is the control's module,
// without wildcards, and not through the 64-bit system folder's alias (the control is 32-bit).
bool IsControlModulePath(const std::wstring& path);

// What one layer registers of the control. The one definition of "registered", used before the
// removal, by the survey and for the verdict after it: the layer still loads the control when its
// module-path value gives text or its InprocServer32 key is there.
struct LayerRegistration {
    ClassesLayer layer;
    bool hasModulePath = false;    // the module-path value gives text (a lone NUL counts)
    ModulePath modulePath;         // as read, when hasModulePath
    bool hasInprocServer = false;  // the InprocServer32 key is there
    bool LoadsTheControl() const noexcept { return hasModulePath || hasInprocServer; }
};

// A file a registration names that the removal does not delete, and why.
struct FileLeft {
    enum class Why {
        NotTheControlsModule,  // the module path names another file, a folder or a pattern
        AnotherUsersPath,      // named only by another user's registration, which is theirs to write
    };
    std::wstring path;
    Why why;
    std::wstring layer;  // the description of the layer that names it
};

struct FilePlan {
    // In order: the module each registration names, when it is the control's and named by the
    // machine's or this user's registration (each once); then the module and setup file in each folder.
    std::vector<std::wstring> toDelete;
    std::vector<FileLeft> left;
};
FilePlan PlanFiles(const std::vector<LayerRegistration>& registrations);
