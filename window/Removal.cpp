#include "window/Removal.h"

#include <cwctype>

#include "base/DecimalText.h"
#include "base/Errors.h"
#include "base/Unique.h"
#include "registry/Registry.h"
#include "window/Ending.h"
#include "window/MainWindow.h"
#include "window/Names.h"
#include "window/Texts.h"

std::vector<RegistryKey> RegistrationKeys() {
    std::vector<RegistryKey> keys;
    for (const wchar_t* suffix : Names::kClassKeySuffixes) {
        keys.push_back({Names::kClassesRoot, std::wstring(Names::kClassKey) + suffix});
    }
    for (const wchar_t* subkey : Names::kUnitSubkeys) {
        std::wstring path = Names::kUnitKey;
        if (*subkey) path.append(L"\\").append(subkey);
        keys.push_back({Names::kLocalMachine, path});
    }
    return keys;
}

std::vector<std::wstring> ControlFolders() {
    std::vector<std::wstring> folders = {Names::kSystemFolder, Names::kMakerFolder};
    for (int n = Names::kFirstConflictFolder; n <= Names::kLastConflictFolder; ++n) {
        folders.push_back(Names::kConflictFolderPrefix + DecimalText(n));
    }
    return folders;
}

std::wstring FirstPiece(const std::wstring& text, wchar_t separator) {
    return text.substr(0, text.find(separator));
}

bool IsControlModulePath(const std::wstring& path) {
    const std::wstring judged = FirstPiece(path, L'\0');
    if (judged.size() < 3 || !std::iswalpha(judged[0]) || judged[0] > 0x7F || judged[1] != L':' ||
        judged[2] != L'\\') {
        return false;
    }
    if (judged.find_first_of(L"*?") != std::wstring::npos) return false;
    const std::wstring leaf = judged.substr(judged.rfind(L'\\') + 1);
    return ::CompareStringOrdinal(leaf.c_str(), static_cast<int>(leaf.size()), Names::kModuleLeafName, -1, TRUE) ==
           CSTR_EQUAL;
}

std::wstring FindNormalFile(const std::wstring& path) {
    const std::wstring searched = FirstPiece(path, L'\0');
    if (searched.empty()) return L"";
    WIN32_FIND_DATAW found{};
    UniqueFind search(::FindFirstFileW(searched.c_str(), &found));
    if (search.Get() == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_NO_MORE_FILES) {
            return L"";
        }
        throw Win32Error("FindFirstFileW", error);
    }
    constexpr DWORD kNotNormal = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;
    do {
        if ((found.dwFileAttributes & kNotNormal) == 0) return found.cFileName;
    } while (::FindNextFileW(search.Get(), &found));
    const DWORD error = ::GetLastError();
    if (error != ERROR_NO_MORE_FILES) throw Win32Error("FindNextFileW", error);
    return L"";
}

Microsoft::WRL::ComPtr<IDispatch> CreateFileSystemObject() {
    CLSID classId{};
    ThrowIfFailed(::CLSIDFromProgID(Names::kFileSystemProgId, &classId), "CLSIDFromProgID");
    Microsoft::WRL::ComPtr<IDispatch> object;
    ThrowIfFailed(::CoCreateInstance(classId, nullptr, CLSCTX_SERVER, IID_PPV_ARGS(&object)), "CoCreateInstance");
    return object;
}

void InvokeDeleteFile(IDispatch* fileSystem, const std::wstring& path) {
    OLECHAR* name = const_cast<OLECHAR*>(Names::kDeleteFileMethod);
    DISPID method = DISPID_UNKNOWN;
    ThrowIfFailed(fileSystem->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &method), "GetIDsOfNames");

    UniqueBstr argument(::SysAllocStringLen(path.data(), static_cast<UINT>(path.size())));
    if (!argument) throw ComError("SysAllocStringLen", E_OUTOFMEMORY);
    BSTR byReference = argument.Get();
    VARIANTARG arguments[1];
    ::VariantInit(&arguments[0]);
    arguments[0].vt = VT_BSTR | VT_BYREF;
    arguments[0].pbstrVal = &byReference;
    DISPPARAMS parameters{arguments, nullptr, 1, 0};

    UniqueVariant result;
    EXCEPINFO exception{};
    const HRESULT hr = fileSystem->Invoke(method, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters,
                                          result.Put(), &exception, nullptr);
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrHelpFile);
    ThrowIfFailed(hr, "FileSystemObject.DeleteFile");
}

void DeleteFileIfPresent(IDispatch* fileSystem, const std::wstring& path) {
    // How Windows' own object reads a BSTR with a NUL inside is not documented; it never gets one.
    const std::wstring searched = FirstPiece(path, L'\0');
    if (!FindNormalFile(searched).empty()) InvokeDeleteFile(fileSystem, searched);
}

void MainWindow::DeleteControlFiles(const std::wstring& folder) {
    DeleteFileIfPresent(m_fileDeleter.Get(), folder + Names::kModuleFileName);
    DeleteFileIfPresent(m_fileDeleter.Get(), folder + Names::kSetupFileName);
}

// Delete: confirm, find the registration, delete the files, then the keys, report and end.
// Any failure shows the warning and leaves the window open; what was deleted stays deleted.
void MainWindow::OnDeleteClick() {
    try {
        m_fileDeleter = CreateFileSystemObject();
        if (ShowMessage(Texts::kConfirm, MB_OKCANCEL) != IDOK) return;

        LONG openResult = ERROR_SUCCESS;
        const std::wstring modulePath =
            Registry::ReadRegistryValue(Names::kClassesRoot, Names::kModulePathKey, L"", &openResult).ToText();
        // A registration we may not open is there all the same: say so, rather than "not found".
        if (openResult == ERROR_ACCESS_DENIED) throw Win32Error("RegOpenKeyExA", static_cast<DWORD>(openResult));
        if (modulePath.empty()) {
            ShowMessage(Texts::kNotRegistered, MB_OK);
            UnloadAndEnd(m_hwnd);
        }

        // Any program of the user can write a class registration; only the control's own module is deleted.
        const std::wstring registeredModule = FirstPiece(modulePath, L',');
        if (IsControlModulePath(registeredModule)) DeleteFileIfPresent(m_fileDeleter.Get(), registeredModule);
        for (const std::wstring& folder : ControlFolders()) DeleteControlFiles(folder);
        for (const RegistryKey& key : RegistrationKeys()) Registry::DeleteRegistryKey(key.root, key.path);

        ShowMessage(Texts::kRemoved, MB_OK);
        UnloadAndEnd(m_hwnd);
    } catch (...) {
        ShowMessage(Texts::kRemovalFailed, MB_OK | MB_ICONEXCLAMATION);
    }
}
