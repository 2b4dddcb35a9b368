// Shows a new user a real removal in a throwaway Wine prefix.
//   removal_demo seed              plants a sample installation of the control
//   removal_demo report            prints which of its files and keys are there
//   removal_demo drive FOLDER      runs the tool, presses Delete, confirms, and saves a
//                                  screenshot (BMP) of the window and of each message box
// The demo has no test framework: it prints what it sees and exits non-zero when the
// removal did not go as a user would expect.

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const wchar_t kClassKey[] = L"CLSID\\{3F6B2C81-7D4E-4A19-9C05-62E8B1D4A7F3}";
const wchar_t kUnitKey[] =
    L"SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units\\{3F6B2C81-7D4E-4A19-9C05-62E8B1D4A7F3}";
const wchar_t* const kClassSubkeys[] = {
    L"\\VersionIndependentProgID", L"\\Version", L"\\TypeLib", L"\\Programmable", L"\\ProgID", L"\\MiscStatus\\1",
    L"\\InprocServer32", L"\\Implemented Categories\\{7DD95802-9882-11CF-9FA9-00AA006C42C4}",
    L"\\Implemented Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}", L"\\Control", L"\\ToolboxBitmap32"};
const wchar_t* const kUnitSubkeys[] = {L"\\InstalledVersion", L"\\DownloadInformation", L"\\Contains\\Files"};
const wchar_t kRegisteredModule[] = L"C:\\Program Files\\Tavrex\\Qelpad80.dll";

std::vector<std::wstring> SampleFiles() {
    std::vector<std::wstring> files = {kRegisteredModule};
    for (const wchar_t* folder : {L"C:\\WINDOWS\\system32", L"C:\\WINDOWS\\system32\\Morvex",
                                  L"C:\\WINDOWS\\Downloaded Program Files\\CONFLICT.1",
                                  L"C:\\WINDOWS\\Downloaded Program Files\\CONFLICT.2",
                                  L"C:\\WINDOWS\\Downloaded Program Files\\CONFLICT.100"}) {
        files.push_back(std::wstring(folder) + L"\\Qelpad80.dll");
        files.push_back(std::wstring(folder) + L"\\Kest.inf");
    }
    return files;
}

void Say(const std::wstring& text) {
    // UTF-8 on the console, whatever its code page.
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8.data(), size, nullptr, nullptr);
    std::fputs(utf8.c_str(), stdout);
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

void MakeFolders(const std::wstring& file) {
    for (std::size_t at = file.find(L'\\', 3); at != std::wstring::npos; at = file.find(L'\\', at + 1)) {
        ::CreateDirectoryW(file.substr(0, at).c_str(), nullptr);
    }
}

void SetDefault(HKEY root, const std::wstring& path, const std::wstring& value) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != 0) return;
    ::RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
}

int Seed() {
    for (const std::wstring& file : SampleFiles()) {
        MakeFolders(file);
        HANDLE handle = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    }
    for (const wchar_t* subkey : kClassSubkeys) SetDefault(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + subkey, L"");
    SetDefault(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\ToolboxBitmap32",
               std::wstring(kRegisteredModule) + L", 1");
    for (const wchar_t* subkey : kUnitSubkeys) SetDefault(HKEY_LOCAL_MACHINE, std::wstring(kUnitKey) + subkey, L"");
    return 0;
}

int Report() {
    int present = 0;
    for (const std::wstring& file : SampleFiles()) {
        const bool there = ::GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES;
        present += there;
        Say((there ? L"  file  present  " : L"  file  gone     ") + file);
    }
    struct RootedKey {
        HKEY root;
        const wchar_t* rootName;
        const wchar_t* path;
    };
    for (const RootedKey& k : {RootedKey{HKEY_CLASSES_ROOT, L"HKEY_CLASSES_ROOT\\", kClassKey},
                               RootedKey{HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE\\", kUnitKey}}) {
        HKEY key = nullptr;
        const bool there = ::RegOpenKeyExW(k.root, k.path, 0, KEY_READ, &key) == 0;
        if (there) ::RegCloseKey(key);
        present += there;
        Say((there ? L"  key   present  " : L"  key   gone     ") + std::wstring(k.rootName) + k.path);
    }
    return present;
}

// Saves what the screen shows of a window as a 24-bit BMP.
void SaveScreenshot(HWND hwnd, const std::wstring& file) {
    RECT rect{};
    ::GetWindowRect(hwnd, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    ::GdiFlush();
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u, size = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER header{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + size), 0,
                            0, sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
    HANDLE out = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(out, &header, sizeof(header), &written, nullptr);
    ::WriteFile(out, &info.bmiHeader, sizeof(info.bmiHeader), &written, nullptr);
    ::WriteFile(out, bits, size, &written, nullptr);
    ::CloseHandle(out);
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
}

struct Found {
    DWORD pid;
    bool messageBox;
    HWND hwnd;
};

HWND WaitForWindow(DWORD pid, bool messageBox) {
    for (int i = 0; i < 1500; ++i) {
        Found found{pid, messageBox, nullptr};
        ::EnumWindows(
            [](HWND hwnd, LPARAM lParam) WINAPI -> BOOL {
                auto* f = reinterpret_cast<Found*>(lParam);
                DWORD owner = 0;
                ::GetWindowThreadProcessId(hwnd, &owner);
                wchar_t name[16] = {};
                ::GetClassNameW(hwnd, name, 16);
                if (owner == f->pid && ::IsWindowVisible(hwnd) && (lstrcmpW(name, L"#32770") == 0) == f->messageBox) {
                    f->hwnd = hwnd;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&found));
        if (found.hwnd) return found.hwnd;
        ::Sleep(10);
    }
    return nullptr;
}

std::wstring Text(HWND hwnd) {
    wchar_t text[1024] = {};
    ::SendMessageTimeoutW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, nullptr);
    return text;
}

std::wstring MessageText(HWND box) {
    std::wstring text;
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[16] = {};
        ::GetClassNameW(child, name, 16);
        if (lstrcmpiW(name, L"Static") == 0) text += Text(child);
    }
    return text;
}

// Shows a message box, saves it, and answers it with OK.
bool ShotAndConfirm(DWORD pid, const std::wstring& file) {
    HWND box = WaitForWindow(pid, true);
    if (!box) return false;
    ::Sleep(300);  // let it paint
    SaveScreenshot(box, file);
    Say(L"  message box \"" + Text(box) + L"\": " + MessageText(box));
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(box, IDOK)));
    for (int i = 0; i < 500 && ::IsWindow(box); ++i) ::Sleep(10);
    return true;
}

int Drive(const std::wstring& folder) {
    wchar_t self[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring exe(self, length);
    exe = exe.substr(0, exe.rfind(L'\\')) + L"\\Qelpad80Remover.exe";
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        Say(L"could not start " + exe);
        return 2;
    }
    HWND main = WaitForWindow(process.dwProcessId, false);
    if (!main) return 3;
    ::Sleep(500);
    SaveScreenshot(main, folder + L"\\1-window.bmp");
    Say(L"  window \"" + Text(main) + L"\"");
    HWND deleteButton = ::FindWindowExW(main, nullptr, L"Button", L"【删除】");
    ::PostMessageW(deleteButton, BM_CLICK, 0, 0);
    if (!ShotAndConfirm(process.dwProcessId, folder + L"\\2-confirmation.bmp")) return 4;
    if (!ShotAndConfirm(process.dwProcessId, folder + L"\\3-outcome.bmp")) return 5;
    const bool ended = ::WaitForSingleObject(process.hProcess, 10000) == WAIT_OBJECT_0;
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process.hProcess, &exitCode);
    Say(ended ? L"  the tool ended with exit code " + std::to_wstring(exitCode) : L"  the tool is still running");
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return ended && exitCode == 0 ? 0 : 6;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring verb = argc > 1 ? argv[1] : L"";
    if (verb == L"seed") return Seed();
    if (verb == L"report") return Report() > 0 ? 1 : 0;
    if (verb == L"drive" && argc > 2) return Drive(argv[2]);
    Say(L"usage: removal_demo seed | report | drive FOLDER");
    return 2;
}
