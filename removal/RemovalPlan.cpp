// The control's registration keys and folders in their order, and what its module paths name.

#include "removal/RemovalPlan.h"

#include <algorithm>
#include <cwctype>

#include "base/Text.h"
#include "removal/Names.h"

namespace {

RegistryKey ClassKey(const ClassesLayer& layer, const wchar_t* suffix) {
    return {layer.root, layer.classes + L"\\" + Names::kClassKey + suffix, layer.view};
}

bool Contains(const std::vector<std::wstring>& paths, const std::wstring& path) {
    return std::any_of(paths.begin(), paths.end(), [&](const std::wstring& p) { return SameTextIgnoringCase(p, path); });
}

// True when one of the folders along `path` is named `name`.
bool PassesThrough(const std::wstring& path, const wchar_t* name) {
    for (std::size_t start = 0, end; start < path.size(); start = end + 1) {
        end = std::min(path.find(L'\\', start), path.size());
        if (SameTextIgnoringCase(std::wstring_view(path).substr(start, end - start), name)) return true;
    }
    return false;
}

}  // namespace

std::vector<RegistryKey> ClassKeys(const ClassesLayer& layer) {
    std::vector<RegistryKey> keys;
    for (const wchar_t* suffix : Names::kClassKeySuffixes) keys.push_back(ClassKey(layer, suffix));
    return keys;
}

std::vector<RegistryKey> DistributionUnitKeys() {
    std::vector<RegistryKey> keys;
    for (const wchar_t* subkey : Names::kUnitSubkeys) {
        std::wstring path = Names::kUnitKey;
        if (*subkey) path.append(L"\\").append(subkey);
        keys.push_back({Names::kLocalMachine, path});
    }
    return keys;
}

std::vector<RegistryKey> RegistrationKeys(const std::vector<ClassesLayer>& layers) {
    std::vector<RegistryKey> keys;
    for (const ClassesLayer& layer : layers) {
        for (RegistryKey& key : ClassKeys(layer)) keys.push_back(std::move(key));
    }
    for (RegistryKey& key : DistributionUnitKeys()) keys.push_back(std::move(key));
    return keys;
}

RegistryKey ModulePathKey(const ClassesLayer& layer) { return ClassKey(layer, Names::kModulePathSuffix); }

RegistryKey InprocServerKey(const ClassesLayer& layer) { return ClassKey(layer, Names::kInprocServerSuffix); }

std::vector<std::wstring> ControlFolders() {
    std::vector<std::wstring> folders = {Names::kSystemFolder, Names::kMakerFolder};
    for (int n = Names::kFirstConflictFolder; n <= Names::kLastConflictFolder; ++n) {
        folders.push_back(Names::kConflictFolderPrefix + DecimalText(n));
    }
    return folders;
}

ModulePath ParseModulePath(const std::wstring& value) {
    ModulePath parsed;
    // A value stored with its NUL keeps it at its end, and could hide more behind it: nothing after
    // a NUL is ever shown, searched or deleted.
    parsed.text = FirstPiece(value, L'\0');
    parsed.module = FirstPiece(parsed.text, L',');
    parsed.isControlModule = IsControlModulePath(parsed.module);
    return parsed;
}

bool IsControlModulePath(const std::wstring& path) {
    if (path.size() < 3 || !std::iswalpha(path[0]) || path[0] > 0x7F || path[1] != L':' || path[2] != L'\\') {
        return false;
    }
    if (path.find_first_of(std::wstring(L"*?\0", 3)) != std::wstring::npos) return false;
    if (PassesThrough(path, Names::kNativeSystemFolderName)) return false;
    const std::wstring leaf = path.substr(path.rfind(L'\\') + 1);
    return SameTextIgnoringCase(leaf, Names::kModuleLeafName);
}

FilePlan PlanFiles(const std::vector<LayerRegistration>& registrations) {
    FilePlan plan;
    // Any program of a user can write that user's class registration; only the control's own module
    // is deleted, and only where the machine's registration or this process's own user names it.
    // (Other users' layers come last, so a module the machine's layer names too is deleted.)
    for (const LayerRegistration& registration : registrations) {
        const ModulePath& path = registration.modulePath;
        if (!registration.hasModulePath || path.module.empty() || Contains(plan.toDelete, path.module)) continue;
        if (path.isControlModule && registration.layer.owner != LayerOwner::OtherUser) {
            plan.toDelete.push_back(path.module);
            continue;
        }
        const FileLeft::Why why =
            path.isControlModule ? FileLeft::Why::AnotherUsersPath : FileLeft::Why::NotTheControlsModule;
        plan.left.push_back({path.module, why, registration.layer.description});
    }
    for (const std::wstring& folder : ControlFolders()) {
        plan.toDelete.push_back(folder + Names::kModuleFileName);
        plan.toDelete.push_back(folder + Names::kSetupFileName);
    }
    return plan;
}
