// Cellular access point connections (a Windows Runtime service): a connection to a named access
// point is acquired with its credentials, its session names the network adapter Windows created
// for it, and closing the session releases the access point. Every failure is an HRESULT with a
// text.
#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

namespace Pd::Platform
{

// CellularApnAuthenticationType, numbered as the Windows Runtime numbers it.
enum class ApnAuthenticationType : std::int32_t
{
    None = 0,
    Pap = 1,
    Chap = 2,
    Mschapv2 = 3,
};

// The CellularApnContext properties this program sets; the others stay as Windows creates them.
struct ApnContext
{
    std::wstring accessPointName;
    std::wstring userName;
    std::wstring password;
    ApnAuthenticationType authenticationType = ApnAuthenticationType::None;
};

// An open access point (ConnectionSession): it stays open while the object lives or until Close.
class ConnectionSession
{
public:
    virtual ~ConnectionSession() = default;

    // The NetworkAdapterId of the session's connection profile's adapter; none when the session
    // has no profile or the profile no adapter.
    virtual Outcome<std::optional<GUID>> NetworkAdapterId() = 0;

    // Closes the access point (IClosable::Close).
    virtual Outcome<> Close() = 0;

    // Whether the access point's network is this PC's loopback network, whose addresses then lead
    // to the access point's servers. Only a simulated access point's is: a real one never
    // carries traffic into this PC.
    virtual bool CarriesLoopbackNetwork() const { return false; }
};

class CellularConnectivity
{
public:
    virtual ~CellularConnectivity() = default;

    // ConnectivityManager.AcquireConnectionAsync, waited for. A null session when the operation
    // completed without one. A stop request cancels the operation, which then fails with
    // HRESULT_FROM_WIN32(ERROR_CANCELLED) as a cancelled Windows Runtime operation does.
    virtual Outcome<std::unique_ptr<ConnectionSession>> AcquireConnection(const ApnContext& context,
                                                                          std::stop_token stop) = 0;
};

// The simulator's access points when simulating; otherwise Windows' own (through the Windows
// Runtime), which answers "class not registered" where the system has no cellular service.
std::shared_ptr<CellularConnectivity> CellularConnections();

} // namespace Pd::Platform
