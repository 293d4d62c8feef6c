// The bridge entry on a simulated PC: the adapter comes from the scenario, the Android VM is
// listed by the simulated Host Compute Service, and Android's Bluetooth stack listens on the
// loopback port that stands for its Hyper-V socket service.
#include "bt/Bridge.h"

#include "tests/support/AndroidHciHost.h"
#include "tests/support/HangLimit.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <algorithm>
#include <future>
#include <optional>
#include <string_view>
#include <thread>

namespace
{

using Pd::Bt::BridgeResult;
using Pd::Test::AndroidHciHost;
using Pd::Test::LogCapture;
using Pd::Test::SimScenario;
using namespace std::chrono_literals;

constexpr const char* Vm = R"({"id":"0D1E2F3A-4B5C-4D6E-8F70-8192A3B4C5D6","owner":"TovikAndroid"})";

// The bridge on a simulated PC whose Android VM has Android's Bluetooth stack listening, run on
// a thread of its own as the host's Bluetooth thread runs it.
class ServedBridge
{
public:
    // The keys are added to the PC's "bluetooth" object, after its adapter.
    explicit ServedBridge(std::string_view bluetoothKeys = "")
        : port_(android.Listen()),
          pc_(fmt::format(
              R"({{"computeSystems":[{}],"services":{{"544B4254":{}}},"bluetooth":{{"adapter":"001A7DDA7113"{}}}}})",
              Vm, port_, bluetoothKeys)),
          result_(std::async(std::launch::async,
                             [token = stop_.get_token()] { return Pd::Bt::RunBridge(token); }))
    {
    }
    ~ServedBridge() { stop_.request_stop(); }

    // True once the bridge connected to Android's stack.
    bool Connected() { return port_ != 0 && android.Accept(Pd::Test::HangLimit); }

    // Stops the bridge and returns its result; nothing when it did not end in time.
    std::optional<BridgeResult> Stop()
    {
        stop_.request_stop();
        if (result_.wait_for(Pd::Test::HangLimit) != std::future_status::ready)
            return std::nullopt;
        return result_.get();
    }

    AndroidHciHost android;

private:
    std::uint16_t port_;
    SimScenario pc_;
    std::stop_source stop_;
    std::future<BridgeResult> result_;
};

TEST(Bridge, ServesAndroidsBluetoothStackWithTheAdaptersAddressUntilStopped)
{
    LogCapture log;
    ServedBridge bridge;
    ASSERT_TRUE(bridge.Connected()) << "the bridge never connected to the guest service";
    AndroidHciHost& android = bridge.android;

    EXPECT_EQ(android.Command(0x0C03), (AndroidHciHost::Bytes{0x00}));
    // Read BD_ADDR: status, then the address, least significant byte first.
    EXPECT_EQ(android.Command(0x1009), (AndroidHciHost::Bytes{0x00, 0x13, 0x71, 0xDA, 0x7D, 0x1A, 0x00}));
    EXPECT_EQ(bridge.Stop(), BridgeResult::Stopped);
    EXPECT_TRUE(android.WaitForClose());
    EXPECT_GT(log.Count("Bluetooth bridge 0.1.0"), 0u);
    EXPECT_GT(log.Count("adapter 001A7DDA7113"), 0u);
    EXPECT_GT(log.Count("bridge stopped"), 0u);
}

TEST(Bridge, EndsAtOnceWhenWindowsHasNoBluetoothAdapter)
{
    LogCapture log;
    SimScenario pc(fmt::format(R"({{"computeSystems":[{}]}})", Vm));
    EXPECT_EQ(Pd::Bt::RunBridge({}), BridgeResult::NoAdapter);
    EXPECT_GT(log.Count("no Bluetooth adapter is available in Windows"), 0u);
    EXPECT_EQ(log.Count("bridge stopped"), 0u);
}

TEST(Bridge, DefaultAdapterIsZeroWithoutABluetoothService)
{
    ASSERT_EQ(::GetEnvironmentVariableW(L"PELDRA_SIMULATION", nullptr, 0), 0u);
    EXPECT_EQ(Pd::Bt::DefaultAdapter(), 0u);
    SimScenario pc(R"({"bluetooth":{"adapter":"A0B1C2D3E4F5"}})");
    EXPECT_EQ(Pd::Bt::DefaultAdapter(), 0xA0B1C2D3E4F5u);
}

// Two advertisers around the simulated PC: a connectable one with a section too long for a
// legacy report between two that fit, and a scan response with too strong a signal.
constexpr const char* Advertisers = R"(,"advertisers":[
    {"address":"C0FFEE000001","random":true,"type":0,"rssi":-128,"everyMs":30,"sections":[
        {"type":1,"hex":"06"},
        {"type":255,"hex":"000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D"},
        {"type":9,"hex":"4B6579"}]},
    {"address":"C0FFEE000002","type":4,"rssi":25,"everyMs":30,"sections":[{"type":9,"hex":"5363616E"}]}])";

TEST(Bridge, AndroidScanningHearsTheAdvertisersOfThePcReencodedUntilItStops)
{
    LogCapture log;
    ServedBridge bridge(Advertisers);
    ASSERT_TRUE(bridge.Connected()) << "the bridge never connected to the guest service";
    AndroidHciHost& android = bridge.android;

    ASSERT_EQ(android.Command(0x0C03), (AndroidHciHost::Bytes{0x00}));
    ASSERT_EQ(android.Command(0x200B, {0x01, 0x10, 0x00, 0x10, 0x00, 0x00, 0x00}),
              (AndroidHciHost::Bytes{0x00}));
    ASSERT_EQ(android.Command(0x200C, {0x01, 0x01}), (AndroidHciHost::Bytes{0x00}));
    // LE Meta, LE Advertising Report: one report, kind, address type, address, data, RSSI.
    const AndroidHciHost::Bytes connectable = {0x3E, 0x14, 0x02, 0x01, 0,   0x01, 0x01, 0x00,
                                               0x00, 0xEE, 0xFF, 0xC0, 8,   0x02, 0x01, 0x06,
                                               0x04, 0x09, 'K',  'e',  'y', 0x81};
    const AndroidHciHost::Bytes scanResponse = {0x3E, 0x12, 0x02, 0x01, 4,    0x00, 0x02, 0x00, 0x00, 0xEE,
                                                0xFF, 0xC0, 6,    0x05, 0x09, 'S',  'c',  'a',  'n',  20};
    std::vector<AndroidHciHost::Bytes> reports;
    while (reports.size() < 2)
    {
        auto packet = android.Receive();
        ASSERT_TRUE(packet) << "no advertising report came";
        EXPECT_EQ(packet->type, 4);
        reports.push_back(packet->bytes);
    }
    // Both advertise every 30 ms: with duplicates filtered, each is reported once.
    EXPECT_FALSE(android.Receive(300ms)) << "a duplicate was reported";
    EXPECT_TRUE(std::ranges::find(reports, connectable) != reports.end());
    EXPECT_TRUE(std::ranges::find(reports, scanResponse) != reports.end());
    EXPECT_EQ(log.Count("scan: started (active)"), 1u) << log.Dump();

    // Once scanning is disabled, no report follows its Command Complete.
    EXPECT_EQ(android.Command(0x200C, {0x00, 0x00}), (AndroidHciHost::Bytes{0x00}));
    EXPECT_FALSE(android.Receive(200ms));
    EXPECT_EQ(log.Count("scan: stopped"), 1u);

    EXPECT_EQ(bridge.Stop(), BridgeResult::Stopped);
}

} // namespace
