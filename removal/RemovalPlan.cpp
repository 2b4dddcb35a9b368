// The control's registration keys and folders in their order, and the checks of its module path.

#include "removal/RemovalPlan.h"

#include <algorithm>
#include <cwctype>

#include "base/Text.h"
#include "removal/Names.h"

namespace {

RegistryKey ClassKey(const ClassesLayer& layer, const wchar_t* suffix) {
    return {layer.root, layer.classes + L"\\" + Names::kClassKey + suffix};
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

bool IsControlModulePath(const std::wstring& path) {
    const std::wstring judged = FirstPiece(path, L'\0');
    if (judged.size() < 3 || !std::iswalpha(judged[0]) || judged[0] > 0x7F || judged[1] != L':' ||
        judged[2] != L'\\') {
        return false;
    }
    if (judged.find_first_of(L"*?") != std::wstring::npos) return false;
    const std::wstring leaf = judged.substr(judged.rfind(L'\\') + 1);
    return SameTextIgnoringCase(leaf, Names::kModuleLeafName);
}

std::wstring RegisteredModule(const std::wstring& modulePath) {
    return FirstPiece(FirstPiece(modulePath, L','), L'\0');
}

std::vector<std::wstring> ControlFiles(const std::vector<std::wstring>& modulePaths) {
    std::vector<std::wstring> files;
    // Any program of the user can write a class registration; only the control's own module is deleted.
    for (const std::wstring& modulePath : modulePaths) {
        const std::wstring registeredModule = RegisteredModule(modulePath);
        if (IsControlModulePath(registeredModule) &&
            std::find(files.begin(), files.end(), registeredModule) == files.end()) {
            files.push_back(registeredModule);
        }
    }
    for (const std::wstring& folder : ControlFolders()) {
        files.push_back(folder + Names::kModuleFileName);
        files.push_back(folder + Names::kSetupFileName);
    }
    return files;
}
