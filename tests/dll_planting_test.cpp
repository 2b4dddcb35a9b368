// DLL planting: users start the tool from their Downloads folder, where a web page may have dropped a
// DLL under the name of one the tool loads. The tool must take its DLLs from the system folder only.
//
// Under Wine a DLL beside an exe is taken only when Wine's load order names it native (as
// WINEDLLOVERRIDES or HKCU\Software\Wine\DllOverrides can), which makes the attack possible to
// stage. Observed with WINEDEBUG=+loaddll (Wine 10, 32-bit programs under WoW64), in the order the
// tool loads them:
//   - uxtheme.dll, which user32 loads by name when the first window is made. Without the tool's
//     restriction Wine looks for it beside the exe first (plain_window takes the planted copy);
//     with it, in the system folder only.
//   - comctl32.dll, by name as well, but the manifest redirects it to the side-by-side copy.
//   - scrrun.dll behind "Scripting.FileSystemObject" (Delete), by the full path of its registration.
// Out of reach of any code of the tool under Wine, and therefore not planted here:
//   - imm32.dll, which Wine's user32 loads while it is itself being loaded, before the tool's first
//     instruction (the tool's own imports are checked to be KnownDLLs by check_pe.py);
//   - msimg32.dll, an import of comctl32, which Wine 10 looks for with the search path the process
//     started with, whatever SetDefaultDllDirectories said since (Windows uses the default
//     directories for the imports of a DLL it loads, too);
//   - the display driver winex11.drv, which Wine 8 loaded by name from the tool's own code and
//     Wine 10 loads by its full path in the system folder.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/Driver.h"
#include "support/Expected.h"

namespace {

constexpr wchar_t kPlantedName[] = L"uxtheme.dll";
// Wine's load order names DLLs without ".dll".
constexpr wchar_t kLoadOrderName[] = L"uxtheme";
// Wine's own setting of the load order, read by every process it starts.
constexpr wchar_t kOverridesKey[] = L"Software\\Wine\\DllOverrides";
constexpr wchar_t kNativeFirst[] = L"native,builtin";

class DllPlanting : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        m_folder = std::wstring(temp) + L"Downloads-" + std::to_wstring(::GetCurrentProcessId());
        ASSERT_TRUE(::CreateDirectoryW(m_folder.c_str(), nullptr)) << "error " << ::GetLastError();
        Place(L"planted_dll.dll", kPlantedName);

        // The registry rather than WINEDLLOVERRIDES: Wine hands a child the variable of the Unix
        // environment it was started in, not the one of its Windows parent.
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kOverridesKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                    m_overrides.Put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExW(m_overrides.Get(), kLoadOrderName, 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(kNativeFirst), sizeof(kNativeFirst)),
                  ERROR_SUCCESS);
    }

    void TearDown() override {
        if (m_overrides) ::RegDeleteValueW(m_overrides.Get(), kLoadOrderName);
        for (const std::wstring& file : m_placed) ::DeleteFileW(file.c_str());
        ::DeleteFileW(Mark().c_str());
        ::RemoveDirectoryW(m_folder.c_str());
    }

    // Copies a file built beside the tests into the folder, under `name`; returns its new path.
    std::wstring Place(const wchar_t* built, const wchar_t* name) {
        const std::wstring target = m_folder + L"\\" + name;
        EXPECT_TRUE(::CopyFileW(ExeBesideThisProgram(built).c_str(), target.c_str(), FALSE))
            << "copying " << testing::PrintToString(std::wstring(built)) << ", error " << ::GetLastError();
        m_placed.push_back(target);
        return target;
    }

    std::wstring Mark() const { return m_folder + L"\\" + kPlantedName + L".loaded"; }
    bool PlantedDllWasLoaded() const { return ::GetFileAttributesW(Mark().c_str()) != INVALID_FILE_ATTRIBUTES; }

private:
    std::wstring m_folder;
    UniqueHKey m_overrides;
    std::vector<std::wstring> m_placed;
};

// The premise of the test below: in this Wine, with this override, a program that does not restrict
// its DLL search takes the planted copy. Were this to pass vacuously, so would the test of the tool.
TEST_F(DllPlanting, PlainProgramBesideThePlantedDllLoadsIt) {
    const std::wstring plain = Place(L"plain_window.exe", L"plain_window.exe");
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    std::wstring commandLine = L"\"" + plain + L"\"";
    ASSERT_TRUE(::CreateProcessW(plain.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &info))
        << "error " << ::GetLastError();
    UniqueHandle process(info.hProcess);
    ::CloseHandle(info.hThread);
    if (::WaitForSingleObject(process.Get(), kWaitMs) != WAIT_OBJECT_0) ::TerminateProcess(process.Get(), 1);

    EXPECT_TRUE(PlantedDllWasLoaded());
}

// Start-up makes the window (uxtheme), Delete creates the file-system object through COM;
// Cancel on the confirmation changes nothing. Through all of it the planted copy stays unloaded.
TEST_F(DllPlanting, ToolStartedBesideThePlantedDllNeverLoadsIt) {
    AppProcess app(Place(L"Qelpad80Remover.exe", L"Qelpad80Remover.exe"));
    EXPECT_FALSE(PlantedDllWasLoaded()) << "loaded at start-up";
    ASSERT_NE(app.MainWindow(), nullptr);

    PressButton(ChildWithText(app.MainWindow(), Expected::kDeleteButton));
    const HWND confirmation = app.WaitForMessageBox();
    ASSERT_NE(confirmation, nullptr);
    EXPECT_TRUE(AnswerMessageBox(confirmation, IDCANCEL));
    EXPECT_FALSE(PlantedDllWasLoaded()) << "loaded by Delete";

    PressButton(ChildWithText(app.MainWindow(), Expected::kCloseButton));
    EXPECT_EQ(app.WaitForExit(), 0u);
}

}  // namespace
