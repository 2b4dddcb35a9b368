#pragma once
// The two ways the program ends.

#include <windows.h>

// Unloads the main window (the window and its controls are destroyed) and ends the process at once,
// exit code 0.
[[noreturn]] void UnloadAndEnd(HWND window) noexcept;

// Reports the error being handled, which no handler trapped, naming what failed and its code,
// and ends the process with exit code 1. Call it from a catch block.
[[noreturn]] void ReportUntrappedError(HWND owner) noexcept;
