// A stop source whose stop is requested when an event is signalled: hands work that takes a
// std::stop_token the stop of a thread that otherwise waits on the event (the host's Stop). The
// mirror of core/SetEventOnStop.h. The event must be manual-reset, as the wait would consume an
// auto-reset one.
#pragma once

#include "core/Handles.h"

#include <windows.h>

#include <stop_token>

namespace Pd::Core
{

class StopOnEvent
{
public:
    explicit StopOnEvent(HANDLE event)
    {
        if (!::RegisterWaitForSingleObject(wait_.Put(), event, &RequestStop, &source_, INFINITE,
                                           WT_EXECUTEONLYONCE) &&
            ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0)
            source_.request_stop(); // no wait to be had: at least a stop already asked for counts
    }
    StopOnEvent(const StopOnEvent&) = delete;
    StopOnEvent& operator=(const StopOnEvent&) = delete;

    std::stop_token Token() const noexcept { return source_.get_token(); }

private:
    static void CALLBACK RequestStop(void* source, BOOLEAN)
    {
        static_cast<std::stop_source*>(source)->request_stop();
    }

    std::stop_source source_;
    UniqueWait wait_; // last: unregistered, a running callback waited for, before the source goes
};

} // namespace Pd::Core
