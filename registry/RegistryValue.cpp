// A registry value as the removal reads it: as text.

#include "registry/RegistryValue.h"

#include "base/Text.h"

std::wstring RegistryValue::ToText() const {
    if (IsText()) return AsText();
    if (IsInteger()) return DecimalText(AsInteger());
    return {};
}
