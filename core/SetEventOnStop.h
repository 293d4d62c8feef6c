// The body of a stop callback that wakes a wait: it sets the event it holds. Used as
// std::stop_callback<Pd::Core::SetEventOnStop> so that a thread waiting on the event (together
// with its other handles) returns as soon as stop is requested.
#pragma once

#include "core/Handles.h"

#include <windows.h>

#include <stop_token>

namespace Pd::Core
{

struct SetEventOnStop
{
    HANDLE event; // borrowed: the owner must remove the callback before it closes the event

    void operator()() const noexcept { ::SetEvent(event); }
};

// Waits up to timeoutMs for the handle; true when it was signalled, false when the time ran out,
// the wait failed or stop was requested (then at once).
inline bool WaitUnlessStopped(HANDLE handle, DWORD timeoutMs, std::stop_token stop)
{
    if (!stop.stop_possible())
        return ::WaitForSingleObject(handle, timeoutMs) == WAIT_OBJECT_0;
    UniqueHandle woken(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!woken)
        return false;
    std::stop_callback<SetEventOnStop> wake(stop, SetEventOnStop{woken.Get()});
    HANDLE handles[] = {handle, woken.Get()};
    return ::WaitForMultipleObjects(2, handles, FALSE, timeoutMs) == WAIT_OBJECT_0;
}

} // namespace Pd::Core
