#pragma once
// The removal of the control, as the Delete button asks for it. It knows nothing of windows or
// consoles: the caller hands it the question to ask, and turns its outcome and report into what the
// user is told.

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "removal/ClassesLayers.h"
#include "removal/RemovalPlan.h"

enum class RemovalOutcome {
    Cancelled,      // the confirmation was not given; nothing was looked up or deleted
    NotRegistered,  // no layer loads the control; nothing was deleted
    Removed,        // the files and keys were deleted, and no layer looked at loads the control any more
    Failed,         // an error stopped it, or afterwards a layer still loads the control or could not be
                    // looked at again; what was deleted before stays deleted
};

// Where an error stopped a removal or a survey.
enum class RemovalStep {
    StartingCom,
    MakingFileSystemObject,
    ListingLayers,        // the users whose classes are loaded, and the profiles
    ReadingRegistration,
    DeletingFile,         // its search included
    LookingForFile,       // a survey's search
};
struct RemovalFailure {
    RemovalStep step = RemovalStep::StartingCom;
    std::wstring subject;   // the path or key it was at ("" when none)
    HRESULT result = S_OK;  // why
};

// A key of the removal that the registry did not delete.
struct KeyNotDeleted {
    std::wstring place;   // where it is (Registry::KeyPlace)
    LONG error;           // what the registry answered
    std::wstring subkey;  // when that was ERROR_ACCESS_DENIED because the key still holds a subkey: its name
};

// What one run did, as it did it: nothing here is inferred from a look before and after.
struct RemovalReport {
    std::vector<ClassesLayer> layers;              // the layers looked at
    int profilesNotLoaded = 0;                     // profiles whose classes could not be looked at
    std::vector<LayerRegistration> registrations;  // the layers that loaded the control before
    std::vector<std::wstring> filesDeleted;
    std::vector<FileLeft> filesLeft;               // named by a registration, not deleted
    std::vector<std::wstring> keysDeleted;         // where each was
    std::vector<KeyNotDeleted> keysNotDeleted;     // missing keys are neither
    // Afterwards, by the same definition as before: each key that still loads the control, where it
    // is, with its layer ("<place> (<layer>)"); and the layers that were no longer loaded to be looked
    // at again.
    std::vector<std::wstring> stillLoading;
    std::vector<std::wstring> notLookedAtAgain;
    std::optional<RemovalFailure> failure;         // the error that stopped the run
};

// The removal with the file-system object it deletes through, which it keeps from one run to the
// next until a new run makes a new one.
class ControlRemoval {
public:
    ControlRemoval();
    ~ControlRemoval();
    ControlRemoval(const ControlRemoval&) = delete;
    ControlRemoval& operator=(const ControlRemoval&) = delete;

    // Makes a new file-system object, asks `confirm`, reads the control's registration in every
    // layer of classes (ClassesLayers), deletes the module each names where it may, the control's
    // files in every folder, then the keys of every layer and of the distribution unit, children
    // first; then reads every layer again. Any error, also of COM or of the file-system object before
    // the question, gives Failed; nothing is thrown.
    RemovalOutcome Run(const std::function<bool()>& confirm) noexcept;

    // What the last run did: every run starts a new report.
    const RemovalReport& Report() const noexcept;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// What of the control is on the machine now, as the removal would find it.
struct ControlSurvey {
    std::vector<ClassesLayer> layers;              // the layers looked at
    std::vector<LayerRegistration> registrations;  // those that load the control
    std::vector<std::wstring> files;               // files the removal would delete (its searches find them)
    std::vector<FileLeft> filesLeft;               // named by a registration, which the removal would leave
    std::vector<std::wstring> keys;                // its registration keys that are there, where they are
    int profilesNotLoaded = 0;                     // profiles whose classes could not be looked at
};
// Looks without changing anything. Throws WindowsError as the removal would fail; `at` then says
// where (its step and subject; the result is the caller's to fill in).
ControlSurvey SurveyControl(RemovalFailure& at);
