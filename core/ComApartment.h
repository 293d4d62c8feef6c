// The calling thread's place in a COM apartment, for as long as the object lives.
#pragma once

#include <objbase.h>

namespace Pd::Core
{

enum class Apartment : DWORD
{
    Multithreaded = COINIT_MULTITHREADED,
    // A thread with windows, and the shell calls that need one.
    SingleThreaded = COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE,
};

// Enters the apartment; leaves it only when entering succeeded.
class ComApartment
{
public:
    explicit ComApartment(Apartment apartment)
        : entered_(SUCCEEDED(::CoInitializeEx(nullptr, static_cast<DWORD>(apartment))))
    {
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment()
    {
        if (entered_)
            ::CoUninitialize();
    }

private:
    bool entered_;
};

} // namespace Pd::Core
