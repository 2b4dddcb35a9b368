#pragma once
// Move-only owners for handles. Each closes its value once; Put() frees the old value before
// handing out the address for an API to fill. `kEmpty` is the value that owns nothing: 0 for most
// handles, -1 (INVALID_HANDLE_VALUE) for those of CreateFileW and FindFirstFileW.

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <utility>

template <typename H, auto Close, std::intptr_t kEmpty = 0>
class Unique {
public:
    Unique() = default;
    explicit Unique(H h) noexcept : m_h(h) {}
    Unique(Unique&& o) noexcept : m_h(std::exchange(o.m_h, Empty())) {}
    Unique& operator=(Unique&& o) noexcept { Reset(std::exchange(o.m_h, Empty())); return *this; }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    ~Unique() { Reset(); }

    H Get() const noexcept { return m_h; }
    H* Put() noexcept { Reset(); return &m_h; }
    // Gives up the value without closing it (someone else has closed it, or will).
    H Release() noexcept { return std::exchange(m_h, Empty()); }
    void Reset(H h = Empty()) noexcept { if (m_h != Empty()) Close(m_h); m_h = h; }
    explicit operator bool() const noexcept { return m_h != Empty(); }

private:
    static H Empty() noexcept { return reinterpret_cast<H>(kEmpty); }
    H m_h = Empty();
};

namespace UniqueDetail {
inline void DeleteFont(HFONT f) noexcept { ::DeleteObject(f); }
}  // namespace UniqueDetail

using UniqueHKey = Unique<HKEY, &::RegCloseKey>;
using UniqueHandle = Unique<HANDLE, &::CloseHandle>;          // processes, threads: null when empty
using UniqueFile = Unique<HANDLE, &::CloseHandle, -1>;        // CreateFileW
using UniqueFind = Unique<HANDLE, &::FindClose, -1>;          // FindFirstFileW
using UniqueFont = Unique<HFONT, &UniqueDetail::DeleteFont>;
using UniqueBstr = Unique<BSTR, &::SysFreeString>;

// A VARIANT that is cleared once, when its owner goes.
class UniqueVariant {
public:
    UniqueVariant() noexcept { ::VariantInit(&m_v); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;
    ~UniqueVariant() { ::VariantClear(&m_v); }
    VARIANT* Put() noexcept { ::VariantClear(&m_v); return &m_v; }
    const VARIANT& Get() const noexcept { return m_v; }

private:
    VARIANT m_v;
};
