// The directory search before every deletion, and DeleteFile called on the file-system object.

#include "removal/FileDeletion.h"

#include "base/Errors.h"
#include "base/Unique.h"
#include "removal/Names.h"

namespace {

// Why a deletion the file-system object refused failed, as far as the file system tells: its own
// error says "permission denied" alike for a read-only file, a file in use and a missing right.
HRESULT ReasonDeleteFailed(const std::wstring& path, HRESULT reported) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        return HRESULT_FROM_WIN32(ERROR_FILE_READ_ONLY);
    }
    // Opened for deletion, and for writing (which a DLL loaded by a browser refuses), sharing all.
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    for (const DWORD access : {DWORD{DELETE}, DWORD{DELETE | FILE_WRITE_DATA}}) {
        UniqueFile file(::CreateFileW(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED) {
                return HRESULT_FROM_WIN32(error);
            }
            break;
        }
    }
    return reported;
}

}  // namespace

std::wstring FindNormalFile(const std::wstring& path) {
    if (path.empty()) return L"";
    // No file's name holds a NUL; the search would stop at it and judge another path than it was given.
    if (path.find(L'\0') != std::wstring::npos) throw WindowsError::FromWin32("FindFirstFileW", ERROR_INVALID_NAME);
    WIN32_FIND_DATAW found{};
    UniqueFind search(::FindFirstFileW(path.c_str(), &found));
    if (!search) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_NO_MORE_FILES) {
            return L"";
        }
        throw WindowsError::FromWin32("FindFirstFileW", error);
    }
    constexpr DWORD kNotNormal = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;
    do {
        if ((found.dwFileAttributes & kNotNormal) == 0) return found.cFileName;
    } while (::FindNextFileW(search.Get(), &found));
    const DWORD error = ::GetLastError();
    if (error != ERROR_NO_MORE_FILES) throw WindowsError::FromWin32("FindNextFileW", error);
    return L"";
}

FileDeleter::FileDeleter(Microsoft::WRL::ComPtr<IDispatch> fileSystem) noexcept
    : m_fileSystem(std::move(fileSystem)) {}

Microsoft::WRL::ComPtr<IDispatch> CreateFileSystemObject() {
    CLSID classId{};
    ThrowIfFailed(::CLSIDFromProgID(Names::kFileSystemProgId, &classId), "CLSIDFromProgID");
    Microsoft::WRL::ComPtr<IDispatch> object;
    // In this process: the fixed paths lead to SysWOW64 only in a WoW64 process, and a local server
    // (a 64-bit process) would take them to the 64-bit system folder.
    ThrowIfFailed(::CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object)),
                  "CoCreateInstance");
    return object;
}

void FileDeleter::InvokeDeleteFile(const std::wstring& path) {
    OLECHAR* name = const_cast<OLECHAR*>(Names::kDeleteFileMethod);
    DISPID method = DISPID_UNKNOWN;
    ThrowIfFailed(m_fileSystem->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &method), "GetIDsOfNames");

    UniqueBstr argument(::SysAllocStringLen(path.data(), static_cast<UINT>(path.size())));
    if (!argument) throw WindowsError("SysAllocStringLen", E_OUTOFMEMORY);
    BSTR byReference = argument.Get();
    VARIANTARG arguments[1];
    ::VariantInit(&arguments[0]);
    arguments[0].vt = VT_BSTR | VT_BYREF;
    arguments[0].pbstrVal = &byReference;
    DISPPARAMS parameters{arguments, nullptr, 1, 0};

    UniqueVariant result;
    EXCEPINFO exception{};
    HRESULT hr = m_fileSystem->Invoke(method, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters,
                                      result.Put(), &exception, nullptr);
    if (hr == DISP_E_EXCEPTION && exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
    if (hr == DISP_E_EXCEPTION && FAILED(exception.scode)) hr = exception.scode;
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrHelpFile);
    // A by-reference argument may come back replaced, the callee having freed the string it was given:
    // what the reference holds now is ours to free, and only that.
    if (byReference != argument.Get()) {
        argument.Release();
        argument.Reset(byReference);
    }
    if (FAILED(hr)) throw WindowsError("FileSystemObject.DeleteFile", ReasonDeleteFailed(path, hr));
}

bool FileDeleter::DeleteFileIfPresent(const std::wstring& path) {
    if (FindNormalFile(path).empty()) return false;
    // The very path that was searched, which holds no NUL: how Windows' own object would read a BSTR
    // with a NUL inside is not documented.
    InvokeDeleteFile(path);
    return true;
}
