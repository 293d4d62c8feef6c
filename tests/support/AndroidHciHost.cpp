#include "tests/support/AndroidHciHost.h"

#include <ws2tcpip.h>

namespace Pd::Test
{

AndroidHciHost::AndroidHciHost()
{
    WSADATA data;
    started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

AndroidHciHost::~AndroidHciHost()
{
    Close();
    if (listener_ != INVALID_SOCKET)
        ::closesocket(listener_);
    if (started_)
        ::WSACleanup();
}

bool AndroidHciHost::Connect(std::uint16_t port)
{
    Close();
    socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket_ == INVALID_SOCKET)
        return false;
    BOOL noDelay = TRUE;
    ::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof(noDelay));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(port);
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    return ::connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
}

std::uint16_t AndroidHciHost::Listen()
{
    listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener_ == INVALID_SOCKET)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener_, 1) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ::ntohs(address.sin_port);
}

bool AndroidHciHost::Accept(std::chrono::milliseconds timeout)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener_, &readable);
    timeval wait{static_cast<long>(timeout.count() / 1000), static_cast<long>(timeout.count() % 1000) * 1000};
    if (::select(0, &readable, nullptr, nullptr, &wait) <= 0)
        return false;
    Close();
    socket_ = ::accept(listener_, nullptr, nullptr);
    return socket_ != INVALID_SOCKET;
}

void AndroidHciHost::Close()
{
    if (socket_ != INVALID_SOCKET)
        ::closesocket(socket_);
    socket_ = INVALID_SOCKET;
}

bool AndroidHciHost::SendRaw(const Bytes& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size())
    {
        int result = ::send(socket_, reinterpret_cast<const char*>(bytes.data() + sent),
                            static_cast<int>(bytes.size() - sent), 0);
        if (result <= 0)
            return false;
        sent += static_cast<std::size_t>(result);
    }
    return true;
}

bool AndroidHciHost::SendCommand(std::uint16_t opcode, const Bytes& parameters)
{
    Bytes packet{0x01, static_cast<std::uint8_t>(opcode), static_cast<std::uint8_t>(opcode >> 8),
                 static_cast<std::uint8_t>(parameters.size())};
    packet.insert(packet.end(), parameters.begin(), parameters.end());
    return SendRaw(packet);
}

bool AndroidHciHost::WaitReadable(std::chrono::steady_clock::time_point deadline)
{
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
        return false;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket_, &readable);
    timeval wait{static_cast<long>(left.count() / 1000), static_cast<long>(left.count() % 1000) * 1000};
    return ::select(0, &readable, nullptr, nullptr, &wait) > 0;
}

bool AndroidHciHost::ReadExact(std::size_t count, Bytes& out, std::chrono::steady_clock::time_point deadline)
{
    while (count > 0)
    {
        if (!WaitReadable(deadline))
            return false;
        char buffer[4096];
        int received =
            ::recv(socket_, buffer, static_cast<int>(std::min<std::size_t>(count, sizeof(buffer))), 0);
        if (received <= 0)
            return false;
        out.insert(out.end(), buffer, buffer + received);
        count -= static_cast<std::size_t>(received);
    }
    return true;
}

std::optional<AndroidHciHost::Packet> AndroidHciHost::Receive(std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    Bytes type;
    if (!ReadExact(1, type, deadline))
        return std::nullopt;
    Packet packet{type[0], {}};
    switch (packet.type)
    {
    case 0x04: // event: code, length
        if (!ReadExact(2, packet.bytes, deadline) || !ReadExact(packet.bytes[1], packet.bytes, deadline))
            return std::nullopt;
        return packet;
    case 0x02: // ACL: handle, 16-bit length
        if (!ReadExact(4, packet.bytes, deadline) ||
            !ReadExact(packet.bytes[2] | packet.bytes[3] << 8, packet.bytes, deadline))
            return std::nullopt;
        return packet;
    default:
        return std::nullopt; // the controller sends nothing else
    }
}

std::optional<AndroidHciHost::Bytes> AndroidHciHost::Command(std::uint16_t opcode, const Bytes& parameters)
{
    if (!SendCommand(opcode, parameters))
        return std::nullopt;
    for (;;)
    {
        auto packet = Receive();
        if (!packet)
            return std::nullopt;
        const Bytes& b = packet->bytes;
        if (packet->type != 0x04)
            continue;
        if (b[0] == 0x0E && b.size() >= 6 && (b[3] | b[4] << 8) == opcode)
            return Bytes(b.begin() + 5, b.end());
        if (b[0] == 0x0F && b.size() == 6 && (b[4] | b[5] << 8) == opcode)
            return Bytes{b[2]};
    }
}

bool AndroidHciHost::WaitForClose(std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;)
    {
        if (!WaitReadable(deadline))
            return false;
        char buffer[4096];
        if (::recv(socket_, buffer, sizeof(buffer), 0) <= 0)
            return true;
    }
}

} // namespace Pd::Test
