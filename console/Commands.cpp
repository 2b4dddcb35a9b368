// check and remove: the removal's own survey and run, told in lines.

#include "console/Commands.h"

#include <olectl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/Errors.h"
#include "base/Text.h"
#include "console/Texts.h"
#include "removal/FileDeletion.h"
#include "removal/Removal.h"
#include "removal/RemovalPlan.h"

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

// The failure lines (one for each key that stays), the advice that goes with them, and the exit code.
ExitCode ReportFailure(const Output& out, const RemovalFailure& failure) {
    if (failure.step == RemovalStep::RemovingRegistration) {
        for (const std::wstring& key : failure.staying) out.Line(kFailed + (kRemovingRegistration + key) + kStillThere);
        return ExitCode::OtherFailure;
    }
    const std::wstring subject = failure.step == RemovalStep::DeletingFile || failure.step == RemovalStep::LookingForFile
                                     ? FileLocation(failure.subject)
                                     : failure.subject;
    out.Line(kFailed + (StepText(failure.step) + subject) + kError + DescribeResult(failure.result));
    const ExitCode code = CodeFor(failure.result);
    if (code == ExitCode::AccessDenied) out.Line(kAdviceAccessDenied);
    if (code == ExitCode::FileInUse) out.Line(kAdviceInUse);
    return code;
}

// How many profiles could not be looked at, when some could not.
void ReportProfilesNotLoaded(const Output& out, int count) {
    if (count > 0) out.Line(kProfilesNotLoaded + DecimalText(count) + kProfilesNotLoadedAdvice);
}

}  // namespace

ExitCode Check(const Output& out, bool loggedOnUsers) {
    ControlSurvey survey;
    RemovalFailure at;
    try {
        survey = SurveyControl(at, loggedOnUsers);
    } catch (const WindowsError& error) {
        at.result = error.Result();
        // check only looks: a file in use is no reason to retry it, and 4 means that.
        const ExitCode code = ReportFailure(out, at);
        return code == ExitCode::FileInUse ? ExitCode::OtherFailure : code;
    }
    std::wstring layers;
    for (const ClassesLayer& layer : survey.layers) layers += (layers.empty() ? L"" : kLayerSeparator) + layer.description;
    out.Line(kLookedAt + layers);
    const bool registered = !survey.registrations.empty();
    for (const ControlSurvey::Registration& registration : survey.registrations) {
        const std::wstring module = RegisteredModule(registration.modulePath);
        out.Line(kRegistered + registration.layer.description + L": " + FirstPiece(registration.modulePath, L'\0'));
        out.Line(kModule + module + (IsControlModulePath(module) ? L"" : kNotTheControlsModule));
    }
    if (!registered) out.Line(kNotRegisteredLine);
    const std::wstring prefix = registered ? L"" : kLeftover;
    for (const std::wstring& file : survey.files) out.Line(prefix + kFile + FileLocation(file));
    for (const std::wstring& key : survey.keys) out.Line(prefix + kKey + key);
    ReportProfilesNotLoaded(out, survey.profilesNotLoaded);
    if (registered) {
        out.Line(kCheckRegistered);
        return ExitCode::Registered;
    }
    out.Line(survey.files.empty() && survey.keys.empty() ? kCheckNotRegistered : kCheckLeftovers);
    return ExitCode::NotRegistered;
}

ExitCode Remove(const Output& out, bool loggedOnUsers) {
    // The keys are deleted without a word from the registry: the ones there before and gone after
    // are the ones deleted.
    const std::vector<std::wstring> keysBefore = PresentRegistrationKeys(loggedOnUsers);
    ControlRemoval removal([&out](const std::wstring& file) { out.Line(kDeletedFile + FileLocation(file)); },
                           loggedOnUsers);
    const RemovalOutcome outcome = removal.Run([] { return true; });
    const std::vector<std::wstring> keysAfter = PresentRegistrationKeys(loggedOnUsers);
    for (const std::wstring& key : keysBefore) {
        if (std::find(keysAfter.begin(), keysAfter.end(), key) == keysAfter.end()) out.Line(kDeletedKey + key);
    }
    if (loggedOnUsers) ReportProfilesNotLoaded(out, ProfilesNotLoaded());
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
