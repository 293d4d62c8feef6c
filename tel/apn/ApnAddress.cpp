#include "tel/apn/ApnConnection.h"

#include "core/Handles.h"
#include "core/NetworkChange.h"
#include "core/SetEventOnStop.h"

#include <algorithm>

namespace Pd::Tel
{
namespace
{

using UniqueNotification = Unique<HANDLE, &::CancelMibChangeNotify2>;

bool IsLinkLocal(const SOCKADDR_IN6& address)
{
    return address.sin6_addr.s6_addr[0] == 0xFE && (address.sin6_addr.s6_addr[1] & 0xC0) == 0x80;
}

// The address's bytes (4 or 16), an IPv4-mapped IPv6 address as the IPv4 one it stands for.
std::span<const std::uint8_t> AddressBytes(const SOCKADDR_INET& address)
{
    if (address.si_family == AF_INET)
        return {reinterpret_cast<const std::uint8_t*>(&address.Ipv4.sin_addr), 4};
    std::span<const std::uint8_t> bytes(address.Ipv6.sin6_addr.s6_addr, 16);
    static constexpr std::uint8_t Mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (std::equal(bytes.begin(), bytes.begin() + 12, std::begin(Mapped)))
        return bytes.subspan(12);
    return bytes;
}

bool IsLoopback(std::span<const std::uint8_t> bytes)
{
    static constexpr std::uint8_t Ipv6Loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return bytes.size() == 4 ? bytes[0] == 127 : std::ranges::equal(bytes, Ipv6Loopback);
}

// The rows of one family's unicast address table, copied out and freed at once.
std::vector<MIB_UNICASTIPADDRESS_ROW> UnicastRows(ADDRESS_FAMILY family)
{
    std::vector<MIB_UNICASTIPADDRESS_ROW> rows;
    PMIB_UNICASTIPADDRESS_TABLE table = nullptr;
    if (::GetUnicastIpAddressTable(family, &table) == NO_ERROR)
    {
        rows.assign(table->Table, table->Table + table->NumEntries);
        ::FreeMibTable(table);
    }
    return rows;
}

bool IsPreferredOn(const MIB_UNICASTIPADDRESS_ROW& row, NET_LUID luid)
{
    return row.InterfaceLuid.Value == luid.Value && row.DadState == IpDadStatePreferred;
}

// One look at the system's tables. Each is copied out and freed at once.
std::optional<SOCKADDR_INET> LookForAddress(NET_LUID luid)
{
    if (auto found = FindApnAddress(luid, UnicastRows(AF_INET), {}))
        return found;
    return FindApnAddress(luid, {}, UnicastRows(AF_INET6));
}

} // namespace

std::optional<SOCKADDR_INET> FindApnAddress(NET_LUID luid, std::span<const MIB_UNICASTIPADDRESS_ROW> ipv4,
                                            std::span<const MIB_UNICASTIPADDRESS_ROW> ipv6)
{
    for (const MIB_UNICASTIPADDRESS_ROW& row : ipv4)
        if (IsPreferredOn(row, luid) && row.Address.si_family == AF_INET)
            return row.Address;
    for (const MIB_UNICASTIPADDRESS_ROW& row : ipv6)
        if (IsPreferredOn(row, luid) && row.Address.si_family == AF_INET6 && !IsLinkLocal(row.Address.Ipv6))
            return row.Address;
    return std::nullopt;
}

std::vector<SOCKADDR_INET> OwnAddresses()
{
    std::vector<SOCKADDR_INET> addresses;
    for (const MIB_UNICASTIPADDRESS_ROW& row : UnicastRows(AF_UNSPEC))
        addresses.push_back(row.Address);
    return addresses;
}

std::optional<std::string_view> RefusedServerAddress(const SOCKADDR_INET& address,
                                                     const SOCKADDR_INET& apnAddress, bool carriesLoopback,
                                                     std::span<const SOCKADDR_INET> ownAddresses)
{
    const std::span<const std::uint8_t> bytes = AddressBytes(address);
    const bool ipv4 = bytes.size() == 4;
    if (std::ranges::all_of(ipv4 ? bytes.first(1) : bytes, [](std::uint8_t byte) { return byte == 0; }))
        return "an unspecified address";
    if (ipv4 ? (bytes[0] & 0xF0) == 0xE0 : bytes[0] == 0xFF)
        return "a multicast address";
    if (ipv4 && std::ranges::all_of(bytes, [](std::uint8_t byte) { return byte == 0xFF; }))
        return "the broadcast address";
    if (ipv4 ? bytes[0] == 169 && bytes[1] == 254 : bytes[0] == 0xFE && (bytes[1] & 0xC0) == 0x80)
        return "a link-local address";
    // Only a simulated access point, on the loopback interface, carries the loopback network.
    if (IsLoopback(bytes))
        return carriesLoopback && IsLoopback(AddressBytes(apnAddress))
                   ? std::nullopt
                   : std::optional<std::string_view>("a loopback address");
    for (const SOCKADDR_INET& own : ownAddresses)
        if (std::ranges::equal(AddressBytes(own), bytes))
            return "an address of this PC";
    return std::nullopt;
}

std::optional<SOCKADDR_INET> WaitForApnAddress(NET_LUID luid, std::stop_token stop,
                                               std::chrono::milliseconds limit)
{
    UniqueHandle changed(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    UniqueNotification notification;
    if (changed)
    {
        HANDLE handle = nullptr;
        if (::NotifyUnicastIpAddressChange(AF_UNSPEC, &Core::SignalNetworkChange, changed.Get(), FALSE,
                                           &handle) == NO_ERROR)
            notification.Reset(handle);
    }
    // Declared last, so it is removed before the event it sets is closed.
    std::optional<std::stop_callback<Core::SetEventOnStop>> wake;
    if (changed)
        wake.emplace(stop, Core::SetEventOnStop{changed.Get()});

    const ULONGLONG start = ::GetTickCount64();
    const auto limitMs = static_cast<ULONGLONG>(limit.count());
    for (;;)
    {
        if (stop.stop_requested())
            return std::nullopt;
        if (auto address = LookForAddress(luid))
            return address;
        const ULONGLONG elapsed = ::GetTickCount64() - start;
        if (!notification || elapsed >= limitMs)
            return std::nullopt;
        ::WaitForSingleObject(changed.Get(), static_cast<DWORD>(limitMs - elapsed));
    }
}

} // namespace Pd::Tel
