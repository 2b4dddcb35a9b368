#pragma once
// The console companion's two verbs and what their exit codes mean to a deployment system.

#include "console/Output.h"

enum class ExitCode : int {
    NotRegistered = 0,  // check: nothing to do; remove: not registered afterwards (removed, or nothing there)
    Registered = 1,     // check: the control is registered; remove acts on it
    UsageError = 2,     // nothing was done
    AccessDenied = 3,   // run it elevated, or as SYSTEM
    FileInUse = 4,      // close the browsers and retry
    OtherFailure = 5,
};

// Lists the registration in each layer looked at and every present place of the control, one line
// each. With `loggedOnUsers` the layers include the classes of every user logged on now.
ExitCode Check(const Output& out, bool loggedOnUsers);
// Removes the control as the window does after OK, and says what it deleted and how it ended.
ExitCode Remove(const Output& out, bool loggedOnUsers);
