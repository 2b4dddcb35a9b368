// The removal from start to end, in the order it deletes; every failure becomes the Failed outcome.

#include "removal/Removal.h"

#include <string>

#include "base/Errors.h"
#include "registry/Registry.h"
#include "removal/FileDeletion.h"
#include "removal/Names.h"
#include "removal/RemovalPlan.h"

namespace {

// The module path the control's registration names, "" when there is none.
std::wstring ReadRegisteredModulePath() {
    LONG openResult = ERROR_SUCCESS;
    std::wstring modulePath =
        Registry::ReadRegistryValue(Names::kClassesRoot, Names::kModulePathKey, L"", &openResult).ToText();
    // A registration we may not open is there all the same: say so, rather than "not found".
    if (openResult == ERROR_ACCESS_DENIED) throw Win32Error("RegOpenKeyExA", static_cast<DWORD>(openResult));
    return modulePath;
}

}  // namespace

RemovalOutcome RemoveControl(Microsoft::WRL::ComPtr<IDispatch>& fileDeleter,
                             const std::function<bool()>& confirm) noexcept {
    try {
        fileDeleter = CreateFileSystemObject();
        if (!confirm()) return RemovalOutcome::Cancelled;

        const std::wstring modulePath = ReadRegisteredModulePath();
        if (modulePath.empty()) return RemovalOutcome::NotRegistered;

        // Any program of the user can write a class registration; only the control's own module is deleted.
        const std::wstring registeredModule = FirstPiece(modulePath, L',');
        if (IsControlModulePath(registeredModule)) DeleteFileIfPresent(fileDeleter.Get(), registeredModule);
        for (const std::wstring& folder : ControlFolders()) DeleteControlFiles(fileDeleter.Get(), folder);
        for (const RegistryKey& key : RegistrationKeys()) Registry::DeleteRegistryKey(key.root, key.path);
        return RemovalOutcome::Removed;
    } catch (...) {
        return RemovalOutcome::Failed;
    }
}
