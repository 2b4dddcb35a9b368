#pragma once
// The pieces of the removal that need no window: what it deletes, in which order,
// and how it finds and deletes a file.

#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <string>
#include <vector>

struct RegistryKey {
    HKEY root;
    std::wstring path;
};

// The nineteen registration keys, in the order they are deleted: children before parents.
std::vector<RegistryKey> RegistrationKeys();

// The folders the control's two files are deleted from, in order: the system folder,
// the maker's folder, then CONFLICT.1 to CONFLICT.100 of the download cache.
std::vector<std::wstring> ControlFolders();

// The text before the first `separator`, or all of it when there is none.
std::wstring FirstPiece(const std::wstring& text, wchar_t separator);

// True when a registered module path (judged up to its first NUL) is a fully qualified
// local path whose last component is the control's module, without wildcards.
bool IsControlModulePath(const std::wstring& path);

// The directory search for one path with the mask for normal files: the file name when an
// ordinary file (read-only and archive included) is there, "" otherwise. Hidden and system
// files and folders are not found. The path counts up to its first NUL. Throws Win32Error
// when the search itself fails.
std::wstring FindNormalFile(const std::wstring& path);

// A new file-system object by ProgID. Throws ComError.
Microsoft::WRL::ComPtr<IDispatch> CreateFileSystemObject();

// Calls DeleteFile on the file-system object by name, with the path as a string by reference.
// Throws ComError when the object refuses.
void InvokeDeleteFile(IDispatch* fileSystem, const std::wstring& path);

// Deletes the file at `path` through the file-system object when the search finds an ordinary
// file there. Both judge the path up to its first NUL: DeleteFile gets exactly the path that was
// searched, never what a NUL stored in the registry hides after it.
void DeleteFileIfPresent(IDispatch* fileSystem, const std::wstring& path);
