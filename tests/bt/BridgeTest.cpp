// The bridge entry on a simulated PC: the adapter comes from the scenario, the Android VM is
// listed by the simulated Host Compute Service, and Android's Bluetooth stack listens on the
// loopback port that stands for its Hyper-V socket service.
#include "bt/Bridge.h"

#include "tests/support/AndroidHciHost.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <future>
#include <thread>

namespace
{

using Pd::Bt::BridgeResult;
using Pd::Test::AndroidHciHost;
using Pd::Test::LogCapture;
using Pd::Test::SimScenario;
using namespace std::chrono_literals;

constexpr const char* Vm = R"({"id":"0D1E2F3A-4B5C-4D6E-8F70-8192A3B4C5D6","owner":"TovikAndroid"})";

TEST(Bridge, ServesAndroidsBluetoothStackWithTheAdaptersAddressUntilStopped)
{
    LogCapture log;
    AndroidHciHost android;
    std::uint16_t port = android.Listen();
    ASSERT_NE(port, 0);
    SimScenario pc(fmt::format(
        R"({{"computeSystems":[{}],"services":{{"544B4254":{}}},"bluetooth":{{"adapter":"001A7DDA7113"}}}})",
        Vm, port));
    // On a thread of its own, as the host's Bluetooth thread runs it.
    std::stop_source stop;
    auto bridge =
        std::async(std::launch::async, [token = stop.get_token()] { return Pd::Bt::RunBridge(token); });
    ASSERT_TRUE(android.Accept(15s)) << "the bridge never connected to the guest service";

    EXPECT_EQ(android.Command(0x0C03), (AndroidHciHost::Bytes{0x00}));
    // Read BD_ADDR: status, then the address, least significant byte first.
    EXPECT_EQ(android.Command(0x1009), (AndroidHciHost::Bytes{0x00, 0x13, 0x71, 0xDA, 0x7D, 0x1A, 0x00}));
    stop.request_stop();
    ASSERT_EQ(bridge.wait_for(15s), std::future_status::ready);
    EXPECT_EQ(bridge.get(), BridgeResult::Stopped);
    EXPECT_TRUE(android.WaitForClose(5s));
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

} // namespace
