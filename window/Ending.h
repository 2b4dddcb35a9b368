#pragma once
// The two ways the program ends.

#include <windows.h>

// Unloads Form1 (the window and its controls are destroyed) and ends the process at once, exit code 0.
[[noreturn]] void UnloadAndEnd(HWND form) noexcept;

// Reports an error that no handler trapped, naming it (`description` may be null), and ends
// the process with exit code 1.
[[noreturn]] void ReportUntrappedError(HWND owner, const char* description) noexcept;
