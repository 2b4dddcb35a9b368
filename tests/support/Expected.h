#pragma once
// What the tests, the demo and the benchmark expect of the tool: every text a person reads, and
// every key, folder and file of the control, in the order the removal meets them. Written out here,
// independently of the program (which keeps its own in window/Texts.h and removal/Names.h), so that
// the tests check the program rather than repeat it.

#include <windows.h>

#include <string>
#include <vector>

namespace Expected {

// ---- Texts ----

inline constexpr wchar_t kAppTitle[] = L"删除控件";  // the title of every message box
inline constexpr wchar_t kWindowTitle[] = L"QelpadRemover - Tavrex安全登录控件删除工具(TAVREX.COM) - Ver0.1";
inline constexpr wchar_t kNotice[] =
    L"1）本工具将\"Tavrex安全登录控件\"从您的机器中彻底删除，不会破坏您的系统的任何部\r\n"
    L"分。如果对此有任何疑问，请致电Tavrex咨询。\r\n"
    L"\r\n"
    L"2）为防止其他人冒用我公司的名义，创建恶意的应用程序，您必须确保本程序是从Tavrex\r\n"
    L"网站（www.tavrex.com）下载得到的，执行完本程序，请将本程序彻底删除。\r\n"
    L"\r\n"
    L"3）您必须有其卸载程序和删除文件的权限。如果这不是您的机器，请不要执行删除操作。\r\n"
    L"\r\n"
    L"4）执行删除之前，请首先关闭所有打开的浏览器。";
inline constexpr wchar_t kPrompt[] = L"您已经确定阅读并理解上述的声明，方可按下面的【删除】按钮，执行删除操作：";
inline constexpr wchar_t kCompany[] = L"Tavrex有限公司";
inline constexpr wchar_t kDeleteButton[] = L"【删除】";
inline constexpr wchar_t kCloseButton[] = L"关闭";
inline constexpr wchar_t kNoticeFrame[] = L"使用前请详细阅读下面的声明：";
// The window's design texts, which nobody may ever see.
inline constexpr const wchar_t* kDesignTexts[] = {L"Tavrex安全控件删除工具", L"Label1", L"Label2", L"Label3"};

inline constexpr wchar_t kConfirm[] = L"\r\n您确定要删除Tavrex安全登录控件吗？\r\n";
inline constexpr wchar_t kNotRegistered[] = L"未在你的计算机上发现Tavrex安全登录控件";
inline constexpr wchar_t kRemoved[] = L"删除成功，谢谢您的使用";
inline constexpr wchar_t kFailed[] = L"\r\n删除失败，请检查是否有权限或者正在使用！";

// ---- The control on the machine ----

inline constexpr wchar_t kClassKey[] = L"CLSID\\{3F6B2C81-7D4E-4A19-9C05-62E8B1D4A7F3}";
inline constexpr wchar_t kModulePathKey[] = L"CLSID\\{3F6B2C81-7D4E-4A19-9C05-62E8B1D4A7F3}\\ToolboxBitmap32";
inline constexpr wchar_t kUnitKey[] =
    L"SOFTWARE\\Microsoft\\Code Store Database\\Distribution Units\\{3F6B2C81-7D4E-4A19-9C05-62E8B1D4A7F3}";

inline constexpr wchar_t kModuleName[] = L"Qelpad80.dll";
inline constexpr wchar_t kSetupName[] = L"Kest.inf";
inline constexpr wchar_t kSystemFolder[] = L"C:\\WINDOWS\\system32";
inline constexpr wchar_t kMakerFolder[] = L"C:\\WINDOWS\\system32\\Morvex";
inline constexpr wchar_t kDownloadFolder[] = L"C:\\WINDOWS\\Downloaded Program Files";

struct Key {
    HKEY root;
    std::wstring path;
    REGSAM view = 0;  // 0: this program's own (32-bit) view; KEY_WOW64_64KEY: the 64-bit one
};

// Where a layer's classes are, as the tests plant them: the machine's through HKEY_CLASSES_ROOT, which
// in a 32-bit process leads below HKLM\Software\Classes\Wow6432Node; the running user's and a logged-on
// user's (loaded as HKEY_USERS\<SID>_Classes) named at the place 64-bit Windows keeps a 32-bit class,
// their Wow6432Node key, in the 64-bit view.
struct Classes {
    HKEY root;
    std::wstring prefix;  // what comes before "CLSID\\..."
    REGSAM view = 0;
};
inline const Classes kMachineClasses{HKEY_CLASSES_ROOT, L""};
inline const Classes kUserClasses{HKEY_CURRENT_USER, L"Software\\Classes\\Wow6432Node\\", KEY_WOW64_64KEY};
inline Classes LoggedOnUserClasses(const std::wstring& sid) {
    return {HKEY_USERS, sid + L"_Classes\\Wow6432Node\\", KEY_WOW64_64KEY};
}

// The fourteen keys of the class registration in `classes`, in the order they are deleted: children
// before parents.
inline std::vector<Key> ClassKeys(const Classes& classes = kMachineClasses) {
    const wchar_t* const subkeys[] = {
        L"\\VersionIndependentProgID",
        L"\\Version",
        L"\\TypeLib",
        L"\\ToolboxBitmap32",
        L"\\Programmable",
        L"\\ProgID",
        L"\\MiscStatus\\1",
        L"\\MiscStatus",
        L"\\InprocServer32",
        L"\\Implemented Categories\\{7DD95802-9882-11CF-9FA9-00AA006C42C4}",
        L"\\Implemented Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}",
        L"\\Implemented Categories",
        L"\\Control",
        L"",  // the class key itself
    };
    std::vector<Key> keys;
    for (const wchar_t* subkey : subkeys) keys.push_back({classes.root, classes.prefix + kClassKey + subkey, classes.view});
    return keys;
}
inline Key ClassKey(const Classes& classes = kMachineClasses) {
    return {classes.root, classes.prefix + kClassKey, classes.view};
}
inline Key ModulePathKey(const Classes& classes = kMachineClasses) {
    return {classes.root, classes.prefix + kModulePathKey, classes.view};
}
inline Key InprocServerKey(const Classes& classes = kMachineClasses) {
    return {classes.root, classes.prefix + kClassKey + L"\\InprocServer32", classes.view};
}

// The five keys of the distribution unit below HKEY_LOCAL_MACHINE, in the order they are deleted.
inline std::vector<Key> UnitKeys() {
    const std::wstring u = kUnitKey;
    return {
        {HKEY_LOCAL_MACHINE, u + L"\\InstalledVersion"},
        {HKEY_LOCAL_MACHINE, u + L"\\DownloadInformation"},
        {HKEY_LOCAL_MACHINE, u + L"\\Contains\\Files"},
        {HKEY_LOCAL_MACHINE, u + L"\\Contains"},
        {HKEY_LOCAL_MACHINE, u},
    };
}

// The nineteen keys of an installation in the machine's classes, in the order they are deleted.
inline std::vector<Key> RegistrationKeys() {
    std::vector<Key> keys = ClassKeys();
    for (Key& key : UnitKeys()) keys.push_back(std::move(key));
    return keys;
}

// "C:\WINDOWS\Downloaded Program Files\CONFLICT.<n>"; `n` is written as given.
inline std::wstring ConflictFolder(const std::wstring& n) { return std::wstring(kDownloadFolder) + L"\\CONFLICT." + n; }
inline std::wstring ConflictFolder(int n) { return ConflictFolder(std::to_wstring(n)); }
inline std::wstring ModuleIn(const std::wstring& folder) { return folder + L"\\" + kModuleName; }
inline std::wstring SetupIn(const std::wstring& folder) { return folder + L"\\" + kSetupName; }

// The 102 folders the control's two files are deleted from, in order.
inline std::vector<std::wstring> ControlFolders() {
    std::vector<std::wstring> folders = {kSystemFolder, kMakerFolder};
    for (int n = 1; n <= 100; ++n) folders.push_back(ConflictFolder(n));
    return folders;
}

}  // namespace Expected
