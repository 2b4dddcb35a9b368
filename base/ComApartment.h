#pragma once
// COM for this thread, single-threaded apartment; uninitialised only when the initialisation
// succeeded (S_FALSE, "already initialised", included).

#include <windows.h>
#include <objbase.h>

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
