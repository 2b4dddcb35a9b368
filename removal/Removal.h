#pragma once
// The removal of the control, as the Delete button asks for it. It knows nothing of windows: the
// caller hands it the question to ask and turns the outcome into what the user is told.

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "removal/ClassesLayers.h"

enum class RemovalOutcome {
    Cancelled,      // the confirmation was not given; nothing was looked up or deleted
    NotRegistered,  // no layer's registration names a module; nothing was deleted
    Removed,        // the files and keys were deleted, and nothing that loads the control is left
    Failed,         // something failed; what was deleted before stays deleted
};

// Where a removal stopped, for those who report it (the window tells the user one fixed text).
enum class RemovalStep {
    StartingCom,
    MakingFileSystemObject,
    ReadingRegistration,
    DeletingFile,            // its search included
    LookingForFile,          // a survey's search
    RemovingRegistration,    // keys that load the control were still there after the deletions
};
struct RemovalFailure {
    RemovalStep step = RemovalStep::StartingCom;
    std::wstring subject;    // the path or key it was at ("" when none)
    HRESULT result = S_OK;   // why; S_OK when no call failed (a registration that stayed)
    // RemovingRegistration: every key that stays, where it is, with its layer.
    std::vector<std::wstring> staying;
};

// The removal with the file-system object it deletes through, which it keeps from one run to the
// next until a new run makes a new one.
class ControlRemoval {
public:
    // `fileDeleted` hears of every file as it is deleted. With `loggedOnUsers` the removal looks at
    // the classes of every user logged on now besides the machine's and the running user's.
    explicit ControlRemoval(std::function<void(const std::wstring&)> fileDeleted = {}, bool loggedOnUsers = false);
    ~ControlRemoval();
    ControlRemoval(const ControlRemoval&) = delete;
    ControlRemoval& operator=(const ControlRemoval&) = delete;

    // Makes a new file-system object, asks `confirm`, reads the control's registration in every
    // layer of classes, deletes the module each names, the control's files in every folder, then
    // the keys of every layer and of the distribution unit, children first; then looks again, and
    // says Removed only when no layer holds a module path or an InprocServer32 key any more. Any
    // failure, also of COM or of the file-system object before the question, gives Failed; nothing
    // is thrown.
    RemovalOutcome Run(const std::function<bool()>& confirm) noexcept;

    // Where the last run that failed stopped, and why.
    const RemovalFailure& LastFailure() const noexcept;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// The module path that `layer`'s registration names, "" when there is none: the default value of
// its ToolboxBitmap32 key, converted to text. Throws WindowsError when the key is there but may not
// be opened.
std::wstring ReadRegisteredModulePath(const ClassesLayer& layer);

// Where a key of the removal is, as a person finds it (regedit, 64-bit): the key the registry opens
// for it, or its path as named when it cannot be opened.
std::wstring KeyPlace(HKEY root, const std::wstring& path);

// What of the control is on the machine now, as the removal finds it, in the order it meets it.
struct ControlSurvey {
    struct Registration {
        ClassesLayer layer;
        std::wstring modulePath;  // as ReadRegisteredModulePath reads it, never ""
    };
    std::vector<ClassesLayer> layers;         // the layers looked at
    std::vector<Registration> registrations;  // those whose registration names a module
    std::vector<std::wstring> files;          // files the removal would delete (its searches find them)
    std::vector<std::wstring> keys;           // its registration keys that are there, where they are
    int profilesNotLoaded = 0;                // with logged-on users: profiles that could not be looked at
};
// Looks without changing anything. Throws WindowsError as the removal would fail; `at` then says
// where (its step and subject; the result is the caller's to fill in).
ControlSurvey SurveyControl(RemovalFailure& at, bool loggedOnUsers);

// The control's registration keys that are there now, as ControlSurvey lists them.
std::vector<std::wstring> PresentRegistrationKeys(bool loggedOnUsers);
