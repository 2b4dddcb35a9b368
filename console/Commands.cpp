// check and remove: the removal's own survey and report, told in lines.

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

// "0x80070005: Access is denied." (the system's text in English where it has one).
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
    case RemovalStep::ListingLayers: return kListingLayers;
    case RemovalStep::ReadingRegistration: return kReadingRegistration;
    case RemovalStep::DeletingFile: return kDeletingFile;
    case RemovalStep::LookingForFile: return kLookingForFile;
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

// The advice that goes with an exit code, when there is one.
void Advise(const Output& out, ExitCode code) {
    if (code == ExitCode::AccessDenied) out.Line(kAdviceAccessDenied);
    if (code == ExitCode::FileInUse) out.Line(kAdviceInUse);
}

// The line of an error that stopped a survey or a removal, its advice, and its exit code.
ExitCode ReportStop(const Output& out, const RemovalFailure& failure) {
    const bool file = failure.step == RemovalStep::DeletingFile || failure.step == RemovalStep::LookingForFile;
    out.Line(kFailed + (StepText(failure.step) + (file ? FileLocation(failure.subject) : failure.subject)) + kError +
             DescribeResult(failure.result));
    const ExitCode code = CodeFor(failure.result);
    Advise(out, code);
    return code;
}

void ReportLayers(const Output& out, const std::vector<ClassesLayer>& layers) {
    std::wstring described;
    for (const ClassesLayer& layer : layers) described += (described.empty() ? L"" : kLayerSeparator) + layer.description;
    out.Line(kLookedAt + described);
}

// How many profiles could not be looked at, when some could not.
void ReportProfilesNotLoaded(const Output& out, int count) {
    if (count > 0) out.Line(kProfilesNotLoaded + DecimalText(count) + kProfilesNotLoadedAdvice);
}

// Why a file a registration names is left; `done`: said after the removal rather than before.
const wchar_t* Reason(FileLeft::Why why, bool done) {
    if (why == FileLeft::Why::NotTheControlsModule) return kNotTheControlsModule;
    return done ? kAnotherUsersFileLeft : kAnotherUsersModule;
}

// Each layer that loads the control, with its module path and the module it names.
void ReportRegistrations(const Output& out, const ControlSurvey& survey) {
    for (const LayerRegistration& registration : survey.registrations) {
        const std::wstring& description = registration.layer.description;
        if (!registration.hasModulePath) {
            out.Line(kRegistered + description + L": " + kNoModulePath);
            continue;
        }
        const ModulePath& path = registration.modulePath;
        out.Line(kRegistered + description + L": " + path.text);
        const auto left = std::find_if(survey.filesLeft.begin(), survey.filesLeft.end(), [&](const FileLeft& file) {
            return file.path == path.module && file.layer == description;
        });
        out.Line(kModule + path.module + (left != survey.filesLeft.end() ? Reason(left->why, false)
                                          : path.isControlModule     ? L""
                                                                     : kNotTheControlsModule));
    }
}

// What a run deleted and left, line by line, as the report has it.
void ReportDeletions(const Output& out, const RemovalReport& report) {
    for (const std::wstring& file : report.filesDeleted) out.Line(kDeletedFile + FileLocation(file));
    for (const FileLeft& file : report.filesLeft) out.Line(kLeftFile + file.path + Reason(file.why, true));
    for (const std::wstring& key : report.keysDeleted) out.Line(kDeletedKey + key);
    for (const KeyNotDeleted& key : report.keysNotDeleted) {
        out.Line(kNotDeletedKey + key.place +
                 (key.subkey.empty() ? kError + DescribeResult(HRESULT_FROM_WIN32(key.error)) : kHoldsSubkey + key.subkey));
    }
}

// Why a finished run is not a removal, line by line, and its exit code: a key refused for a right
// asks for one; a key kept by its subkey, or a layer that went, is another failure.
ExitCode ReportNotRemoved(const Output& out, const RemovalReport& report) {
    for (const std::wstring& key : report.stillLoading) out.Line(kFailed + (kRemovingRegistration + key) + kStillThere);
    for (const std::wstring& layer : report.notLookedAtAgain) out.Line(kFailed + (kLookingAgain + layer) + kNoLongerLoaded);
    const bool refused = std::any_of(report.keysNotDeleted.begin(), report.keysNotDeleted.end(), [](const KeyNotDeleted& key) {
        return key.error == ERROR_ACCESS_DENIED && key.subkey.empty();
    });
    const ExitCode code = refused ? ExitCode::AccessDenied : ExitCode::OtherFailure;
    Advise(out, code);
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
        // check only looks: a file in use is no reason to retry it, and 4 means that.
        const ExitCode code = ReportStop(out, at);
        return code == ExitCode::FileInUse ? ExitCode::OtherFailure : code;
    }
    ReportLayers(out, survey.layers);
    const bool registered = !survey.registrations.empty();
    if (registered) ReportRegistrations(out, survey);
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

ExitCode Remove(const Output& out) {
    ControlRemoval removal;
    const RemovalOutcome outcome = removal.Run([] { return true; });
    const RemovalReport& report = removal.Report();
    if (!report.layers.empty()) ReportLayers(out, report.layers);
    ReportDeletions(out, report);
    ReportProfilesNotLoaded(out, report.profilesNotLoaded);
    switch (outcome) {
    case RemovalOutcome::Removed:
        out.Line(report.profilesNotLoaded == 0 ? std::wstring(kRemoved)
                                               : kRemovedFromLayersLookedAt + DecimalText(report.profilesNotLoaded) +
                                                     kProfilesNotLookedAt);
        return ExitCode::NotRegistered;
    case RemovalOutcome::NotRegistered: out.Line(kNothingToRemove); return ExitCode::NotRegistered;
    case RemovalOutcome::Cancelled:
    case RemovalOutcome::Failed: break;
    }
    const ExitCode code = report.failure ? ReportStop(out, *report.failure) : ReportNotRemoved(out, report);
    out.Line(kNotRemoved);
    return code;
}
