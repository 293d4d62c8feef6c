// The LE link against simulated devices: GATT operations through the seam, the device going
// away during a request, operations that never complete until Close cancels them, and the
// bound of the inbound queue.
#include "bt/link/WindowsLeLink.h"

#include "bt/crypto/SecurityFunctions.h"

#include "tests/support/HangLimit.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

namespace
{

using namespace Pd::Bt;
using namespace std::chrono_literals;
using Pd::Test::LogCapture;
using Pd::Test::SimScenario;

constexpr std::uint64_t Peer = 0xC0FFEE000001;

Bytes Cat(Bytes head, std::span<const std::uint8_t> tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// Service 1; characteristics at 2 (read, notify; CCCD 4), 5 (read, write), 7 (refused by the
// device with Insufficient Authentication) and 9 (refused by Windows: access denied).
std::string Scenario(std::string_view deviceKeys)
{
    return std::string(R"({"bluetooth":{"devices":[{"address":"C0FFEE000001","random":true,)") +
           std::string(deviceKeys) + R"("services":[{"uuid":"180F","handle":1,"characteristics":[
      {"uuid":"2A19","handle":2,"properties":18,"value":"64","changes":["63","62"],"changeEveryMs":20,
       "descriptors":[{"uuid":"2902","handle":4}]},
      {"uuid":"2A00","handle":5,"properties":10,"value":"4142"},
      {"uuid":"2A01","handle":7,"properties":2,"readStatus":2,"readError":5},
      {"uuid":"2A02","handle":9,"properties":2,"readStatus":3}]}]}]}})";
}

// What the link hands the controller.
struct Recorder
{
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::pair<std::uint16_t, Bytes>> sent;
    std::vector<std::uint8_t> disconnects;
    int creditsFreed = 0;

    template <typename Predicate> bool WaitFor(Predicate predicate)
    {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, Pd::Test::HangLimit, [&] { return predicate(); });
    }
    bool WaitForSent(const Bytes& pdu, std::uint16_t cid = 4)
    {
        return WaitFor([&] {
            return std::find(sent.begin(), sent.end(), std::pair<std::uint16_t, Bytes>(cid, pdu)) !=
                   sent.end();
        });
    }
    std::size_t Sent()
    {
        std::lock_guard guard(lock);
        return sent.size();
    }
};

std::unique_ptr<LeLink> Connect(Recorder& recorder, std::uint8_t& status, std::stop_token stop = {},
                                InboundLimits limits = {})
{
    auto connector = WindowsLinkConnector(
        [](std::uint64_t address, bool random, std::stop_token stop) {
            return Pd::Platform::OpenLeDevice(address, random, stop);
        },
        limits);
    auto notify = [&recorder](auto change) {
        std::lock_guard guard(recorder.lock);
        change();
        recorder.changed.notify_all();
    };
    return connector(
        {0x112233445566, false, Peer, true},
        [notify, &recorder](std::uint16_t cid, Bytes pdu) {
            notify([&] { recorder.sent.emplace_back(cid, pdu); });
        },
        [notify, &recorder](std::uint8_t reason) { notify([&] { recorder.disconnects.push_back(reason); }); },
        [notify, &recorder] { notify([&] { ++recorder.creditsFreed; }); }, status, stop);
}

// Close must return although the operation it waits for never would.
void ExpectCloseReturns(LeLink& link)
{
    auto closed = std::async(std::launch::async, [&link] { link.Close(); });
    ASSERT_EQ(closed.wait_for(Pd::Test::HangLimit), std::future_status::ready) << "Close waits for Windows";
}

TEST(LeLink, GattOperationsReachTheDeviceAndItsAnswersReachAndroid)
{
    SimScenario pc(Scenario(""));
    Recorder recorder;
    std::uint8_t status = 0xFF;
    auto link = Connect(recorder, status);
    ASSERT_TRUE(link);
    EXPECT_EQ(status, 0x00);

    struct Case
    {
        Bytes request, answer;
    } cases[] = {
        {{0x0A, 0x03, 0x00}, {0x0B, 0x64}},                   // value read from the device
        {{0x0A, 0x08, 0x00}, {0x01, 0x0A, 0x08, 0x00, 0x05}}, // the device's own error
        {{0x0A, 0x0A, 0x00}, {0x01, 0x0A, 0x0A, 0x00, 0x02}}, // Windows denied access
        {{0x12, 0x06, 0x00, 0x58, 0x59}, {0x13}},             // write with response
        {{0x0A, 0x06, 0x00}, {0x0B, 0x58, 0x59}},             // ...which the device kept
        {{0x12, 0x04, 0x00, 0x01, 0x00}, {0x13}},             // subscribe for notifications
        {{0x1B, 0x03, 0x00, 0x63}, {0x1B, 0x03, 0x00, 0x63}}, // the device's next value
        {{0x12, 0x04, 0x00, 0x00, 0x00}, {0x13}},             // unsubscribe
    };
    for (const Case& c : cases)
    {
        if (c.request[0] != 0x1B)
        {
            EXPECT_TRUE(link->PushFromAndroid(4, c.request));
        }
        EXPECT_TRUE(recorder.WaitForSent(c.answer))
            << "no answer to request 0x" << std::hex << int(c.request[0]);
    }
    link->Close();
    std::size_t after = recorder.Sent();
    std::this_thread::sleep_for(100ms); // value changes would arrive every 20 ms
    EXPECT_EQ(recorder.Sent(), after) << "sent after Close";
}

TEST(LeLink, AndroidsPairingRequestPairsTheDeviceInWindowsFirst)
{
    const Bytes request{0x01, 0x04, 0x00, 0x2D, 0x10, 0x0F, 0x0F};
    const Bytes response{0x02, 0x03, 0x00, 0x01, 0x10, 0x00, 0x01};
    struct Case
    {
        const char* pairing;
        Bytes answer;
        const char* windowsLine; // none when Windows is not asked
    } cases[] = {
        {R"({"result":0})", response, "smp C0FFEE000001: Windows pairing result 0"},
        {R"({"result":9})", {0x05, 0x08}, "smp C0FFEE000001: Windows pairing result 9"},
        {R"({"result":7,"ms":30})", {0x05, 0x08}, "smp C0FFEE000001: Windows pairing result 7"},
        {R"({"paired":true,"result":9})", response, nullptr},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pairing);
        SimScenario pc(Scenario(std::string(R"("pairing":)") + c.pairing + ","));
        LogCapture log;
        Recorder recorder;
        std::uint8_t status = 0xFF;
        auto link = Connect(recorder, status);
        ASSERT_TRUE(link);
        link->PushFromAndroid(6, request);
        EXPECT_TRUE(recorder.WaitForSent(c.answer, 6));
        EXPECT_EQ(log.Count("smp C0FFEE000001: pairing in Windows"), c.windowsLine ? 1u : 0u) << log.Dump();
        if (c.windowsLine)
        {
            EXPECT_EQ(log.Count(c.windowsLine), 1u) << log.Dump();
        }
    }
}

TEST(LeLink, KeysGoOutBehindWhatWasQueuedAndOnlyWhenTheControllerAsks)
{
    SimScenario pc(Scenario(R"("operationMs":100,"pairing":{"paired":true},)"));
    Recorder recorder;
    std::uint8_t status = 0xFF;
    auto link = Connect(recorder, status);
    ASSERT_TRUE(link);
    // Android's side of a Just Works pairing that asks for the link's key, up to its random value.
    const Bytes request{0x01, 0x04, 0x00, 0x2D, 0x10, 0x0F, 0x0F};
    const Bytes response{0x02, 0x03, 0x00, 0x01, 0x10, 0x00, 0x01};
    const Block random{1, 2, 3};
    const Block confirm =
        PairingConfirm(Block{}, random, std::span<const std::uint8_t, 7>(request.data(), 7),
                       std::span<const std::uint8_t, 7>(response.data(), 7), 0, 0x112233445566, 1, Peer);
    auto pair = [&] {
        link->PushFromAndroid(6, request);
        link->PushFromAndroid(6, Cat({0x03}, confirm));
        link->PushFromAndroid(6, Cat({0x04}, random));
    };
    auto smpSent = [&] {
        std::lock_guard guard(recorder.lock);
        std::string codes;
        for (const auto& [cid, pdu] : recorder.sent)
            if (cid == 6)
                codes += std::to_string(pdu.at(0));
        return codes;
    };
    // Asked while a slow write and the pairing still wait: the keys follow the pairing.
    link->PushFromAndroid(4, {0x12, 0x06, 0x00, 0x01});
    pair();
    link->DistributeKeys();
    link->DistributeKeys();
    ASSERT_TRUE(recorder.WaitFor([&] { return recorder.sent.size() >= 6; })) << smpSent();
    EXPECT_EQ(smpSent(), "23467");
    // Android's own PDU on CID 0xFFFF is no request for keys.
    pair();
    link->PushFromAndroid(0xFFFF, {});
    link->PushFromAndroid(4, {0x0A, 0x06, 0x00});
    ASSERT_TRUE(recorder.WaitForSent({0x0B, 0x01}));
    EXPECT_EQ(smpSent(), "23467234");
    link->DistributeKeys();
    ASSERT_TRUE(recorder.WaitFor([&] { return recorder.sent.size() >= 12; })) << smpSent();
    EXPECT_EQ(smpSent(), "2346723467");
}

TEST(LeLink, DeviceLostDuringARequestIsReportedOnceAndTheRequestFails)
{
    SimScenario pc(Scenario(R"("operationMs":150,"disconnectAfterMs":50,)"));
    LogCapture log;
    Recorder recorder;
    std::uint8_t status = 0xFF;
    auto link = Connect(recorder, status);
    ASSERT_TRUE(link);
    link->PushFromAndroid(4, {0x0A, 0x03, 0x00});
    EXPECT_TRUE(recorder.WaitForSent({0x01, 0x0A, 0x03, 0x00, 0x0E}));
    EXPECT_TRUE(link->IsDisconnected());
    link->Close();
    EXPECT_EQ(recorder.disconnects, Bytes{0x08});
    EXPECT_EQ(log.Count("gatt C0FFEE000001: the device disconnected"), 1u) << log.Dump();
}

TEST(LeLink, CloseCancelsWhatNeverCompletesAndDiscardsTheQueue)
{
    struct Case
    {
        const char* hangs;
        std::uint16_t cid;
        Bytes pdu;
    } cases[] = {
        {"read", 4, {0x0A, 0x03, 0x00}},
        {"write", 4, {0x12, 0x06, 0x00, 0x01}},
        {"configure", 4, {0x12, 0x04, 0x00, 0x02, 0x00}},
        {"pair", 6, {0x01, 0x04, 0x00, 0x2D, 0x10, 0x0F, 0x0F}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.hangs);
        SimScenario pc(Scenario(std::string(R"("hangs":[")") + c.hangs + R"("],)"));
        LogCapture log;
        Recorder recorder;
        std::uint8_t status = 0xFF;
        auto link = Connect(recorder, status);
        ASSERT_TRUE(link);
        link->PushFromAndroid(c.cid, c.pdu);
        link->PushFromAndroid(4, {0x0A, 0x06, 0x00}); // queued behind it, never run
        ASSERT_TRUE(log.WaitFor(std::string("simulation: ") + c.hangs + " hangs")) << log.Dump();
        ExpectCloseReturns(*link);
        EXPECT_EQ(recorder.Sent(), 0u) << "answered after Close";
    }

    // The opening itself and the reading of the database, cancelled by the controller's stop.
    for (const char* hangs : {"open", "discover"})
    {
        SCOPED_TRACE(hangs);
        SimScenario pc(Scenario(std::string(R"("hangs":[")") + hangs + R"("],)"));
        LogCapture log;
        Recorder recorder;
        std::uint8_t status = 0xFF;
        std::stop_source stop;
        auto connecting =
            std::async(std::launch::async, [&] { return Connect(recorder, status, stop.get_token()); });
        ASSERT_TRUE(log.WaitFor(std::string("simulation: ") + hangs + " hangs")) << log.Dump();
        stop.request_stop();
        ASSERT_EQ(connecting.wait_for(Pd::Test::HangLimit), std::future_status::ready);
        EXPECT_FALSE(connecting.get());
        EXPECT_EQ(status, 0x3E);
    }
}

TEST(LeLink, InboundQueueHoldsCreditsThenRefusesRequestsPastItsBound)
{
    {
        SimScenario pc(Scenario(R"("hangs":["write"],)"));
        LogCapture log;
        Recorder recorder;
        std::uint8_t status = 0xFF;
        auto link = Connect(recorder, status, {}, InboundLimits{4, 1024});
        ASSERT_TRUE(link);
        int held = 0;
        for (int i = 0; i < 10; ++i)
            held += link->PushFromAndroid(4, {0x52, 0x06, 0x00, static_cast<std::uint8_t>(i)}) ? 0 : 1;
        EXPECT_GE(held, 1) << "credits never held back";
        EXPECT_TRUE(link->PushFromAndroid(4, {0x0A, 0x03, 0x00}));
        EXPECT_TRUE(recorder.WaitForSent({0x01, 0x0A, 0x00, 0x00, 0x11}));
        EXPECT_EQ(log.Count("inbound queue full"), 1u) << log.Dump();
        ExpectCloseReturns(*link);
    }
    // A slow device drains the queue and gives the held credits back.
    SimScenario pc(Scenario(R"("operationMs":10,)"));
    Recorder recorder;
    std::uint8_t status = 0xFF;
    auto link = Connect(recorder, status, {}, InboundLimits{4, 1024});
    ASSERT_TRUE(link);
    bool held = false;
    for (int i = 0; i < 4; ++i)
        held |= !link->PushFromAndroid(4, {0x52, 0x06, 0x00, static_cast<std::uint8_t>(i)});
    EXPECT_TRUE(held);
    EXPECT_TRUE(recorder.WaitFor([&] { return recorder.creditsFreed == 1; }));
}

} // namespace
