// A simulated Android Bluetooth stack for tests: connects to the bridge over loopback TCP (or,
// as the guest service it stands for, listens and lets the bridge connect), sends H4 packets
// and reads the controller's packets back. It parses the stream on its own,
// independently of the bridge's deframer.
#pragma once

#include "tests/support/HangLimit.h"

#include <winsock2.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace Pd::Test
{

class AndroidHciHost
{
public:
    using Bytes = std::vector<std::uint8_t>;

    struct Packet
    {
        std::uint8_t type = 0; // H4 packet type
        Bytes bytes;           // without the type byte
    };

    AndroidHciHost();
    ~AndroidHciHost();
    AndroidHciHost(const AndroidHciHost&) = delete;
    AndroidHciHost& operator=(const AndroidHciHost&) = delete;

    bool Connect(std::uint16_t port);
    void Close();

    // Listens on a free loopback port and returns it (0 on failure); Accept then takes the
    // bridge's connection, waiting up to the time given.
    std::uint16_t Listen();
    bool Accept(std::chrono::milliseconds timeout = HangLimit);

    bool SendRaw(const Bytes& bytes);
    bool SendCommand(std::uint16_t opcode, const Bytes& parameters = {});

    // The next packet, or nothing when none came within the time or the connection closed.
    std::optional<Packet> Receive(std::chrono::milliseconds timeout = HangLimit);

    // Sends a command and returns the status and return parameters of its Command Complete
    // (or the status of its Command Status), skipping other events; nothing on time-out.
    std::optional<Bytes> Command(std::uint16_t opcode, const Bytes& parameters = {});

    // True when the bridge closed the connection within the time.
    bool WaitForClose(std::chrono::milliseconds timeout = HangLimit);

private:
    // True when bytes (or the close) can be read before the deadline.
    bool WaitReadable(std::chrono::steady_clock::time_point deadline);
    // Reads exactly count bytes; false on time-out or close.
    bool ReadExact(std::size_t count, Bytes& out, std::chrono::steady_clock::time_point deadline);

    SOCKET socket_ = INVALID_SOCKET;
    SOCKET listener_ = INVALID_SOCKET;
    bool started_ = false;
};

} // namespace Pd::Test
