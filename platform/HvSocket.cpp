#include "platform/HvSocket.h"

#include "platform/RealServices.h"

#include <hvsocket.h>

namespace Pd::Platform
{
namespace
{

UniqueSocket ConnectHyperV(const GUID& vmId, std::uint32_t port, DWORD connectTimeoutMs)
{
    UniqueSocket socket(::socket(AfHyperV, SOCK_STREAM, HV_PROTOCOL_RAW));
    if (!socket)
        return {};
    DWORD timeout = connectTimeoutMs;
    ::setsockopt(socket.Get(), HV_PROTOCOL_RAW, HVSOCKET_CONNECT_TIMEOUT,
                 reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    SOCKADDR_HV address{};
    address.Family = AfHyperV;
    address.Reserved = 0;
    address.VmId = vmId;
    address.ServiceId = VsockServiceGuid(port);
    static_assert(sizeof(address) == 36);
    if (::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
        return {};
    return socket;
}

} // namespace

GUID VsockServiceGuid(std::uint32_t port)
{
    GUID guid = HV_GUID_VSOCK_TEMPLATE;
    guid.Data1 = port;
    return guid;
}

UniqueSocket Real::ConnectToGuest(const GUID& vmId, std::uint32_t port, DWORD connectTimeoutMs)
{
    return ConnectHyperV(vmId, port, connectTimeoutMs);
}

} // namespace Pd::Platform
