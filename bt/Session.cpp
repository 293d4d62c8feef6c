#include "bt/Session.h"

#include "bt/AdvertisementScanner.h"
#include "bt/controller/Controller.h"
#include "bt/hci/H4.h"
#include "bt/link/WindowsLeLink.h"
#include "core/Handles.h"
#include "core/host/HostChange.h"
#include "core/Log.h"
#include "core/ObjectSecurity.h"

#include <fmt/format.h>

#include <mutex>

namespace Pd::Bt
{
namespace
{

constexpr int ReceiveBufferSize = 65536;

// Sends one H4 packet whole. The caller holds the send lock, so packets of different threads
// never mix on the socket. A failed send drops the rest of the packet: the session ends when
// receiving fails.
void SendWhole(SOCKET socket, const Bytes& packet)
{
    std::size_t sent = 0;
    while (sent < packet.size())
    {
        int result = ::send(socket, reinterpret_cast<const char*>(packet.data() + sent),
                            static_cast<int>(packet.size() - sent), 0);
        if (result <= 0)
            return;
        sent += static_cast<std::size_t>(result);
    }
}

void Route(Controller& controller, Hci::PacketType type, ByteView packet)
{
    switch (type)
    {
    case Hci::PacketType::Command:
        controller.HandleCommand(packet);
        break;
    case Hci::PacketType::Acl:
        controller.HandleAclData(packet);
        break;
    default:
        Core::Log(
            fmt::format("hci: packet type {} ignored ({} bytes)", static_cast<int>(type), packet.size()));
        break;
    }
}

// What the controller reaches of Windows: the advertisement watcher and the LE devices.
ControllerServices WindowsServices()
{
    ControllerServices services;
    services.makeScanner = AdvertisementScannerFactory();
    services.connectLink = WindowsLinkConnector();
    return services;
}

void Serve(SOCKET socket, std::uint64_t adapterAddress)
{
    // Android waits for each packet, and an answer often follows a small event at once (Number
    // Of Completed Packets, then the ATT response): over TCP, Nagle would hold the answer back
    // until the peer's delayed acknowledgement. A socket that is not TCP refuses the option.
    BOOL noDelay = TRUE;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof(noDelay));
    std::mutex sendLock; // taken last: no other lock is ever taken while it is held
    Controller controller(
        [socket, &sendLock](Hci::PacketType type, Bytes packet) {
            Bytes framed = H4Frame(type, packet);
            std::lock_guard guard(sendLock);
            SendWhole(socket, framed);
        },
        adapterAddress, WindowsServices());
    H4Deframer deframer(
        [&controller](Hci::PacketType type, ByteView packet) { Route(controller, type, packet); });
    std::vector<std::uint8_t> buffer(ReceiveBufferSize);

    // Packets are handled on this thread before the next receive.
    for (;;)
    {
        int received = ::recv(socket, reinterpret_cast<char*>(buffer.data()), ReceiveBufferSize, 0);
        if (received <= 0)
            break;
        if (!deframer.Feed(ByteView(buffer).first(static_cast<std::size_t>(received))))
        {
            Core::Log("hci: broken H4 framing, dropping the connection");
            break;
        }
    }
}

void LogSessionFailure(const char* what) noexcept
{
    try
    {
        Core::Log(fmt::format("hci: session failed: {}", what));
    }
    catch (...)
    {
    }
}

} // namespace

void RunSession(SOCKET socket, std::uint64_t adapterAddress, std::stop_token) noexcept
{
    UniqueHandle connected = Core::CreateSessionEvent(L"Local\\Peldra.Bluetooth.Connected", true);
    if (connected)
        ::SetEvent(connected.Get());
    Host::SignalHostChanged();

    // Whatever goes wrong inside ends this connection only: the service loop connects again.
    try
    {
        Serve(socket, adapterAddress);
    }
    catch (const std::exception& error)
    {
        LogSessionFailure(error.what());
    }
    catch (...)
    {
        LogSessionFailure("unknown error");
    }

    if (connected)
        ::ResetEvent(connected.Get());
    connected.Reset();
    Host::SignalHostChanged();
}

} // namespace Pd::Bt
