// Entry point of the console companion: the removal without a window, for deployment systems that
// run it unattended on many machines. One verb; its exit code says how it went (console/Commands.h).

#include <windows.h>

#include <exception>
#include <string>

#include "base/DllSearch.h"
#include "console/Commands.h"
#include "console/Output.h"
#include "console/Texts.h"

namespace {

ExitCode Run(int argc, wchar_t** argv, const Output& out, const Output& errors) {
    const std::wstring verb = argc == 2 ? argv[1] : L"";
    if (verb == L"check") return Check(out);
    if (verb == L"remove") return Remove(out);
    if (verb == L"--help" || verb == L"-h" || verb == L"/?") {
        out.Line(ConsoleTexts::kUsage);
        return ExitCode::NotRegistered;
    }
    errors.Line(ConsoleTexts::kUsageError + (argc < 2 ? std::wstring(L"no verb") : std::wstring(argv[1])) +
                (argc > 2 ? L" ..." : L""));
    errors.Line(ConsoleTexts::kUsage);
    return ExitCode::UsageError;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    RestrictDllSearchToSystemFolder();
    ::HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
    const Output out(STD_OUTPUT_HANDLE);
    const Output errors(STD_ERROR_HANDLE);
    try {
        return static_cast<int>(Run(argc, argv, out, errors));
    } catch (const std::exception& error) {
        const std::string what = error.what();
        errors.Line(std::wstring(ConsoleTexts::kFailed) + std::wstring(what.begin(), what.end()));
        return static_cast<int>(ExitCode::OtherFailure);
    }
}
