#pragma once
// The console companion's two verbs and their exit codes: the program's one list of them (the one
// for people is deployment.md, released beside it).

#include "console/Output.h"

enum class ExitCode : int {
    NotRegistered = 0,  // check: nothing to do; remove: no layer looked at loads the control afterwards
    Registered = 1,     // check: the control is registered; remove acts on it
    UsageError = 2,     // nothing was done
    AccessDenied = 3,   // refused for a right, the place named: run it elevated, or as SYSTEM
    FileInUse = 4,      // close the browsers and retry
    OtherFailure = 5,   // named on its line; also: a key that loads the control stays, or a layer went
};

// Both verbs report every failure in their lines and exit code; they throw only for memory.

// Lists what each layer looked at registers and every present place of the control, one line
// each. Elevated or as SYSTEM the layers include the classes of every user logged on now.
ExitCode Check(const Output& out);
// Removes the control as the window does after OK, and says line by line what the removal did, what
// it left and how it ended.
ExitCode Remove(const Output& out);
