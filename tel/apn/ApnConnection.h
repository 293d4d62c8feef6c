// The carrier's access point for one MMS exchange: opened on the cellular modem, its network
// interface found and waited for until it has a usable address, the server's name resolved with
// that interface's DNS servers, and closed after the exchange. The relay binds its server socket
// to the interface index and address found here, so its traffic leaves through the access point
// and not through the default route.
#pragma once

#include "platform/CellularApn.h"
#include "tel/mms/MmsRequest.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stop_token>
#include <string_view>
#include <vector>

namespace Pd::Tel
{

// How long an opened access point may take to get a preferred address.
inline constexpr std::chrono::milliseconds ApnAddressLimit{15000};

// An open access point; destroying an engaged one closes it.
struct ApnConnection
{
    std::unique_ptr<Platform::ConnectionSession> session;
    std::uint32_t interfaceIndex = 0;
    SOCKADDR_INET address{}; // the interface's local address, port 0

    ApnConnection(std::unique_ptr<Platform::ConnectionSession> session, std::uint32_t interfaceIndex,
                  const SOCKADDR_INET& address);
    ApnConnection(ApnConnection&&) noexcept = default;
    ApnConnection& operator=(ApnConnection&& other) noexcept;
    ~ApnConnection();
};

// The authentication Windows is asked for, from Android's number: 0 none, 1 PAP, 2 and 3 CHAP;
// anything else PAP when a user is given, else none.
Platform::ApnAuthenticationType ApnAuthentication(std::int32_t requested, const std::string& user);

// Opens the request's access point and waits for its interface's address; none after a logged
// failure. A stop request cancels the opening (logged as a cancelled open).
std::optional<ApnConnection> OpenApn(const MmsRequest& request, std::stop_token stop = {});

// Waits until the interface has a preferred address (the first IPv4 one, else the first IPv6
// one that is not link-local); none when it has none within `limit` or stop is requested.
std::optional<SOCKADDR_INET> WaitForApnAddress(NET_LUID luid, std::stop_token stop = {},
                                               std::chrono::milliseconds limit = ApnAddressLimit);

// The address WaitForApnAddress takes from the two unicast address tables.
std::optional<SOCKADDR_INET> FindApnAddress(NET_LUID luid, std::span<const MIB_UNICASTIPADDRESS_ROW> ipv4,
                                            std::span<const MIB_UNICASTIPADDRESS_ROW> ipv6);

// Every unicast address of this PC, of every interface and family.
std::vector<SOCKADDR_INET> OwnAddresses();

// Why the relay, which leads to the carrier's MMS centre, does not connect to the address: it
// leads into this PC (a loopback address, one of `ownAddresses`) or to no single server out there
// (unspecified, multicast, broadcast, link-local); none when it may connect. IPv4-mapped IPv6
// addresses count as the IPv4 ones. Loopback addresses are not refused only where the access
// point carries the loopback network (carriesLoopback: a simulated one, see
// Platform::ConnectionSession) and its own address is a loopback one.
std::optional<std::string_view> RefusedServerAddress(const SOCKADDR_INET& address,
                                                     const SOCKADDR_INET& apnAddress, bool carriesLoopback,
                                                     std::span<const SOCKADDR_INET> ownAddresses);

// The server's addresses in the access point's family, each with the request's port; an
// address literal of that family is used as it stands, anything else is asked of the
// interface's DNS servers. Addresses the relay refuses (RefusedServerAddress) are left out, each
// logged. Empty after a logged failure.
std::vector<SOCKADDR_INET> ResolveThroughApn(const MmsRequest& request, const ApnConnection& connection);

// Closes and releases the session; a failing close is ignored (the access point goes anyway).
void CloseApn(std::unique_ptr<Platform::ConnectionSession>& session);

} // namespace Pd::Tel
