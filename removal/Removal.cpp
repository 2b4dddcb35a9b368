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

std::wstring KeyPlace(const RegistryKey& key) { return KeyPlace(key.root, key.path); }

RemovalFailure StoppedAt(RemovalStep step, std::wstring subject) { return {step, std::move(subject), S_OK, {}}; }

// `layer`'s module path (ReadRegisteredModulePath), with `at` naming the key it reads.
std::wstring ReadModulePath(const ClassesLayer& layer, RemovalFailure& at) {
    at = StoppedAt(RemovalStep::ReadingRegistration, KeyPlace(ModulePathKey(layer)));
    return ReadRegisteredModulePath(layer);
}

// The control's registration in each layer that holds one.
std::vector<ControlSurvey::Registration> ReadRegistrations(const std::vector<ClassesLayer>& layers,
                                                           RemovalFailure& at) {
    std::vector<ControlSurvey::Registration> registrations;
    for (const ClassesLayer& layer : layers) {
        std::wstring modulePath = ReadModulePath(layer, at);
        if (!modulePath.empty()) registrations.push_back({layer, std::move(modulePath)});
    }
    return registrations;
}

std::vector<std::wstring> ModulePaths(const std::vector<ControlSurvey::Registration>& registrations) {
    std::vector<std::wstring> paths;
    for (const ControlSurvey::Registration& registration : registrations) paths.push_back(registration.modulePath);
    return paths;
}

std::vector<std::wstring> PresentKeys(const std::vector<ClassesLayer>& layers) {
    std::vector<std::wstring> present;
    for (const RegistryKey& key : RegistrationKeys(layers)) {
        if (Registry::KeyExists(key.root, key.path)) present.push_back(KeyPlace(key));
    }
    return present;
}

// A key that stays, for the report: where it is, and in which layer.
std::wstring Staying(const RegistryKey& key, const ClassesLayer& layer) {
    return KeyPlace(key) + L" (" + layer.description + L")";
}

}  // namespace

std::wstring ReadRegisteredModulePath(const ClassesLayer& layer) {
    const RegistryKey key = ModulePathKey(layer);
    LONG openResult = ERROR_SUCCESS;
    // ToolboxBitmap32, not InprocServer32: the control's own registration names its module there,
    // as "<path>, <bitmap>", and that is the value the removal has always gone by.
    std::wstring modulePath = Registry::ReadRegistryValue(key.root, key.path, L"", &openResult).ToText();
    // A registration we may not open is there all the same: say so, rather than "not found".
    if (openResult == ERROR_ACCESS_DENIED) {
        throw WindowsError::FromWin32("the registration cannot be opened", static_cast<DWORD>(openResult));
    }
    return modulePath;
}

std::wstring KeyPlace(HKEY root, const std::wstring& path) {
    const std::wstring place = Registry::KeyLocation(root, path);
    return place.empty() ? std::wstring(Registry::RootName(root)) + L"\\" + path : place;
}

std::vector<std::wstring> PresentRegistrationKeys(bool loggedOnUsers) { return PresentKeys(ClassesLayers(loggedOnUsers)); }

ControlSurvey SurveyControl(RemovalFailure& at, bool loggedOnUsers) {
    ControlSurvey survey;
    survey.layers = ClassesLayers(loggedOnUsers);
    survey.registrations = ReadRegistrations(survey.layers, at);
    // Without a registration the removal deletes no file: the fixed folders' copies are leftovers.
    for (const std::wstring& file : ControlFiles(ModulePaths(survey.registrations))) {
        at = StoppedAt(RemovalStep::LookingForFile, file);
        if (!FindNormalFile(file).empty()) survey.files.push_back(file);
    }
    survey.keys = PresentKeys(survey.layers);
    if (loggedOnUsers) survey.profilesNotLoaded = ProfilesNotLoaded();
    return survey;
}

struct ControlRemoval::State {
    std::function<void(const std::wstring&)> fileDeleted;
    bool loggedOnUsers = false;
    RemovalFailure failure;
    // COM is started when the removal first needs it, and kept, like the object, until the end.
    std::optional<ComApartment> com;
    std::optional<FileDeleter> fileDeleter;

    void At(RemovalStep step, std::wstring subject) { failure = StoppedAt(step, std::move(subject)); }

    void DeleteFileIfPresent(const std::wstring& path) {
        At(RemovalStep::DeletingFile, FirstPiece(path, L'\0'));
        if (fileDeleter->DeleteFileIfPresent(path) && fileDeleted) fileDeleted(failure.subject);
    }

    // What is left in each layer that would still load the control: its module path, or the key
    // COM loads it through. A key kept only for a subkey of someone else's does neither.
    std::vector<std::wstring> StillRegistered(const std::vector<ClassesLayer>& layers) {
        std::vector<std::wstring> staying;
        for (const ClassesLayer& layer : layers) {
            if (!ReadModulePath(layer, failure).empty()) staying.push_back(Staying(ModulePathKey(layer), layer));
            const RegistryKey inprocServer = InprocServerKey(layer);
            if (Registry::KeyExists(inprocServer.root, inprocServer.path)) {
                staying.push_back(Staying(inprocServer, layer));
            }
        }
        return staying;
    }

    RemovalOutcome Run(const std::function<bool()>& confirm) {
        At(RemovalStep::StartingCom, L"");
        if (!com) com.emplace();
        ThrowIfFailed(com->Result(), "CoInitializeEx");
        At(RemovalStep::MakingFileSystemObject, Names::kFileSystemProgId);
        fileDeleter.emplace(CreateFileSystemObject());
        if (!confirm()) return RemovalOutcome::Cancelled;

        const std::vector<ClassesLayer> layers = ClassesLayers(loggedOnUsers);
        const std::vector<ControlSurvey::Registration> registrations = ReadRegistrations(layers, failure);
        if (registrations.empty()) return RemovalOutcome::NotRegistered;

        for (const std::wstring& file : ControlFiles(ModulePaths(registrations))) DeleteFileIfPresent(file);
        for (const RegistryKey& key : RegistrationKeys(layers)) Registry::DeleteRegistryKey(key.root, key.path);

        // The outcome is what the registry shows now, not what the deletions were asked to do.
        std::vector<std::wstring> staying = StillRegistered(layers);
        if (staying.empty()) return RemovalOutcome::Removed;
        failure = {RemovalStep::RemovingRegistration, staying.front(), S_OK, std::move(staying)};
        return RemovalOutcome::Failed;
    }
};

ControlRemoval::ControlRemoval(std::function<void(const std::wstring&)> fileDeleted, bool loggedOnUsers)
    : m_state(std::make_unique<State>()) {
    m_state->fileDeleted = std::move(fileDeleted);
    m_state->loggedOnUsers = loggedOnUsers;
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
