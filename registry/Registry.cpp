// The registry routines: ANSI entry points only, each key opened and closed within one call.
// ANSI on purpose: the control registered itself through the ANSI functions, so reading through them
// gives back its paths in the code page it wrote them in, and the removal's own keys are ASCII.

#include "registry/Registry.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <string>

#include "base/Unique.h"
#include "registry/AnsiText.h"

namespace Registry {

namespace {

// The key handle of one call. It starts at 0 and is closed on every path, also when the open failed
// and it is still 0: that is how the routines have always closed their keys, and RegCloseKey(0)
// merely fails. (UniqueHKey closes only what it holds.)
class KeyHandle {
public:
    KeyHandle() = default;
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;
    ~KeyHandle() { ::RegCloseKey(m_key); }
    HKEY Get() const noexcept { return m_key; }
    HKEY* Address() noexcept { return &m_key; }

private:
    HKEY m_key{};
};

// REG_SZ: the buffer is as many zero bytes as the size query said. The data query may deliver
// no more than the buffer holds, even when the value grew in between. Reports by status only: a
// buffer that cannot be made is read as none, a text that cannot be converted leaves the output empty.
LONG ReadText(HKEY key, const std::string& name, DWORD size, RegistryValue& output) noexcept {
    std::string buffer;
    try {
        buffer.assign(size, '\0');
    } catch (const std::exception&) {  // no memory: the query below then asks for no bytes
    }
    DWORD type = 0;
    DWORD delivered = static_cast<DWORD>(buffer.size());
    const LONG status = ::RegQueryValueExA(key, name.c_str(), nullptr, &type,
                                           reinterpret_cast<BYTE*>(buffer.data()), &delivered);
    try {
        const std::wstring text = FromAnsi(buffer.data(), buffer.size());
        // As many characters as bytes were delivered, or all there are: a stored NUL stays at the end.
        output = status == ERROR_SUCCESS ? RegistryValue::Text(text.substr(0, std::min<std::size_t>(delivered,
                                                                                                   text.size())))
                                         : RegistryValue();
    } catch (const std::exception&) {  // the conversion failed: the output stays empty
    }
    return status;
}

// REG_DWORD: at most four bytes are asked for, so a longer value cannot write past the integer;
// it answers ERROR_MORE_DATA and leaves the output empty.
LONG ReadInteger(HKEY key, const std::string& name, DWORD size, RegistryValue& output) noexcept {
    std::int32_t number = 0;
    DWORD type = 0;
    DWORD capacity = std::min<DWORD>(size, sizeof(number));
    const LONG status = ::RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&number),
                                           &capacity);
    if (status == ERROR_SUCCESS) output = RegistryValue::Integer(number);
    return status;
}

}  // namespace

RegistryValue ReadRegistryValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName, REGSAM view,
                                LONG* openResult) {
    KeyHandle key;
    RegistryValue value;
    const LONG opened = ::RegOpenKeyExA(root, ToAnsi(keyPath).c_str(), 0, kKeyAccess | view, key.Address());
    if (openResult) *openResult = opened;
    ReadValueFromOpenKey(key.Get(), valueName, value);
    return value;
}

LONG ReadValueFromOpenKey(HKEY key, std::wstring valueName, RegistryValue& output) noexcept {
    DWORD type = 0;
    DWORD size = 0;
    std::string name;
    try {
        name = ToAnsi(valueName);
        // A failed size query leaves the type at 0, which reads nothing.
        if (::RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) type = 0;
    } catch (const std::exception&) {  // a name that cannot be converted reads nothing
    }
    switch (type) {
    case REG_SZ: return ReadText(key, name, size, output);
    case REG_DWORD: return ReadInteger(key, name, size, output);
    default: return kUnreadType;
    }
}

LONG DeleteRegistryKey(HKEY root, const std::wstring& keyPath, REGSAM view) {
    KeyHandle key;
    const std::string path = ToAnsi(keyPath);
    ::RegOpenKeyExA(root, path.c_str(), 0, kKeyAccess | view, key.Address());
    // The delete names the whole path below the root, in the same view; the key is still held open
    // meanwhile.
    return ::RegDeleteKeyExA(root, path.c_str(), view, 0);
}

bool KeyExists(HKEY root, const std::wstring& keyPath, REGSAM view) {
    UniqueHKey key;
    const LONG opened = ::RegOpenKeyExW(root, keyPath.c_str(), 0, KEY_QUERY_VALUE | view, key.Put());
    return opened == ERROR_SUCCESS || opened == ERROR_ACCESS_DENIED;
}

}  // namespace Registry
