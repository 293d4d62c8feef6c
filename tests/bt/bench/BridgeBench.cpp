// Benchmark of the Bluetooth bridge on a simulated PC (run by tools/bench-bt.py, not a test).
//
//   pd_bt_bench [--reads 10000] [--value-bytes 20] [--operation-ms 0]
//               [--notifications 20000] [--notifiers 200]
//
// An Android host on one end of a loopback TCP connection, the real H4 session (controller, LE
// link, ATT server, GATT operations) on the other, as the guest loop runs it. The host resets
// the controller, connects to the simulated device and reads one characteristic value at a
// time, timing each read from the write of its request to the parse of its response. The same
// read called directly on the simulated device gives the device's own answer time. Then the
// host subscribes to characteristics that the device changes every millisecond (the
// simulator's fastest) and counts the notifications it receives, against the value changes
// the device raises on its own and the same packets sent over a bare loopback connection.
// Prints RESULT lines; exits non-zero when the bridge answers wrongly or stalls.
#include "bt/hci/Bytes.h"
#include "bt/Session.h"
#include "core/Hex.h"
#include "core/Log.h"
#include "core/ScopeExit.h"
#include "platform/Bluetooth.h"
#include "tests/bt/bench/HciStream.h"
#include "tests/support/SimScenario.h"

#include <psapi.h>
#include <windows.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

namespace
{

using namespace Pd::Bench;
using Clock = std::chrono::steady_clock;
using Pd::Bt::AppendLe16;

constexpr std::uint64_t Adapter = 0x001A7DDA7113;
constexpr std::uint64_t Device = 0xC0FFEE0000B1; // random static
constexpr std::uint16_t ReadDeclaration = 2;     // in service 1; its value at 3
constexpr std::uint16_t FirstNotifier = 4;       // declaration, value, CCCD; the next at +3
constexpr int WarmUp = 100;
constexpr auto StallTimeout = std::chrono::seconds(10);

struct Options
{
    int reads = 10000;
    int valueBytes = 20; // one Read Response at the default MTU of 23
    int operationMs = 0;
    int notifications = 20000;
    int notifiers = 200;
};

struct Failure
{
    std::string text;
};

std::string Hex(const Bytes& bytes)
{
    std::string text;
    Pd::Core::AppendHexBytes(text, bytes);
    return text;
}

Bytes Value(int size, std::uint8_t seed)
{
    Bytes value(static_cast<std::size_t>(size));
    for (std::size_t i = 0; i < value.size(); ++i)
        value[i] = static_cast<std::uint8_t>(seed + i);
    return value;
}

std::string ScenarioJson(const Options& options)
{
    std::string characteristics = R"({"uuid":"2A3D","handle":2,"properties":2,"value":")" +
                                  Hex(Value(options.valueBytes, 0x10)) + R"("})";
    for (int i = 0; i < options.notifiers; ++i)
    {
        int handle = FirstNotifier + 3 * i;
        char uuid[5];
        std::snprintf(uuid, sizeof(uuid), "%04X", 0xFF00 + i);
        characteristics += R"(,{"uuid":")" + std::string(uuid) + R"(","handle":)" + std::to_string(handle) +
                           R"(,"properties":16,"changes":[")" + Hex(Value(20, static_cast<std::uint8_t>(i))) +
                           R"("],"changeEveryMs":1,"descriptors":[{"uuid":"2902","handle":)" +
                           std::to_string(handle + 2) + "}]}";
    }
    return R"({"bluetooth":{"adapter":"001A7DDA7113","devices":[{"address":"C0FFEE0000B1","random":true,)"
           R"("operationMs":)" +
           std::to_string(options.operationMs) +
           R"(,"services":[{"uuid":"180A","handle":1,"characteristics":[)" + characteristics + "]}]}]}}";
}

double Microseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::micro>(duration).count();
}

// Median, 99th percentile (nearest rank) and maximum of the samples, in microseconds.
void PrintLatencies(const char* name, std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    std::size_t p99 = static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(samples.size()))) - 1;
    std::printf("RESULT %s count=%zu median_us=%.1f p99_us=%.1f max_us=%.1f\n", name, samples.size(),
                samples[samples.size() / 2], samples[p99], samples.back());
}

// The process's committed memory (Wine leaves PrivateUsage at 0).
std::size_t CommittedKib()
{
    PROCESS_MEMORY_COUNTERS memory{};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof(memory));
    return memory.PagefileUsage / 1024;
}

// ---- the host's side ----

std::uint16_t Connect(HciStream& host)
{
    if (host.Command(0x0C03) != 0x00)
        throw Failure{"Reset failed"};
    Bytes create;
    AppendLe16(create, 0x0060); // scan interval
    AppendLe16(create, 0x0030); // scan window
    create.push_back(0x00);     // the peer given here, not the filter accept list
    create.push_back(0x01);     // random address
    for (int i = 0; i < 6; ++i)
        create.push_back(static_cast<std::uint8_t>(Device >> (8 * i)));
    create.push_back(0x00);     // own public address
    AppendLe16(create, 0x0006); // interval min and max: 7.5 ms
    AppendLe16(create, 0x0006);
    AppendLe16(create, 0x0000); // latency
    AppendLe16(create, 0x00C8); // supervision timeout: 2 s
    AppendLe16(create, 0x0000); // connection event length
    AppendLe16(create, 0x0000);
    if (host.Command(0x200D, create) != 0x00)
        throw Failure{"LE Create Connection refused"};
    while (auto packet = host.Next())
    {
        const Bytes& b = packet->bytes;
        if (packet->type == 0x04 && b[0] == 0x3E && b.size() >= 6 && b[2] == 0x01)
        {
            if (b[3] != 0x00)
                throw Failure{"LE Connection Complete with status " + std::to_string(b[3])};
            return static_cast<std::uint16_t>(b[4] | b[5] << 8);
        }
    }
    throw Failure{"no LE Connection Complete"};
}

// Sends one ATT request and returns the answer of that opcode, skipping every other packet
// (completed-packet events, notifications); an ATT error answer fails the run.
Bytes Request(HciStream& host, std::uint16_t handle, const Bytes& request, std::uint8_t answer)
{
    if (!host.SendAtt(handle, request))
        throw Failure{"the bridge closed the connection"};
    while (auto packet = host.Next())
    {
        auto att = AttPayload(*packet);
        if (!att || att->empty())
            continue;
        if ((*att)[0] == answer)
            return *att;
        if ((*att)[0] == 0x01)
            throw Failure{"ATT error " + Hex(*att) + " to request " + Hex(request)};
    }
    throw Failure{"no answer to ATT request " + Hex(request) + " (stalled or closed)"};
}

// One read through the bridge, in microseconds.
double BridgeRead(HciStream& host, std::uint16_t handle, const Options& options)
{
    const Bytes request{0x0A, ReadDeclaration + 1, 0x00};
    Bytes expected{0x0B};
    Bytes value = Value(options.valueBytes, 0x10);
    expected.insert(expected.end(), value.begin(), value.end());
    auto start = Clock::now();
    Bytes answer = Request(host, handle, request, 0x0B);
    auto end = Clock::now();
    if (answer != expected)
        throw Failure{"read answered " + Hex(answer)};
    return Microseconds(end - start);
}

// Subscribes to every notifier and counts the notifications that follow, with their bytes.
void Notifications(HciStream& host, std::uint16_t handle, const Options& options)
{
    for (int i = 0; i < options.notifiers; ++i)
    {
        auto cccd = static_cast<std::uint16_t>(FirstNotifier + 3 * i + 2);
        Request(host, handle,
                {0x12, static_cast<std::uint8_t>(cccd), static_cast<std::uint8_t>(cccd >> 8), 0x01, 0x00},
                0x13);
    }
    auto start = Clock::now();
    std::uint64_t firstByte = host.ReceivedBytes();
    std::uint64_t valueBytes = 0;
    const int lastValue = FirstNotifier + 3 * (options.notifiers - 1) + 1;
    for (int received = 0; received < options.notifications;)
    {
        auto packet = host.Next();
        if (!packet)
            throw Failure{"notifications stopped after " + std::to_string(received)};
        auto att = AttPayload(*packet);
        if (!att || att->size() < 3 || (*att)[0] != 0x1B)
            continue;
        int valueHandle = (*att)[1] | (*att)[2] << 8;
        if (valueHandle < FirstNotifier + 1 || valueHandle > lastValue ||
            (valueHandle - FirstNotifier) % 3 != 1)
            throw Failure{"notification for handle " + std::to_string(valueHandle)};
        valueBytes += att->size() - 3;
        ++received;
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("RESULT notifications count=%d seconds=%.3f per_s=%.0f value_bytes_per_s=%.0f "
                "h4_bytes_per_s=%.0f notifiers=%d\n",
                options.notifications, seconds, options.notifications / seconds,
                static_cast<double>(valueBytes) / seconds,
                static_cast<double>(host.ReceivedBytes() - firstByte) / seconds, options.notifiers);
}

// ---- the device on its own ----

struct SimulatedDevice
{
    std::unique_ptr<Pd::Platform::LeDevice> device;
    std::vector<std::shared_ptr<Pd::Platform::GattCharacteristic>> characteristics; // as listed
};

SimulatedDevice OpenDevice(const Options& options)
{
    SimulatedDevice opened;
    auto device = Pd::Platform::OpenLeDevice(Device, true, {});
    if (!device || !*device)
        throw Failure{"the simulated device cannot be opened"};
    opened.device = std::move(*device);
    auto services = opened.device->GetGattServices({});
    if (!services || services->items.empty())
        throw Failure{"the simulated device lists no service"};
    auto characteristics = services->items[0]->GetCharacteristics({});
    if (!characteristics ||
        characteristics->items.size() != static_cast<std::size_t>(options.notifiers) + 1 ||
        characteristics->items[0]->AttributeHandle() != ReadDeclaration)
        throw Failure{"the simulated device lists other characteristics"};
    opened.characteristics = std::move(characteristics->items);
    return opened;
}

// The same read called directly on the simulated device, in microseconds.
double DeviceRead(const SimulatedDevice& device, const Options& options)
{
    auto& characteristic = *device.characteristics[0];
    auto start = Clock::now();
    auto read = characteristic.ReadValue({});
    auto end = Clock::now();
    if (!read || read->status != Pd::Platform::GattStatus::Success ||
        read->value.size() != static_cast<std::size_t>(options.valueBytes))
        throw Failure{"the simulated read failed"};
    return Microseconds(end - start);
}

// The value changes the device raises with every notifier subscribed: what the bridge can
// pass on at most.
void DeviceNotifications(const SimulatedDevice& device, const Options& options)
{
    using Pd::Platform::GattClientConfiguration;
    std::mutex lock;
    std::condition_variable done;
    int received = 0;
    Clock::time_point end;
    std::vector<std::int64_t> tokens;
    for (std::size_t i = 1; i < device.characteristics.size(); ++i)
    {
        auto token = device.characteristics[i]->AddValueChanged([&](const Bytes&) {
            std::lock_guard guard(lock);
            if (++received == options.notifications)
            {
                end = Clock::now();
                done.notify_all();
            }
        });
        if (!token)
            throw Failure{"the simulated device refused a ValueChanged handler"};
        tokens.push_back(*token);
    }
    auto configure = [&](GattClientConfiguration configuration) {
        for (std::size_t i = 1; i < device.characteristics.size(); ++i)
            if (auto written =
                    device.characteristics[i]->WriteClientCharacteristicConfigurationDescriptorWithResult(
                        configuration, {});
                !written || written->status != Pd::Platform::GattStatus::Success)
                throw Failure{"the simulated device refused a subscription"};
    };
    configure(GattClientConfiguration::Notify);
    auto start = Clock::now();
    {
        std::unique_lock guard(lock);
        received = 0;
        if (!done.wait_for(guard, StallTimeout, [&] { return received >= options.notifications; }))
            throw Failure{"the simulated device stopped notifying"};
    }
    configure(GattClientConfiguration::None);
    for (std::size_t i = 0; i < tokens.size(); ++i)
        device.characteristics[i + 1]->RemoveValueChanged(tokens[i]);
    double seconds = std::chrono::duration<double>(end - start).count();
    std::printf("RESULT device-notifications count=%d seconds=%.3f per_s=%.0f\n", options.notifications,
                seconds, options.notifications / seconds);
}

// ---- the run ----

// A loopback connection: the host's end, and the bridge's end that RunSession serves.
std::pair<SOCKET, SOCKET> LoopbackPair()
{
    SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    SOCKET host = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET || host == INVALID_SOCKET ||
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::connect(host, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
        throw Failure{"no loopback connection"};
    SOCKET bridge = ::accept(listener, nullptr, nullptr);
    ::closesocket(listener);
    if (bridge == INVALID_SOCKET)
        throw Failure{"no loopback connection"};
    return {host, bridge};
}

// The ceiling of the notifications: the same packets sent one send call each over a loopback
// connection of their own, with a thread waiting in recv on the sending socket meanwhile, as
// the session's does.
void LoopbackSends(const Options& options)
{
    auto [receiving, sending] = LoopbackPair();
    BOOL noDelay = TRUE;
    ::setsockopt(sending, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof(noDelay));
    Bytes packet{0x02, 0x40, 0x20, 27, 0x00, 23, 0x00, 0x04, 0x00, 0x1B, 0x05, 0x00};
    packet.resize(packet.size() + 20);
    std::thread reader([sending] {
        char ignored[64];
        while (::recv(sending, ignored, sizeof(ignored), 0) > 0)
        {
        }
    });
    std::thread sender([sending, &packet, count = options.notifications] {
        for (int i = 0; i < count; ++i)
            if (::send(sending, reinterpret_cast<const char*>(packet.data()), static_cast<int>(packet.size()),
                       0) <= 0)
                break;
    });
    HciStream host(receiving, StallTimeout);
    auto start = Clock::now();
    int received = 0;
    while (received < options.notifications && host.Next())
        ++received;
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    sender.join();
    ::closesocket(receiving); // ends the reader's recv
    reader.join();
    ::closesocket(sending);
    if (received < options.notifications)
        throw Failure{"the loopback connection stopped"};
    std::printf("RESULT loopback-sends count=%d seconds=%.3f per_s=%.0f\n", received, seconds,
                received / seconds);
}

// The floor of a read's round trip: a bare loopback peer that answers each request the way the
// session does (a completed-packets event, then the response, one send call each), until the
// host's end closes.
class LoopbackPeer
{
public:
    explicit LoopbackPeer(const Options& options)
    {
        std::tie(hostSocket_, peerSocket_) = LoopbackPair();
        Bytes value = Value(options.valueBytes, 0x10);
        response_.insert(response_.end(), value.begin(), value.end());
        response_[3] = static_cast<std::uint8_t>(response_.size() - 5);
        response_[5] = static_cast<std::uint8_t>(response_.size() - 9);
        peer_ = std::thread([this] {
            // It waits while the bridge takes its turn, however slow the device is set to be.
            HciStream stream(peerSocket_, std::chrono::hours(1));
            while (stream.Next())
                if (!stream.Send(completed_) || !stream.Send(response_))
                    break;
        });
        host_.emplace(hostSocket_, StallTimeout);
    }

    ~LoopbackPeer()
    {
        ::closesocket(hostSocket_);
        peer_.join();
        ::closesocket(peerSocket_);
    }

    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    double Read()
    {
        auto start = Clock::now();
        if (Request(*host_, 0x0040, {0x0A, ReadDeclaration + 1, 0x00}, 0x0B).size() != response_.size() - 9)
            throw Failure{"the loopback peer answered wrongly"};
        return Microseconds(Clock::now() - start);
    }

private:
    SOCKET hostSocket_ = INVALID_SOCKET;
    SOCKET peerSocket_ = INVALID_SOCKET;
    const Bytes completed_{0x04, 0x13, 0x05, 0x01, 0x40, 0x00, 0x01, 0x00};
    Bytes response_{0x02, 0x40, 0x20, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x0B};
    std::thread peer_;
    std::optional<HciStream> host_;
};

// The reads through the bridge, on the device directly and over the bare loopback peer, in
// rounds that take turns at going first, so that a change of the machine's load touches all
// three alike; each after its warm-up.
struct Reads
{
    std::vector<double> bridge, device, loopback;
};

Reads InterleavedReads(HciStream& host, std::uint16_t handle, const SimulatedDevice& device,
                       const Options& options)
{
    constexpr int Rounds = 20;
    LoopbackPeer loopback(options);
    for (int i = 0; i < WarmUp; ++i)
    {
        BridgeRead(host, handle, options);
        DeviceRead(device, options);
        loopback.Read();
    }
    Reads reads;
    for (int round = 0; round < Rounds; ++round)
    {
        const int count = options.reads * (round + 1) / Rounds - options.reads * round / Rounds;
        auto block = [&](bool bridge) {
            for (int i = 0; i < count; ++i)
                if (bridge)
                    reads.bridge.push_back(BridgeRead(host, handle, options));
                else
                    reads.loopback.push_back(loopback.Read());
        };
        block(round % 2 == 0);
        block(round % 2 != 0);
        for (int i = 0; i < count; ++i)
            reads.device.push_back(DeviceRead(device, options));
    }
    return reads;
}

void Run(const Options& options)
{
    Pd::Test::SimScenario pc(ScenarioJson(options));
    auto [hostSocket, bridgeSocket] = LoopbackPair();
    std::thread session([bridgeSocket] {
        Pd::Bt::RunSession(bridgeSocket, Adapter, {});
        ::closesocket(bridgeSocket); // as the guest loop does once the session returned
    });
    Pd::Core::ScopeExit ending([&] { // the session ends once the host closed its end
        ::closesocket(hostSocket);
        session.join();
    });

    HciStream host(hostSocket, StallTimeout);
    std::uint16_t handle = Connect(host);
    std::size_t connectedKib = CommittedKib();
    SimulatedDevice device = OpenDevice(options);
    Reads reads = InterleavedReads(host, handle, device, options);
    std::size_t readKib = CommittedKib();
    PrintLatencies("bridge-read", reads.bridge);
    PrintLatencies("device-read", reads.device);
    PrintLatencies("loopback-read", reads.loopback);
    if (options.notifications > 0 && options.notifiers > 0)
    {
        DeviceNotifications(device, options);
        LoopbackSends(options);
        Notifications(host, handle, options);
    }
    std::printf("RESULT memory connected_kib=%zu after_reads_kib=%zu after_notifications_kib=%zu\n",
                connectedKib, readKib, CommittedKib());
    std::printf("RESULT setting operation_ms=%d value_bytes=%d\n", options.operationMs, options.valueBytes);
}

bool ParseOptions(int argc, wchar_t** argv, Options& options)
{
    for (int i = 1; i + 1 < argc; i += 2)
    {
        std::wstring_view name = argv[i];
        int* target = name == L"--reads"           ? &options.reads
                      : name == L"--value-bytes"   ? &options.valueBytes
                      : name == L"--operation-ms"  ? &options.operationMs
                      : name == L"--notifications" ? &options.notifications
                      : name == L"--notifiers"     ? &options.notifiers
                                                   : nullptr;
        std::string number;
        for (const wchar_t* c = argv[i + 1]; *c; ++c)
            number += static_cast<char>(*c);
        if (!target ||
            std::from_chars(number.data(), number.data() + number.size(), *target).ec != std::errc() ||
            *target < 0)
            return false;
    }
    // One Read Response carries at most MTU - 1 = 22 bytes; the notifiers' handles stay 16-bit.
    return argc % 2 == 1 && options.reads > 0 && options.valueBytes <= 22 && options.notifiers <= 1000;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options))
    {
        std::fprintf(stderr, "usage: pd_bt_bench [--reads N>0] [--value-bytes 0-22] [--operation-ms N] "
                             "[--notifications N] [--notifiers 0-1000]\n");
        return 2;
    }
    Pd::Core::SetLogSink([](std::string_view line) {
        std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
    });
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return std::fprintf(stderr, "bench: no Winsock\n"), 1;
    int result = 0;
    try
    {
        Run(options);
    }
    catch (const Failure& failure)
    {
        std::fprintf(stderr, "bench: %s\n", failure.text.c_str());
        result = 1;
    }
    ::WSACleanup();
    return result;
}
