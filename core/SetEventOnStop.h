// The body of a stop callback that wakes a wait: it sets the event it holds. Used as
// std::stop_callback<Pd::Core::SetEventOnStop> so that a thread waiting on the event (together
// with its other handles) returns as soon as stop is requested.
#pragma once

#include <windows.h>

namespace Pd::Core
{

struct SetEventOnStop
{
    HANDLE event; // borrowed: the owner must remove the callback before it closes the event

    void operator()() const noexcept { ::SetEvent(event); }
};

} // namespace Pd::Core
