// Entry point of the console companion: the removal without a window, for deployment systems that
// run it unattended on many machines. One verb; its exit code says how it went (console/Commands.h).

#include <windows.h>

#include <csignal>
#include <exception>
#include <string>

#include "base/ProcessStart.h"
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

// Where every fault the companion did not expect ends: an exception that escaped, std::terminate
// (below), and abort() called by any module of the process. One line on standard error, and the exit
// code of another failure: abort() itself would end with 3, which reads as "access denied".
extern "C" void EndAfterAbort(int) {
    Output(STD_ERROR_HANDLE).Line(ConsoleTexts::kAborted);
    ::ExitProcess(static_cast<UINT>(ExitCode::OtherFailure));
}

}  // namespace

// What std::terminate does in the companion: abort(), which ends as above. This replaces libstdc++'s
// own handler, which would print the exception's name with a demangler the size of a fifth of the exe.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
}  // namespace __gnu_cxx

int wmain(int argc, wchar_t** argv) {
    PrepareProcess();
    std::signal(SIGABRT, EndAfterAbort);
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
