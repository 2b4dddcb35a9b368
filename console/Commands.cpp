// check and remove: the removal's own survey and run, told in lines.

#include "console/Commands.h"

#include <olectl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/Errors.h"
#include "base/Text.h"
#include "console/Texts.h"
#include "removal/Removal.h"

namespace {

using namespace ConsoleTexts;

// "error 0x80070005: Access is denied." (the system's text in English where it has one).
std::wstring DescribeResult(HRESULT result) {
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring text = L"0x";
    for (int shift = 28; shift >= 0; shift -= 4) text += digits[(static_cast<unsigned long>(result) >> shift) & 0xF];
    const DWORD code = HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result) : static_cast<DWORD>(result);
    wchar_t* message = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    DWORD length = ::FormatMessageW(flags, nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                    reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    if (length == 0) {
        length = ::FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    }
    std::wstring said = length ? std::wstring(message, length) : L"";
    ::LocalFree(message);
    while (!said.empty() && (said.back() == L'\r' || said.back() == L'\n' || said.back() == L' ')) said.pop_back();
    return said.empty() ? text : text + L": " + said;
}

const wchar_t* StepText(RemovalStep step) {
    switch (step) {
    case RemovalStep::StartingCom: return kStartingCom;
    case RemovalStep::MakingFileSystemObject: return kMakingFileSystemObject;
    case RemovalStep::ReadingRegistration: return kReadingRegistration;
    case RemovalStep::DeletingFile: return kDeletingFile;
    case RemovalStep::LookingForFile: return kLookingForFile;
    case RemovalStep::RemovingRegistration: return kRemovingRegistration;
    }
    return L"";
}

ExitCode CodeFor(HRESULT result) {
    if (result == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED) || result == CTL_E_PERMISSIONDENIED) return ExitCode::AccessDenied;
    if (result == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION) || result == HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION)) {
        return ExitCode::FileInUse;
    }
    return ExitCode::OtherFailure;
}

// The failure line, the advice that goes with it, and the exit code.
ExitCode ReportFailure(const Output& out, const RemovalFailure& failure) {
    std::wstring line = std::wstring(kFailed) + StepText(failure.step) + failure.subject;
    line += failure.result == S_OK ? kStillThere : kError + DescribeResult(failure.result);
    out.Line(line);
    const ExitCode code = failure.result == S_OK ? ExitCode::OtherFailure : CodeFor(failure.result);
    if (code == ExitCode::AccessDenied) out.Line(kAdviceAccessDenied);
    if (code == ExitCode::FileInUse) out.Line(kAdviceInUse);
    return code;
}

}  // namespace

ExitCode Check(const Output& out) {
    ControlSurvey survey;
    RemovalFailure at;
    try {
        survey = SurveyControl(at);
    } catch (const WindowsError& error) {
        at.result = error.Result();
        return ReportFailure(out, at);
    }
    const bool registered = !survey.modulePath.empty();
    const std::wstring prefix = registered ? L"" : kLeftover;
    if (registered) {
        out.Line(kRegistered + FirstPiece(survey.modulePath, L'\0'));
        out.Line(kModule + survey.registeredModule + (survey.registeredModuleIsControls ? L"" : kNotTheControlsModule));
    } else {
        out.Line(kNotRegisteredLine);
    }
    for (const std::wstring& file : survey.files) out.Line(prefix + kFile + file);
    for (const std::wstring& key : survey.keys) out.Line(prefix + kKey + key);
    if (registered) {
        out.Line(kCheckRegistered);
        return ExitCode::Registered;
    }
    out.Line(survey.files.empty() && survey.keys.empty() ? kCheckNotRegistered : kCheckLeftovers);
    return ExitCode::NotRegistered;
}

ExitCode Remove(const Output& out) {
    // The keys are deleted without a word from the registry: the ones there before and gone after
    // are the ones deleted.
    const std::vector<std::wstring> keysBefore = PresentRegistrationKeys();
    ControlRemoval removal([&out](const std::wstring& file) { out.Line(kDeletedFile + file); });
    const RemovalOutcome outcome = removal.Run([] { return true; });
    const std::vector<std::wstring> keysAfter = PresentRegistrationKeys();
    for (const std::wstring& key : keysBefore) {
        if (std::find(keysAfter.begin(), keysAfter.end(), key) == keysAfter.end()) out.Line(kDeletedKey + key);
    }
    switch (outcome) {
    case RemovalOutcome::Removed: out.Line(kRemoved); return ExitCode::NotRegistered;
    case RemovalOutcome::NotRegistered: out.Line(kNothingToRemove); return ExitCode::NotRegistered;
    case RemovalOutcome::Cancelled:
    case RemovalOutcome::Failed: break;
    }
    const ExitCode code = ReportFailure(out, removal.LastFailure());
    out.Line(kNotRemoved);
    return code;
}
