#pragma once
// The removal of the control, as the Delete button asks for it. It knows nothing of windows: the
// caller hands it the question to ask and turns the outcome into what the user is told.

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

enum class RemovalOutcome {
    Cancelled,      // the confirmation was not given; nothing was looked up or deleted
    NotRegistered,  // the control's registration names no module; nothing was deleted
    Removed,        // the files and keys were deleted, and the control is no longer registered
    Failed,         // something failed; what was deleted before stays deleted
};

// Where a removal stopped, for those who report it (the window tells the user one fixed text).
enum class RemovalStep {
    StartingCom,
    MakingFileSystemObject,
    ReadingRegistration,
    DeletingFile,            // its search included
    LookingForFile,          // a survey's search
    RemovingRegistration,    // the registration was still there after the last pass
};
struct RemovalFailure {
    RemovalStep step = RemovalStep::StartingCom;
    std::wstring subject;    // the path or key it was at ("" when none)
    HRESULT result = S_OK;   // why; S_OK when no call failed (a registration that stayed)
};

// The removal with the file-system object it deletes through, which it keeps from one run to the
// next until a new run makes a new one.
class ControlRemoval {
public:
    // `fileDeleted` hears of every file as it is deleted.
    explicit ControlRemoval(std::function<void(const std::wstring&)> fileDeleted = {});
    ~ControlRemoval();
    ControlRemoval(const ControlRemoval&) = delete;
    ControlRemoval& operator=(const ControlRemoval&) = delete;

    // Makes a new file-system object, asks `confirm`, finds the control's registration, deletes
    // the registered module, the control's files in every folder and then its keys, children
    // first; then reads the registration again, and while it is still there (a machine-wide one
    // that a per-user one hid) does all of that once more. Any failure, also of COM or of the
    // file-system object before the question, gives Failed; nothing is thrown.
    RemovalOutcome Run(const std::function<bool()>& confirm) noexcept;

    // Where the last run that failed stopped, and why.
    const RemovalFailure& LastFailure() const noexcept;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// The module path the control's registration names, "" when there is none: the default value of
// its ToolboxBitmap32 key, converted to text. Throws WindowsError when the key is there but may
// not be opened.
std::wstring ReadRegisteredModulePath();
// The key it reads, as "HKEY_CLASSES_ROOT\\...".
std::wstring ModulePathKeyName();

// What of the control is on the machine now, as the removal finds it, in the order it meets it.
struct ControlSurvey {
    std::wstring modulePath;             // as ReadRegisteredModulePath reads it; "" when not registered
    std::wstring registeredModule;       // the path the removal takes from it (RegisteredModule)
    bool registeredModuleIsControls = false;  // it names the control's module, so the removal deletes it
    std::vector<std::wstring> files;     // files the removal would delete (its searches find them)
    std::vector<std::wstring> keys;      // its registration keys that are there, "HKEY_...\path"
};
// Looks without changing anything. Throws WindowsError as the removal would fail; `at` then says
// where (its step and subject; the result is the caller's to fill in).
ControlSurvey SurveyControl(RemovalFailure& at);

// The control's registration keys that are there now, as ControlSurvey lists them.
std::vector<std::wstring> PresentRegistrationKeys();
