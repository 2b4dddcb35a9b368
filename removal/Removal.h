#pragma once
// The removal of the control, as the Delete button asks for it. It knows nothing of windows: the
// caller hands it the question to ask and turns the outcome into what the user is told.

#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <functional>

enum class RemovalOutcome {
    Cancelled,      // the confirmation was not given; nothing was looked up or deleted
    NotRegistered,  // the control's registration names no module; nothing was deleted
    Removed,        // every file that was there and every key were deleted
    Failed,         // something failed; what was deleted before stays deleted
};

// Makes a new file-system object in `fileDeleter` (the caller keeps it as long as it likes),
// asks `confirm`, finds the control's registration, deletes the registered module, the control's
// files in every folder and then its keys, children first. Any failure, also of the file-system
// object before the question, gives Failed; nothing is thrown.
RemovalOutcome RemoveControl(Microsoft::WRL::ComPtr<IDispatch>& fileDeleter,
                             const std::function<bool()>& confirm) noexcept;
