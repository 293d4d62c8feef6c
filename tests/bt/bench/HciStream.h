// The benchmark's Android side of an H4 connection: packets written whole, packets parsed out
// of a buffered receive, as a host stack reads its transport. Every receive gives up after the
// time-out, so a bridge that stalls ends the run instead of hanging it.
#pragma once

#include <winsock2.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace Pd::Bench
{

using Bytes = std::vector<std::uint8_t>;

struct HciPacket
{
    std::uint8_t type = 0; // H4 packet type
    Bytes bytes;           // without the type byte
};

class HciStream
{
public:
    // The stream does not own the socket.
    HciStream(SOCKET socket, std::chrono::milliseconds timeout);

    bool Send(const Bytes& h4);
    bool SendCommand(std::uint16_t opcode, const Bytes& parameters = {});
    // One L2CAP PDU on the connection's ATT channel, in one ACL packet.
    bool SendAtt(std::uint16_t handle, const Bytes& att);

    // The next packet; nothing when the connection closed, timed out or the framing broke.
    std::optional<HciPacket> Next();

    // Sends a command and returns the status of its Command Complete or Command Status,
    // skipping other packets; nothing when the stream ended.
    std::optional<std::uint8_t> Command(std::uint16_t opcode, const Bytes& parameters = {});

    // Every byte received so far, H4 type bytes included.
    std::uint64_t ReceivedBytes() const { return received_; }

private:
    // The size of the first whole packet in the buffer; 0 while it is incomplete.
    std::size_t WholePacket() const;

    SOCKET socket_;
    Bytes buffer_;
    std::size_t start_ = 0; // where the unparsed bytes begin
    std::uint64_t received_ = 0;
    bool broken_ = false;
};

// The ATT PDU of an ACL packet on the ATT channel; nothing for any other packet.
std::optional<Bytes> AttPayload(const HciPacket& packet);

} // namespace Pd::Bench
