// The removal from start to end, in the order it deletes; every failure becomes the Failed outcome.

#include "removal/Removal.h"

#include <new>
#include <optional>
#include <string>

#include "base/ComApartment.h"
#include "base/Errors.h"
#include "base/Text.h"
#include "registry/Registry.h"
#include "removal/FileDeletion.h"
#include "removal/Names.h"
#include "removal/RemovalPlan.h"

namespace {

// On Windows HKEY_CLASSES_ROOT shows a per-user registration over the machine-wide one: deleting
// the first lets the second show through, and a second pass removes that.
constexpr int kPasses = 2;

std::wstring KeyName(const RegistryKey& key) {
    return (key.root == Names::kClassesRoot ? L"HKEY_CLASSES_ROOT\\" : L"HKEY_LOCAL_MACHINE\\") + key.path;
}

}  // namespace

std::wstring ReadRegisteredModulePath() {
    LONG openResult = ERROR_SUCCESS;
    // ToolboxBitmap32, not InprocServer32: the control's own registration names its module there,
    // as "<path>, <bitmap>", and that is the value the removal has always gone by.
    std::wstring modulePath =
        Registry::ReadRegistryValue(Names::kClassesRoot, Names::kModulePathKey, L"", &openResult).ToText();
    // A registration we may not open is there all the same: say so, rather than "not found".
    if (openResult == ERROR_ACCESS_DENIED) {
        throw WindowsError::FromWin32("the registration cannot be opened", static_cast<DWORD>(openResult));
    }
    return modulePath;
}

std::wstring ModulePathKeyName() { return KeyName({Names::kClassesRoot, Names::kModulePathKey}); }

ControlSurvey SurveyControl(RemovalFailure& at) {
    ControlSurvey survey;
    at = {RemovalStep::ReadingRegistration, ModulePathKeyName()};
    survey.modulePath = ReadRegisteredModulePath();
    survey.registeredModule = RegisteredModule(survey.modulePath);
    survey.registeredModuleIsControls = IsControlModulePath(survey.registeredModule);
    for (const std::wstring& file : ControlFiles(survey.modulePath)) {
        at = {RemovalStep::LookingForFile, file};
        if (!FindNormalFile(file).empty()) survey.files.push_back(file);
    }
    survey.keys = PresentRegistrationKeys();
    return survey;
}

std::vector<std::wstring> PresentRegistrationKeys() {
    std::vector<std::wstring> present;
    for (const RegistryKey& key : RegistrationKeys()) {
        if (Registry::KeyExists(key.root, key.path)) present.push_back(KeyName(key));
    }
    return present;
}

struct ControlRemoval::State {
    std::function<void(const std::wstring&)> fileDeleted;
    RemovalFailure failure;
    // COM is started when the removal first needs it, and kept, like the object, until the end.
    std::optional<ComApartment> com;
    std::optional<FileDeleter> fileDeleter;

    void At(RemovalStep step, std::wstring subject) {
        failure.step = step;
        failure.subject = std::move(subject);
    }

    std::wstring ReadModulePath() {
        At(RemovalStep::ReadingRegistration, ModulePathKeyName());
        return ReadRegisteredModulePath();
    }

    void DeleteFileIfPresent(const std::wstring& path) {
        At(RemovalStep::DeletingFile, FirstPiece(path, L'\0'));
        if (fileDeleter->DeleteFileIfPresent(path) && fileDeleted) fileDeleted(failure.subject);
    }

    // One pass over everything the registration and the fixed folders name.
    void RemoveFilesAndKeys(const std::wstring& modulePath) {
        for (const std::wstring& file : ControlFiles(modulePath)) DeleteFileIfPresent(file);
        for (const RegistryKey& key : RegistrationKeys()) Registry::DeleteRegistryKey(key.root, key.path);
    }

    RemovalOutcome Run(const std::function<bool()>& confirm) {
        At(RemovalStep::StartingCom, L"");
        if (!com) com.emplace();
        ThrowIfFailed(com->Result(), "CoInitializeEx");
        At(RemovalStep::MakingFileSystemObject, Names::kFileSystemProgId);
        fileDeleter.emplace(CreateFileSystemObject());
        if (!confirm()) return RemovalOutcome::Cancelled;

        std::wstring modulePath = ReadModulePath();
        if (modulePath.empty()) return RemovalOutcome::NotRegistered;
        for (int pass = 0; pass < kPasses && !modulePath.empty(); ++pass) {
            RemoveFilesAndKeys(modulePath);
            modulePath = ReadModulePath();
        }
        if (modulePath.empty()) return RemovalOutcome::Removed;
        failure = {RemovalStep::RemovingRegistration, ModulePathKeyName(), S_OK};
        return RemovalOutcome::Failed;
    }
};

ControlRemoval::ControlRemoval(std::function<void(const std::wstring&)> fileDeleted)
    : m_state(std::make_unique<State>()) {
    m_state->fileDeleted = std::move(fileDeleted);
}

ControlRemoval::~ControlRemoval() = default;

RemovalOutcome ControlRemoval::Run(const std::function<bool()>& confirm) noexcept {
    try {
        return m_state->Run(confirm);
    } catch (const WindowsError& error) {
        m_state->failure.result = error.Result();
    } catch (const std::bad_alloc&) {
        m_state->failure.result = E_OUTOFMEMORY;
    } catch (...) {
        m_state->failure.result = E_UNEXPECTED;
    }
    return RemovalOutcome::Failed;
}

const RemovalFailure& ControlRemoval::LastFailure() const noexcept { return m_state->failure; }
