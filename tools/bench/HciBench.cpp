// Answers per second of the HCI path that every packet from Android takes: the byte stream, cut
// into receive-sized pieces, through the H4 deframer into the controller's command dispatch, whose
// answers are framed again as the session sends them. One thread, so the figure is per core.
// Native and optimised (run by tools/bench-hci.py):
//
//   pd_hci_bench [seconds]
//   -> "hci: <commands> commands in <s> s (<cpu> s of CPU): <n> answered packets per second per core"
#include "bt/controller/Controller.h"
#include "bt/hci/H4.h"
#include "core/Log.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <initializer_list>
#include <span>

namespace
{

using namespace Pd::Bt;

constexpr std::size_t ReceiveSize = 65536; // what the session asks of each receive

Bytes Packet(std::uint16_t opcode, std::initializer_list<std::uint8_t> parameters)
{
    Bytes packet{0x01, static_cast<std::uint8_t>(opcode), static_cast<std::uint8_t>(opcode >> 8),
                 static_cast<std::uint8_t>(parameters.size())};
    packet.insert(packet.end(), parameters);
    return packet;
}

// What Android's stack asks while it sets the controller up and then keeps asking: fixed and
// stored answers, small and large, and the parameter checks of commands that set something.
Bytes Stream(std::size_t rounds)
{
    const Bytes mix[] = {
        Packet(0x1001, {}),                                               // Read Local Version Information
        Packet(0x1009, {}),                                               // Read BD_ADDR
        Packet(0x2002, {}),                                               // LE Read Buffer Size
        Packet(0x2003, {}),                                               // LE Read Local Supported Features
        Packet(0x0C01, {0xFF, 0xFF, 0xFB, 0xFF, 0x07, 0xF8, 0xBF, 0x3D}), // Set Event Mask
        Packet(0x2001, {0x1F, 0, 0, 0, 0, 0, 0, 0}),                      // LE Set Event Mask
        Packet(0x1002, {}),                                               // Read Local Supported Commands
        Packet(0x0C14, {}),                                               // Read Local Name (248 bytes back)
        Packet(0x200B, {0x01, 0x10, 0x00, 0x10, 0x00, 0x00, 0x00}),       // LE Set Scan Parameters
        Packet(0x1004, {0x01}),                                           // Read Local Extended Features
    };
    Bytes stream;
    for (std::size_t round = 0; round < rounds; ++round)
        for (const Bytes& packet : mix)
            stream.insert(stream.end(), packet.begin(), packet.end());
    return stream;
}

double CpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    Pd::Core::SetLogSink([](std::string_view) {});
    std::uint64_t answers = 0, completes = 0, bytesOut = 0;
    Controller controller(
        [&](Hci::PacketType type, Bytes packet) {
            Bytes framed = H4Frame(type, packet);
            bytesOut += framed.size();
            ++answers;
            completes += type == Hci::PacketType::Event && packet.size() >= 1 && packet[0] == 0x0E;
        },
        0x112233445566);
    std::uint64_t commands = 0;
    H4Deframer deframer([&](Hci::PacketType type, ByteView packet) {
        if (type == Hci::PacketType::Command)
        {
            ++commands;
            controller.HandleCommand(packet);
        }
    });

    const Bytes stream = Stream(4096);
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = CpuSeconds();
    double elapsed = 0;
    while (elapsed < seconds)
    {
        for (std::size_t at = 0; at < stream.size(); at += ReceiveSize)
            if (!deframer.Feed(ByteView(stream).subspan(at, std::min(ReceiveSize, stream.size() - at))))
                return std::fprintf(stderr, "hci: the stream broke its framing\n"), 1;
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const double cpu = CpuSeconds() - cpuStart;
    if (completes != commands || answers != commands)
        return std::fprintf(stderr, "hci: %llu commands got %llu answers, %llu of them Command Complete\n",
                            static_cast<unsigned long long>(commands),
                            static_cast<unsigned long long>(answers),
                            static_cast<unsigned long long>(completes)),
               1;
    std::printf("hci: %llu commands in %.2f s (%.2f s of CPU): %.0f answered packets per second per core, "
                "%.0f MB/s of answers\n",
                static_cast<unsigned long long>(commands), elapsed, cpu, static_cast<double>(answers) / cpu,
                static_cast<double>(bytesOut) / cpu / 1e6);
    return 0;
}
