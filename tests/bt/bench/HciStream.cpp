#include "tests/bt/bench/HciStream.h"

#include "bt/hci/Acl.h"

namespace Pd::Bench
{
namespace
{

constexpr std::uint8_t CommandPacket = 0x01;
constexpr std::uint8_t AclPacket = 0x02;
constexpr std::uint8_t EventPacket = 0x04;
constexpr std::size_t ReceiveChunk = 65536;

} // namespace

HciStream::HciStream(SOCKET socket, std::chrono::milliseconds timeout) : socket_(socket)
{
    DWORD wait = static_cast<DWORD>(timeout.count());
    ::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait), sizeof(wait));
    BOOL noDelay = TRUE;
    ::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof(noDelay));
}

bool HciStream::Send(const Bytes& h4)
{
    std::size_t sent = 0;
    while (sent < h4.size())
    {
        int result = ::send(socket_, reinterpret_cast<const char*>(h4.data() + sent),
                            static_cast<int>(h4.size() - sent), 0);
        if (result <= 0)
            return false;
        sent += static_cast<std::size_t>(result);
    }
    return true;
}

bool HciStream::SendCommand(std::uint16_t opcode, const Bytes& parameters)
{
    Bytes packet{CommandPacket};
    Bt::AppendLe16(packet, opcode);
    packet.push_back(static_cast<std::uint8_t>(parameters.size()));
    packet.insert(packet.end(), parameters.begin(), parameters.end());
    return Send(packet);
}

bool HciStream::SendAtt(std::uint16_t handle, const Bytes& att)
{
    Bytes packet{AclPacket};
    Bt::AppendLe16(packet, handle & 0x0FFF); // first fragment, not automatically flushable
    Bt::AppendLe16(packet, static_cast<std::uint16_t>(att.size() + 4));
    Bt::AppendLe16(packet, static_cast<std::uint16_t>(att.size()));
    Bt::AppendLe16(packet, Bt::AttCid);
    packet.insert(packet.end(), att.begin(), att.end());
    return Send(packet);
}

std::size_t HciStream::WholePacket() const
{
    std::size_t available = buffer_.size() - start_;
    const std::uint8_t* at = buffer_.data() + start_;
    if (available < 1)
        return 0;
    std::size_t header = at[0] == EventPacket ? 3 : 5;
    if (available < header)
        return 0;
    std::size_t size = header + (at[0] == EventPacket ? at[2] : (at[3] | at[4] << 8));
    return available < size ? 0 : size;
}

std::optional<HciPacket> HciStream::Next()
{
    for (;;)
    {
        if (broken_)
            return std::nullopt;
        if (start_ < buffer_.size() && buffer_[start_] != EventPacket && buffer_[start_] != AclPacket)
        {
            broken_ = true; // the controller sends nothing else
            return std::nullopt;
        }
        if (std::size_t size = WholePacket(); size != 0)
        {
            HciPacket packet{buffer_[start_],
                             Bytes(buffer_.begin() + static_cast<std::ptrdiff_t>(start_ + 1),
                                   buffer_.begin() + static_cast<std::ptrdiff_t>(start_ + size))};
            start_ += size;
            return packet;
        }
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
        std::size_t filled = buffer_.size();
        buffer_.resize(filled + ReceiveChunk);
        int received = ::recv(socket_, reinterpret_cast<char*>(buffer_.data() + filled), ReceiveChunk, 0);
        buffer_.resize(filled + static_cast<std::size_t>(received > 0 ? received : 0));
        if (received <= 0)
        {
            broken_ = true;
            return std::nullopt;
        }
        received_ += static_cast<std::uint64_t>(received);
    }
}

std::optional<std::uint8_t> HciStream::Command(std::uint16_t opcode, const Bytes& parameters)
{
    if (!SendCommand(opcode, parameters))
        return std::nullopt;
    while (auto packet = Next())
    {
        const Bytes& b = packet->bytes;
        if (packet->type != EventPacket)
            continue;
        if (b[0] == 0x0E && b.size() >= 6 && Bt::ReadLe16(b, 3) == opcode)
            return b[5];
        if (b[0] == 0x0F && b.size() >= 6 && Bt::ReadLe16(b, 4) == opcode)
            return b[2];
    }
    return std::nullopt;
}

std::optional<Bytes> AttPayload(const HciPacket& packet)
{
    const Bytes& b = packet.bytes;
    if (packet.type != AclPacket || b.size() < 8 || (Bt::ReadLe16(b, 0) & 0x1000) != 0 ||
        Bt::ReadLe16(b, 6) != Bt::AttCid || Bt::ReadLe16(b, 4) != b.size() - 8)
        return std::nullopt;
    return Bytes(b.begin() + 8, b.end());
}

} // namespace Pd::Bench
