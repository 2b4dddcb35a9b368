#pragma once
// What the end-to-end scenarios of the removal share, in the window (removal_test.cpp) and through
// the console companion (console_test.cpp): a fixture that plants, beside each scenario's own
// installation, canary files, sentinel keys and a 64-bit copy of the control, and checks when the
// scenario ends that the removal left them all alone; checks of files and keys; and a run of the
// console companion as a deployment system runs it.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/Text.h"
#include "support/Driver.h"
#include "support/Expected.h"
#include "support/Installation.h"

namespace Scenario {

using Expected::Key;

inline void ExpectFiles(const std::vector<std::wstring>& files, bool present, const char* what) {
    for (const std::wstring& file : files) {
        EXPECT_EQ(Installation::FileExists(file), present)
            << Installation::Show(file) << (present ? " is gone: " : " is left: ") << what;
    }
}

inline void ExpectKeys(const std::vector<Key>& keys, bool present, const char* what) {
    for (const Key& key : keys) {
        EXPECT_EQ(Installation::KeyExists(key), present)
            << Installation::Describe(key) << (present ? " is gone: " : " is left: ") << what;
    }
}

// A user who is logged on besides the one running the tests, with classes of their own.
inline const std::wstring kAlice = L"S-1-5-21-3623811015-3361044348-30300820-1013";

// `keys` without the two through which a layer loads the control: its ToolboxBitmap32 and InprocServer32.
inline std::vector<Key> WithoutWhatLoadsTheControl(std::vector<Key> keys) {
    const auto loads = [](const Key& key) {
        for (const std::wstring end : {L"\\ToolboxBitmap32", L"\\InprocServer32"}) {
            if (key.path.size() >= end.size() && key.path.compare(key.path.size() - end.size(), end.size(), end) == 0) {
                return true;
            }
        }
        return false;
    };
    keys.erase(std::remove_if(keys.begin(), keys.end(), loads), keys.end());
    return keys;
}

// A typical installation whose module in CONFLICT.50 is read-only: the file-system object refuses
// it, so a removal stops there.
struct ReadOnlyCopy {
    std::vector<std::wstring> files;   // the installation's files, in the order the removal meets them
    std::wstring readOnly;             // the read-only one
    std::vector<std::wstring> before;  // the files the removal meets before it
    std::vector<std::wstring> from;    // it, and the files after it
};
inline ReadOnlyCopy PlantInstallationWithAReadOnlyCopy() {
    ReadOnlyCopy planted{Installation::PlantInstallation(), Expected::ModuleIn(Expected::ConflictFolder(50)), {}, {}};
    const auto at = std::find(planted.files.begin(), planted.files.end(), planted.readOnly);
    if (at == planted.files.end() || !::SetFileAttributesW(planted.readOnly.c_str(), FILE_ATTRIBUTE_READONLY)) {
        throw Installation::HarnessError("making " + Installation::Show(planted.readOnly) + " read-only");
    }
    planted.before.assign(planted.files.begin(), at);
    planted.from.assign(at, planted.files.end());
    return planted;
}

// Every scenario plants canaries, sentinels and the 64-bit copy first, and checks them at its end.
class WithBystanders : public ::testing::Test {
protected:
    void SetUp() override {
        m_canaries = Installation::PlantCanaryFiles();
        m_sentinels = Installation::PlantSentinelKeys();
        m_bystanders = Installation::Plant64BitBystanders();
    }

    // A tool built 64-bit would look in the 64-bit views, and delete these instead.
    void TearDown() override {
        ExpectFiles(m_canaries, true, "a canary");
        for (const Key& sentinel : m_sentinels) {
            EXPECT_TRUE(Installation::SentinelIntact(sentinel)) << Installation::Describe(sentinel);
        }
        ExpectFiles(m_bystanders, true, "the 64-bit copy is not the control the tool removes");
        ExpectKeys(Installation::RegistrationKeysIn64BitView(), true, "the 64-bit registration is not the control's");
    }

    std::vector<std::wstring> m_canaries;
    std::vector<Key> m_sentinels;
    std::vector<std::wstring> m_bystanders;
};

// One run of the console companion: its exit code and its output as lines. The output must be UTF-8
// (it is redirected to a pipe, as deployment systems capture it).
struct ConsoleResult {
    DWORD exitCode = STILL_ACTIVE;
    std::string bytes;
    std::vector<std::wstring> lines;
    bool Has(const std::wstring& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
    // A line that begins with `start`, whatever the case of its letters: for lines that name keys, whose
    // names the registry keeps as they were first written, and end in the system's text of an error.
    bool HasStartIgnoringCase(const std::wstring& start) const {
        return std::any_of(lines.begin(), lines.end(), [&](const std::wstring& line) {
            return SameTextIgnoringCase(std::wstring_view(line).substr(0, start.size()), start);
        });
    }
    std::vector<std::wstring> Starting(const std::wstring& prefix) const {
        std::vector<std::wstring> found;
        for (const std::wstring& line : lines) {
            if (line.rfind(prefix, 0) == 0) found.push_back(line.substr(prefix.size()));
        }
        return found;
    }
};

// The companion's exit code and its output, read as lines.
inline ConsoleResult ReadConsoleOutput(DWORD exitCode, std::string output) {
    ConsoleResult result{exitCode, std::move(output), {}};
    const std::string& bytes = result.bytes;
    const int size = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                                           nullptr, 0);
    EXPECT_TRUE(size > 0 || bytes.empty()) << "the output is not UTF-8";
    std::wstring text(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), size);
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find(L"\r\n", start);
        EXPECT_NE(end, std::wstring::npos) << "a line does not end in CR LF";
        result.lines.push_back(text.substr(start, end - start));
        if (end == std::wstring::npos) break;
        start = end + 2;
    }
    return result;
}

// `elevated`: as SYSTEM or an elevated prompt runs it, which looks at the users logged on, too.
inline ConsoleResult RunConsole(const std::wstring& arguments, bool elevated = false) {
    const ConsoleRun run = RunConsoleProgram(ExeBesideThisProgram(L"Qelpad80RemoverCli.exe"), arguments, elevated);
    return ReadConsoleOutput(run.exitCode, run.output);
}

}  // namespace Scenario
