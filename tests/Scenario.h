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
    std::vector<std::wstring> Starting(const std::wstring& prefix) const {
        std::vector<std::wstring> found;
        for (const std::wstring& line : lines) {
            if (line.rfind(prefix, 0) == 0) found.push_back(line.substr(prefix.size()));
        }
        return found;
    }
};

// `elevated`: as SYSTEM or an elevated prompt runs it, which looks at the users logged on, too.
inline ConsoleResult RunConsole(const std::wstring& arguments, bool elevated = false) {
    const ConsoleRun run =
        RunConsoleProgram(ExeBesideThisProgram(L"Qelpad80RemoverCli.exe"), arguments, elevated);
    ConsoleResult result{run.exitCode, run.output, {}};
    const int size = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, run.output.data(),
                                           static_cast<int>(run.output.size()), nullptr, 0);
    EXPECT_TRUE(size > 0 || run.output.empty()) << "the output is not UTF-8";
    std::wstring text(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) {
        ::MultiByteToWideChar(CP_UTF8, 0, run.output.data(), static_cast<int>(run.output.size()), text.data(), size);
    }
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find(L"\r\n", start);
        EXPECT_NE(end, std::wstring::npos) << "a line does not end in CR LF";
        result.lines.push_back(text.substr(start, end - start));
        if (end == std::wstring::npos) break;
        start = end + 2;
    }
    return result;
}

}  // namespace Scenario
