// The directory search before every deletion, and DeleteFile called on the file-system object.

#include "removal/FileDeletion.h"

#include "base/Errors.h"
#include "base/Unique.h"
#include "removal/Names.h"
#include "removal/RemovalPlan.h"

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

void InvokeDeleteFile(IDispatch* fileDeleter, const std::wstring& path) {
    OLECHAR* name = const_cast<OLECHAR*>(Names::kDeleteFileMethod);
    DISPID method = DISPID_UNKNOWN;
    ThrowIfFailed(fileDeleter->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &method), "GetIDsOfNames");

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
    const HRESULT hr = fileDeleter->Invoke(method, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters,
                                           result.Put(), &exception, nullptr);
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrHelpFile);
    ThrowIfFailed(hr, "FileSystemObject.DeleteFile");
}

void DeleteFileIfPresent(IDispatch* fileDeleter, const std::wstring& path) {
    // How Windows' own object reads a BSTR with a NUL inside is not documented; it never gets one.
    const std::wstring searched = FirstPiece(path, L'\0');
    if (!FindNormalFile(searched).empty()) InvokeDeleteFile(fileDeleter, searched);
}

void DeleteControlFiles(IDispatch* fileDeleter, const std::wstring& folder) {
    DeleteFileIfPresent(fileDeleter, folder + Names::kModuleFileName);
    DeleteFileIfPresent(fileDeleter, folder + Names::kSetupFileName);
}
