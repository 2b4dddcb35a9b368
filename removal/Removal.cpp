// The removal from start to end, in the order it deletes; every failure becomes the Failed outcome.

#include "removal/Removal.h"

#include <new>
#include <optional>
#include <string>

#include "base/ComApartment.h"
#include "base/Errors.h"
#include "registry/Registry.h"
#include "removal/FileDeletion.h"
#include "removal/Names.h"

namespace {

std::wstring Place(const RegistryKey& key) { return Registry::KeyPlace(key.root, key.path, key.view); }

// A place for a report, with the layer it belongs to.
std::wstring InLayer(const RegistryKey& key, const ClassesLayer& layer) {
    return Place(key) + L" (" + layer.description + L")";
}

// What `layer` registers of the control, read the one way the removal reads it, before and after.
// ToolboxBitmap32 names the module: the control's own registration writes "<path>, <bitmap>" there,
// and that is the value the removal has always gone by. Throws WindowsError when that key is there but
// may not be opened: a registration that cannot be read is not "none".
LayerRegistration ReadLayerRegistration(const ClassesLayer& layer, RemovalFailure& at) {
    const RegistryKey key = ModulePathKey(layer);
    at = {RemovalStep::ReadingRegistration, Place(key), S_OK};
    LONG opened = ERROR_SUCCESS;
    const std::wstring value = Registry::ReadRegistryValue(key.root, key.path, L"", key.view, &opened).ToText();
    if (opened == ERROR_ACCESS_DENIED) {
        throw WindowsError::FromWin32("the registration cannot be opened", static_cast<DWORD>(opened));
    }
    const RegistryKey inprocServer = InprocServerKey(layer);
    return {layer, !value.empty(), ParseModulePath(value),
            Registry::KeyExists(inprocServer.root, inprocServer.path, inprocServer.view)};
}

// The layers looked at, and those of them that load the control.
struct Registrations {
    std::vector<ClassesLayer> layers;
    int profilesNotLoaded = 0;
    std::vector<LayerRegistration> loading;
};
Registrations ReadRegistrations(RemovalFailure& at) {
    Registrations found;
    at = {RemovalStep::ListingLayers, Registry::RootName(Names::kUsers), S_OK};
    found.layers = ClassesLayers();
    if (LooksAtOtherUsers()) found.profilesNotLoaded = ProfilesNotLoaded();
    for (const ClassesLayer& layer : found.layers) {
        LayerRegistration registration = ReadLayerRegistration(layer, at);
        if (registration.LoadsTheControl()) found.loading.push_back(std::move(registration));
    }
    return found;
}

// Why the registry kept a key it was asked to delete: a key that still holds a subkey is refused
// with ERROR_ACCESS_DENIED too, and then the subkey, not a missing right, is the reason.
KeyNotDeleted Kept(const RegistryKey& key, std::wstring place, LONG error) {
    KeyNotDeleted kept{std::move(place), error, L""};
    if (error != ERROR_ACCESS_DENIED) return kept;
    try {
        const std::vector<std::wstring> subkeys = Registry::SubkeyNames(key.root, key.path, key.view);
        if (!subkeys.empty()) kept.subkey = subkeys.front();
    } catch (const WindowsError&) {  // a key we may not even list was refused for the right, as it said
    }
    return kept;
}

}  // namespace

ControlSurvey SurveyControl(RemovalFailure& at) {
    Registrations found = ReadRegistrations(at);
    ControlSurvey survey{std::move(found.layers), std::move(found.loading), {}, {}, {}, found.profilesNotLoaded};
    // Without a registration the removal deletes no file: the fixed folders' copies are leftovers.
    FilePlan plan = PlanFiles(survey.registrations);
    for (const std::wstring& file : plan.toDelete) {
        at = {RemovalStep::LookingForFile, file, S_OK};
        if (!FindNormalFile(file).empty()) survey.files.push_back(file);
    }
    survey.filesLeft = std::move(plan.left);
    for (const RegistryKey& key : RegistrationKeys(survey.layers)) {
        if (Registry::KeyExists(key.root, key.path, key.view)) survey.keys.push_back(Place(key));
    }
    return survey;
}

struct ControlRemoval::State {
    RemovalReport report;
    RemovalFailure at;
    // COM is started when the removal first needs it, and kept, like the object, until the end.
    std::optional<ComApartment> com;
    std::optional<FileDeleter> fileDeleter;

    void DeleteFileIfPresent(const std::wstring& path) {
        at = {RemovalStep::DeletingFile, path, S_OK};
        if (fileDeleter->DeleteFileIfPresent(path)) report.filesDeleted.push_back(path);
    }

    void DeleteKey(const RegistryKey& key) {
        std::wstring place = Place(key);
        const LONG result = Registry::DeleteRegistryKey(key.root, key.path, key.view);
        if (result == ERROR_SUCCESS) {
            report.keysDeleted.push_back(std::move(place));
        } else if (result != ERROR_FILE_NOT_FOUND) {
            report.keysNotDeleted.push_back(Kept(key, std::move(place), result));
        }
    }

    // The verdict: each layer read again as before the removal. A layer that is no longer loaded
    // (its user logged off meanwhile) reads as empty, and is not taken for clean.
    void LookAgain() {
        for (const ClassesLayer& layer : report.layers) {
            if (!LayerIsLoaded(layer)) {
                report.notLookedAtAgain.push_back(layer.description);
                continue;
            }
            const LayerRegistration registration = ReadLayerRegistration(layer, at);
            if (registration.hasModulePath) report.stillLoading.push_back(InLayer(ModulePathKey(layer), layer));
            if (registration.hasInprocServer) report.stillLoading.push_back(InLayer(InprocServerKey(layer), layer));
        }
    }

    RemovalOutcome Run(const std::function<bool()>& confirm) {
        at = {RemovalStep::StartingCom, L"", S_OK};
        if (!com) com.emplace();
        ThrowIfFailed(com->Result(), "CoInitializeEx");
        at = {RemovalStep::MakingFileSystemObject, Names::kFileSystemProgId, S_OK};
        fileDeleter.emplace(CreateFileSystemObject());
        if (!confirm()) return RemovalOutcome::Cancelled;

        Registrations found = ReadRegistrations(at);
        report.layers = std::move(found.layers);
        report.profilesNotLoaded = found.profilesNotLoaded;
        report.registrations = std::move(found.loading);
        if (report.registrations.empty()) return RemovalOutcome::NotRegistered;

        FilePlan plan = PlanFiles(report.registrations);
        report.filesLeft = std::move(plan.left);
        for (const std::wstring& file : plan.toDelete) DeleteFileIfPresent(file);
        for (const RegistryKey& key : RegistrationKeys(report.layers)) DeleteKey(key);

        LookAgain();
        return report.stillLoading.empty() && report.notLookedAtAgain.empty() ? RemovalOutcome::Removed
                                                                               : RemovalOutcome::Failed;
    }
};

ControlRemoval::ControlRemoval() : m_state(std::make_unique<State>()) {}

ControlRemoval::~ControlRemoval() = default;

RemovalOutcome ControlRemoval::Run(const std::function<bool()>& confirm) noexcept {
    HRESULT result = S_OK;
    try {
        m_state->report = {};
        return m_state->Run(confirm);
    } catch (const WindowsError& error) {
        result = error.Result();
    } catch (const std::bad_alloc&) {
        result = E_OUTOFMEMORY;
    } catch (...) {  // the barrier of the removal: nothing it meets reaches its caller
        result = E_UNEXPECTED;
    }
    m_state->report.failure = std::move(m_state->at);
    m_state->report.failure->result = result;
    return RemovalOutcome::Failed;
}

const RemovalReport& ControlRemoval::Report() const noexcept { return m_state->report; }
