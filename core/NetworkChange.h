// The IP Helper notification callback that only wakes a waiting thread: it sets the event
// handle given as the registration's caller context. Waits on network changes register it and
// look again themselves, so the callback (on a system thread) touches nothing else.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>

namespace Pd::Core
{

inline void WINAPI SignalNetworkChange(PVOID context, PMIB_UNICASTIPADDRESS_ROW, MIB_NOTIFICATION_TYPE)
{
    ::SetEvent(static_cast<HANDLE>(context));
}

// NL_NETWORK_CONNECTIVITY_HINT (netioapi.h), which mingw-w64 does not declare.
struct NetworkConnectivityHint
{
    INT32 connectivityLevel; // NL_NETWORK_CONNECTIVITY_LEVEL_HINT
    INT32 connectivityCost;  // NL_NETWORK_CONNECTIVITY_COST_HINT
    BOOLEAN approachingDataLimit;
    BOOLEAN overDataLimit;
    BOOLEAN roaming;
};

// The same for NotifyNetworkConnectivityHintChange.
inline void WINAPI SignalNetworkChange(PVOID context, NetworkConnectivityHint)
{
    ::SetEvent(static_cast<HANDLE>(context));
}

} // namespace Pd::Core
