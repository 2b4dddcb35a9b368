#pragma once
// How the removal finds and deletes a file: a directory search first, then DeleteFile on the
// file-system object, which is the only thing that deletes.

#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <string>

// The directory search for one path with the mask for normal files: the file name when an
// ordinary file (read-only and archive included) is there, "" otherwise. Hidden and system
// files and folders are not found. The path counts up to its first NUL. Throws Win32Error
// when the search itself fails.
std::wstring FindNormalFile(const std::wstring& path);

// A new file-system object by ProgID. Throws ComError.
Microsoft::WRL::ComPtr<IDispatch> CreateFileSystemObject();

// Calls DeleteFile on the file-system object by name, with the path as a string by reference.
// Throws ComError when the object refuses.
void InvokeDeleteFile(IDispatch* fileDeleter, const std::wstring& path);

// Deletes the file at `path` through the file-system object when the search finds an ordinary
// file there. Both judge the path up to its first NUL: DeleteFile gets exactly the path that was
// searched, never what a NUL stored in the registry hides after it.
void DeleteFileIfPresent(IDispatch* fileDeleter, const std::wstring& path);

// Deletes the control's module and then its setup file from `folder`, each where it is present.
void DeleteControlFiles(IDispatch* fileDeleter, const std::wstring& folder);
