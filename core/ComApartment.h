// The calling thread's place in the multithreaded COM apartment, for as long as the object lives.
#pragma once

#include <objbase.h>

namespace Pd::Core
{

// Leaves the apartment only when entering it succeeded; enter false makes it do nothing, for a
// thread whose code enters an apartment of its own.
class MultithreadedApartment
{
public:
    explicit MultithreadedApartment(bool enter = true)
        : entered_(enter && SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
    {
    }
    MultithreadedApartment(const MultithreadedApartment&) = delete;
    MultithreadedApartment& operator=(const MultithreadedApartment&) = delete;
    ~MultithreadedApartment()
    {
        if (entered_)
            ::CoUninitialize();
    }

private:
    bool entered_;
};

} // namespace Pd::Core
