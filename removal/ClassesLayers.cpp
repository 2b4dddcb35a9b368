// The layers of classes: the machine's, the running user's, and those of the users logged on now.

#include "removal/ClassesLayers.h"

#include <algorithm>
#include <iterator>

#include "base/ProcessToken.h"
#include "base/Text.h"
#include "registry/Registry.h"
#include "removal/Names.h"

namespace {

const std::wstring kSuffix = Names::kLoadedClassesSuffix;

bool EndsWithLoadedClassesSuffix(const std::wstring& name) {
    return name.size() > kSuffix.size() &&
           SameTextIgnoringCase(std::wstring_view(name).substr(name.size() - kSuffix.size()), kSuffix);
}

// The SIDs whose classes are loaded below HKEY_USERS.
std::vector<std::wstring> LoadedClassesSids() {
    std::vector<std::wstring> sids;
    for (const std::wstring& name : Registry::SubkeyNames(Names::kUsers, L"")) {
        if (EndsWithLoadedClassesSuffix(name)) sids.push_back(name.substr(0, name.size() - kSuffix.size()));
    }
    return sids;
}

std::wstring ProfileFolder(const std::wstring& sid) {
    return Registry::ReadExpandedText(Names::kLocalMachine, std::wstring(Names::kProfileList) + L"\\" + sid,
                                      Names::kProfileFolderValue, KEY_WOW64_64KEY);
}

std::wstring UserDescription(const std::wstring& sid, const std::wstring& profileFolder) {
    std::wstring description = L"user " + sid;
    if (!profileFolder.empty()) description += L" (" + profileFolder + L")";
    return description;
}

// A 32-bit process on 64-bit Windows.
bool RunsUnderWow64() {
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

// The layer whose classes are `classes` below `root`, at the place that holds 32-bit classes.
ClassesLayer Layer(HKEY root, const std::wstring& classes, std::wstring loadedKey, LayerOwner owner,
                   std::wstring description) {
    const bool wow64 = RunsUnderWow64();
    return {root, wow64 ? classes + Names::kWow64Classes : classes, REGSAM{wow64 ? KEY_WOW64_64KEY : 0u},
            std::move(loadedKey), owner, std::move(description)};
}

}  // namespace

bool LooksAtOtherUsers() { return ProcessToken::IsSystemOrElevated(); }

std::vector<ClassesLayer> ClassesLayers() {
    const std::wstring ownSid = ProcessToken::UserSid();
    wchar_t ownProfile[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"USERPROFILE", ownProfile, MAX_PATH);
    std::vector<ClassesLayer> layers = {
        Layer(Names::kLocalMachine, Names::kMachineClasses, L"", LayerOwner::Machine, L"machine"),
        Layer(Names::kCurrentUser, Names::kUserClasses, L"", LayerOwner::RunningUser,
              UserDescription(ownSid, length > 0 && length < MAX_PATH ? std::wstring(ownProfile, length)
                                                                      : ProfileFolder(ownSid))),
    };
    if (!LooksAtOtherUsers()) return layers;
    for (const std::wstring& sid : LoadedClassesSids()) {
        // The running user's classes are those of HKEY_CURRENT_USER, already looked at.
        if (SameTextIgnoringCase(sid, ownSid)) continue;
        layers.push_back(Layer(Names::kUsers, sid + kSuffix, sid + kSuffix, LayerOwner::OtherUser,
                               UserDescription(sid, ProfileFolder(sid))));
    }
    return layers;
}

bool LayerIsLoaded(const ClassesLayer& layer) {
    return layer.loadedKey.empty() || Registry::KeyExists(layer.root, layer.loadedKey, KEY_WOW64_64KEY);
}

int ProfilesNotLoaded() {
    const std::wstring ownSid = ProcessToken::UserSid();
    const std::vector<std::wstring> loaded = LoadedClassesSids();
    int notLoaded = 0;
    for (const std::wstring& sid : Registry::SubkeyNames(Names::kLocalMachine, Names::kProfileList, KEY_WOW64_64KEY)) {
        const auto same = [&sid](const std::wstring& other) { return SameTextIgnoringCase(sid, other); };
        if (same(ownSid) || std::any_of(std::begin(Names::kServiceProfiles), std::end(Names::kServiceProfiles), same) ||
            std::any_of(loaded.begin(), loaded.end(), same)) {
            continue;
        }
        ++notLoaded;
    }
    return notLoaded;
}
