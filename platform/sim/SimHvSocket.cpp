#include "platform/sim/SimHvSocket.h"

#include "platform/sim/Scenario.h"
#include "platform/sim/SimComputeCore.h"

#include <ws2tcpip.h>

namespace Pd::Platform::Sim
{
namespace
{

bool SetBlocking(SOCKET socket, bool blocking)
{
    u_long nonBlocking = blocking ? 0 : 1;
    return ::ioctlsocket(socket, FIONBIO, &nonBlocking) == 0;
}

// A connect bounded by the time-out, as the Hyper-V socket option bounds the real one.
bool ConnectWithin(SOCKET socket, const sockaddr_in& address, DWORD timeoutMs)
{
    if (!SetBlocking(socket, false))
        return false;
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
    {
        if (::WSAGetLastError() != WSAEWOULDBLOCK)
            return false;
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(socket, &writable);
        FD_SET(socket, &failed);
        timeval timeout{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000};
        if (::select(0, nullptr, &writable, &failed, &timeout) != 1 || !FD_ISSET(socket, &writable))
            return false;
        int error = 0;
        int length = sizeof(error);
        if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0 ||
            error != 0)
            return false;
    }
    return SetBlocking(socket, true);
}

} // namespace

UniqueSocket ConnectToGuest(const std::filesystem::path& folder, const GUID& vmId, std::uint32_t port,
                            DWORD connectTimeoutMs)
{
    Scenario scenario = LoadScenario(folder);
    const ScenarioComputeSystem* system = nullptr;
    for (const ScenarioComputeSystem& candidate : scenario.computeSystems)
        if (candidate.Guid() == vmId)
            system = &candidate;
    const auto& services = system && system->services ? *system->services : scenario.services;
    auto service = services.find(port);
    if (service == services.end() || !IsComputeSystemRunning(folder, vmId))
        return {};
    UniqueSocket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!socket)
        return {};
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(service->second);
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    if (!ConnectWithin(socket.Get(), address, connectTimeoutMs))
        return {};
    return socket;
}

} // namespace Pd::Platform::Sim
