#pragma once
// Who this process runs as, read from its token: the user's SID, and whether it may look at the
// classes of other users (they are readable by SYSTEM and by elevated administrators only). Neither
// throws but for memory: a token that cannot be read gives "" and false.

#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "base/Unique.h"

namespace ProcessToken {

namespace Detail {
inline UniqueHandle Open() {
    UniqueHandle token;
    HANDLE raw = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) token.Reset(raw);
    return token;
}
}  // namespace Detail

// The SID of the user this process runs as, as text ("S-1-5-21-..."); "" when it cannot be read.
inline std::wstring UserSid() {
    const UniqueHandle token = Detail::Open();
    DWORD size = 0;
    ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size ? size : 1);
    wchar_t* text = nullptr;
    if (!token || !::GetTokenInformation(token.Get(), TokenUser, user.data(), size, &size) ||
        !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text)) {
        return L"";
    }
    const std::wstring sid = text;
    ::LocalFree(text);
    return sid;
}

// True when this process runs as LocalSystem or with an elevated token.
inline bool IsSystemOrElevated() {
    const UniqueHandle token = Detail::Open();
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (token && ::GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof(elevation), &size) &&
        elevation.TokenIsElevated) {
        return true;
    }
    return UserSid() == L"S-1-5-18";
}

}  // namespace ProcessToken
