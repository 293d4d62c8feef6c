#include "tel/apn/ApnConnection.h"

#include "core/Handles.h"
#include "core/NetworkChange.h"
#include "core/SetEventOnStop.h"

namespace Pd::Tel
{
namespace
{

using UniqueNotification = Unique<HANDLE, &::CancelMibChangeNotify2>;

bool IsLinkLocal(const SOCKADDR_IN6& address)
{
    return address.sin6_addr.s6_addr[0] == 0xFE && (address.sin6_addr.s6_addr[1] & 0xC0) == 0x80;
}

bool IsPreferredOn(const MIB_UNICASTIPADDRESS_ROW& row, NET_LUID luid)
{
    return row.InterfaceLuid.Value == luid.Value && row.DadState == IpDadStatePreferred;
}

// One look at the system's tables. Each is copied out and freed at once.
std::optional<SOCKADDR_INET> LookForAddress(NET_LUID luid)
{
    auto read = [](ADDRESS_FAMILY family) {
        std::vector<MIB_UNICASTIPADDRESS_ROW> rows;
        PMIB_UNICASTIPADDRESS_TABLE table = nullptr;
        if (::GetUnicastIpAddressTable(family, &table) == NO_ERROR)
        {
            rows.assign(table->Table, table->Table + table->NumEntries);
            ::FreeMibTable(table);
        }
        return rows;
    };
    std::vector<MIB_UNICASTIPADDRESS_ROW> ipv4 = read(AF_INET);
    if (auto found = FindApnAddress(luid, ipv4, {}))
        return found;
    return FindApnAddress(luid, {}, read(AF_INET6));
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
