// Windows' network connectivity hint (IP Helper): the connectivity level of the PC and a
// notification when it changes. mingw-w64 does not declare these functions and Wine lacks them:
// they are loaded from iphlpapi.dll at run time, and without them the service is unavailable.
#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <memory>

namespace Pd::Platform
{

// NL_NETWORK_CONNECTIVITY_LEVEL_HINT's values.
enum class ConnectivityLevel : std::int32_t
{
    Unknown = 0,
    None = 1,
    LocalAccess = 2,
    InternetAccess = 3,
    ConstrainedInternetAccess = 4,
    Hidden = 5,
};

// A registered change notification; it is cancelled when the object goes, and no notification
// runs after the destructor returned.
class ConnectivityWatch
{
public:
    virtual ~ConnectivityWatch() = default;
};

class NetworkConnectivity
{
public:
    virtual ~NetworkConnectivity() = default;

    // GetNetworkConnectivityHint's level.
    virtual Outcome<ConnectivityLevel> Level() = 0;

    // Sets `wake` once at once and then on every change of the hint, from a system thread. Fails
    // when the notification cannot be registered; the event must outlive the watch.
    virtual Outcome<std::unique_ptr<ConnectivityWatch>> Watch(HANDLE wake) = 0;
};

std::shared_ptr<NetworkConnectivity> NetworkHints();

} // namespace Pd::Platform
