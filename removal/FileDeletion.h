#pragma once
// How the removal finds and deletes a file: a directory search first, then DeleteFile on the
// scripting runtime's file-system object, which is the only thing that deletes.

#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <string>

// The directory search for one path with the mask for normal files: the file name when an
// ordinary file (read-only and archive included) is there, "" otherwise. Hidden and system
// files and folders are not found. Throws WindowsError when the search itself fails, and for a
// path that holds a NUL (ERROR_INVALID_NAME).
std::wstring FindNormalFile(const std::wstring& path);

// A new file-system object by ProgID. Throws WindowsError.
Microsoft::WRL::ComPtr<IDispatch> CreateFileSystemObject();

// Deletes through the file-system object rather than DeleteFileW: without its force argument it
// refuses read-only files, so a read-only copy stops the removal (the user is told to check the
// rights) instead of being deleted behind the user's back.
class FileDeleter {
public:
    explicit FileDeleter(Microsoft::WRL::ComPtr<IDispatch> fileSystem) noexcept;

    // Deletes the file at `path` when the search finds an ordinary file there; true when it did.
    // DeleteFile gets exactly the path that was searched. Throws WindowsError when the search or the
    // deletion fails; for a failed deletion, with the file system's reason where it can be told
    // (read-only, in use by another program, access denied).
    bool DeleteFileIfPresent(const std::wstring& path);

private:
    void InvokeDeleteFile(const std::wstring& path);

    Microsoft::WRL::ComPtr<IDispatch> m_fileSystem;
};
