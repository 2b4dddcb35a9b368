#pragma once
// Move-only owners for handles. Each closes its value once; Put() frees the old
// value before handing out the address for an API to fill.

#include <windows.h>
#include <oleauto.h>

#include <utility>

template <typename H, auto Close>
class Unique {
public:
    Unique() = default;
    explicit Unique(H h) noexcept : m_h(h) {}
    Unique(Unique&& o) noexcept : m_h(std::exchange(o.m_h, H{})) {}
    Unique& operator=(Unique&& o) noexcept { Reset(std::exchange(o.m_h, H{})); return *this; }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    ~Unique() { Reset(); }

    H Get() const noexcept { return m_h; }
    H* Put() noexcept { Reset(); return &m_h; }
    void Reset(H h = H{}) noexcept { if (m_h != H{}) Close(m_h); m_h = h; }
    explicit operator bool() const noexcept { return m_h != H{}; }

private:
    H m_h{};
};

namespace UniqueDetail {
inline void CloseHandleChecked(HANDLE h) noexcept { if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h); }
inline void DeleteFont(HFONT f) noexcept { ::DeleteObject(f); }
inline void CloseFind(HANDLE h) noexcept { if (h != INVALID_HANDLE_VALUE) ::FindClose(h); }
}  // namespace UniqueDetail

using UniqueHKey = Unique<HKEY, &::RegCloseKey>;
using UniqueHandle = Unique<HANDLE, &UniqueDetail::CloseHandleChecked>;
using UniqueFont = Unique<HFONT, &UniqueDetail::DeleteFont>;
using UniqueFind = Unique<HANDLE, &UniqueDetail::CloseFind>;
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

// COM for this thread; uninitialised only when the initialisation succeeded.
class ComApartment {
public:
    ComApartment() noexcept : m_hr(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() { if (SUCCEEDED(m_hr)) ::CoUninitialize(); }
    HRESULT Result() const noexcept { return m_hr; }

private:
    HRESULT m_hr;
};
