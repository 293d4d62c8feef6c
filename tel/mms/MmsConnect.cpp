#include "tel/mms/MmsConnect.h"

#include <algorithm>

namespace Pd::Tel
{
namespace
{

constexpr int UnicastInterfaceOption = 31; // IP_UNICAST_IF, at IPPROTO_IP and IPPROTO_IPV6
constexpr DWORD StopPollMs = 100;

int AddressSize(const SOCKADDR_INET& address)
{
    return address.si_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
}

void PinToInterface(SOCKET socket, ADDRESS_FAMILY family, std::uint32_t index)
{
    // Windows wants the IPv4 index in network byte order and the IPv6 one in host order.
    DWORD value = family == AF_INET ? ::htonl(index) : index;
    ::setsockopt(socket, family == AF_INET ? IPPROTO_IP : IPPROTO_IPV6, UnicastInterfaceOption,
                 reinterpret_cast<const char*>(&value), sizeof(value));
}

bool SetBlocking(SOCKET socket, bool blocking)
{
    u_long nonBlocking = blocking ? 0 : 1;
    return ::ioctlsocket(socket, FIONBIO, &nonBlocking) == 0;
}

// A non-blocking connect waited for in short slices, so that a stop request ends it promptly.
bool Connect(SOCKET socket, const SOCKADDR_INET& address, std::stop_token& stop, ULONGLONG deadline)
{
    if (!SetBlocking(socket, false))
        return false;
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), AddressSize(address)) != 0 &&
        ::WSAGetLastError() != WSAEWOULDBLOCK)
        return false;
    while (!stop.stop_requested())
    {
        ULONGLONG now = ::GetTickCount64();
        if (now >= deadline)
            return false;
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(socket, &writable);
        FD_SET(socket, &failed);
        DWORD slice = static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, StopPollMs));
        timeval wait{0, static_cast<long>(slice * 1000)};
        int ready = ::select(0, nullptr, &writable, &failed, &wait);
        if (ready < 0)
            return false;
        if (ready == 0)
            continue;
        int error = 0;
        int size = sizeof(error);
        if (FD_ISSET(socket, &failed) ||
            ::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0 ||
            error != 0)
            return false;
        return SetBlocking(socket, true);
    }
    return false;
}

} // namespace

Platform::UniqueSocket ConnectThroughApn(const ApnConnection& apn, std::span<const SOCKADDR_INET> addresses,
                                         std::stop_token stop, std::chrono::milliseconds limit)
{
    for (const SOCKADDR_INET& address : addresses)
    {
        if (stop.stop_requested())
            break;
        Platform::UniqueSocket socket(::socket(address.si_family, SOCK_STREAM, IPPROTO_TCP));
        if (!socket)
            continue;
        PinToInterface(socket.Get(), address.si_family, apn.interfaceIndex);
        SOCKADDR_INET local = apn.address;
        if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&local), AddressSize(local)) != 0)
            continue;
        ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(limit.count());
        if (Connect(socket.Get(), address, stop, deadline))
            return socket;
    }
    return {};
}

} // namespace Pd::Tel
