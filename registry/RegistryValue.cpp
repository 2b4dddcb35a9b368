#include "registry/RegistryValue.h"

std::wstring RegistryValue::ToText() const {
    if (IsText()) return AsText();
    if (IsInteger()) return std::to_wstring(AsInteger());
    return {};
}
