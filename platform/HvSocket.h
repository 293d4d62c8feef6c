// Hyper-V sockets: a stream connection from Windows to a service that Android offers on a
// Linux vsock port inside its virtual machine.
#pragma once

#include <winsock2.h>

#include <windows.h>

#include "core/Handles.h"

#include <cstdint>

namespace Pd::Platform
{

inline int CloseSocket(SOCKET socket) noexcept
{
    return ::closesocket(socket);
}
using UniqueSocket = Pd::Unique<SOCKET, &CloseSocket, -1>; // socket(), accept()

// The Hyper-V socket address family, which mingw-w64 does not define.
inline constexpr int AfHyperV = 34;

// The Hyper-V service id of a Linux vsock port: the port as Data1 of the vsock template
// {00000000-FACB-11E6-BD58-64006A7986D3}.
GUID VsockServiceGuid(std::uint32_t port);

// Connects a stream socket to the port inside the VM, the attempt bounded by the connect
// time-out. Returns the connected socket, or an empty one when the socket cannot be created
// or the connection fails (nothing listening, VM gone, no Hyper-V sockets as under Wine).
// Windows Sockets must have been started by the caller.
UniqueSocket ConnectToGuest(const GUID& vmId, std::uint32_t port, DWORD connectTimeoutMs);

} // namespace Pd::Platform
