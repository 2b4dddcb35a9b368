#pragma once
// The result of a registry read: empty, text or a signed 32-bit integer. Nothing here throws but for
// memory (and AsText or AsInteger asked of another state, std::bad_variant_access).

#include <cstdint>
#include <string>
#include <variant>

class RegistryValue {
public:
    RegistryValue() = default;
    static RegistryValue Text(std::wstring text) { RegistryValue v; v.m_value = std::move(text); return v; }
    static RegistryValue Integer(std::int32_t number) { RegistryValue v; v.m_value = number; return v; }

    bool IsEmpty() const noexcept { return std::holds_alternative<std::monostate>(m_value); }
    bool IsText() const noexcept { return std::holds_alternative<std::wstring>(m_value); }
    bool IsInteger() const noexcept { return std::holds_alternative<std::int32_t>(m_value); }
    const std::wstring& AsText() const { return std::get<std::wstring>(m_value); }
    std::int32_t AsInteger() const { return std::get<std::int32_t>(m_value); }

    // Empty gives "", an integer its decimal text (with a minus sign when negative).
    std::wstring ToText() const;

private:
    std::variant<std::monostate, std::wstring, std::int32_t> m_value;
};
