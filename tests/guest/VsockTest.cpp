#include "guest/Vsock.h"

#include "core/Elevation.h"
#include "core/Handles.h"
#include "core/host/TrayHooks.h"
#include "core/Strings.h"
#include "platform/sim/SimComputeCore.h"
#include "tests/support/HangLimit.h"
#include "tests/support/LogCapture.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace
{

using namespace std::chrono_literals;
using Pd::Test::LogCapture;
using Pd::Test::LoopbackPeer;
using Pd::Test::SimScenario;

constexpr std::uint32_t ServiceId = 0x544B5445;
constexpr const char* VmId = "0D1E2F3A-4B5C-4D6E-8F70-8192A3B4C5D6";
constexpr const wchar_t* VmIdWide = L"0D1E2F3A-4B5C-4D6E-8F70-8192A3B4C5D6";

std::string VmScenario(int tcpPort = 0)
{
    std::string services = tcpPort ? fmt::format(R"("services":{{"{:08X}":{}}},)", ServiceId, tcpPort) : "";
    return fmt::format(R"({{{}"computeSystems":[{{"id":"{}","owner":"TovikAndroid"}}]}})", services, VmId);
}

constexpr const char* NoVm = R"({"computeSystems":[]})";

// Counts the calls of the tray's refresh hook while it lives, and notes what each call would
// show of the VM.
class RefreshCounter
{
public:
    RefreshCounter()
    {
        calls = 0;
        seen.clear();
        Pd::Host::TrayHooks::refresh.store([] {
            seen.push_back(Pd::Guest::AndroidVmSeen());
            ++calls;
        });
    }
    ~RefreshCounter() { Pd::Host::TrayHooks::refresh.store(nullptr); }

    // Waits until the hook was called `count` times; the loop logs a line just before it announces.
    static bool WaitForCalls(int count)
    {
        const auto deadline = std::chrono::steady_clock::now() + Pd::Test::HangLimit;
        while (calls < count && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
        return calls >= count;
    }
    static inline std::atomic<int> calls{0};
    static inline std::vector<bool> seen; // written by the one loop thread, read after it stopped
};

// ServeVsock on its own thread, as a bridge runs it.
class RunningLoop
{
public:
    RunningLoop(Pd::Guest::VsockHandler handler, Pd::Guest::VsockTimings timings)
        : handler_(std::move(handler)), returned_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          thread_([this, timings](std::stop_token stop) {
              Pd::Guest::ServeVsock(ServiceId, "Test service", handler_, stop, timings);
              ::SetEvent(returned_.Get());
          })
    {
    }

    // Requests stop and tells whether the loop returned (false when that hangs).
    bool StopAndWait()
    {
        thread_.request_stop();
        return ::WaitForSingleObject(returned_.Get(), Pd::Test::HangLimitMs) == WAIT_OBJECT_0;
    }

private:
    Pd::Guest::VsockHandler handler_;
    Pd::UniqueHandle returned_;
    std::jthread thread_;
};

// Reads until the loop shuts the socket down or the peer closes it.
void ReadUntilClosed(SOCKET socket, std::stop_token)
{
    char buffer[64];
    while (::recv(socket, buffer, sizeof(buffer), 0) > 0)
    {
    }
}

TEST(ServeVsock, LogsOneLinePerWaitingPeriodAndNoneForAServiceThatDoesNotListenYet)
{
    LogCapture log;
    SimScenario scenario(NoVm);
    RunningLoop loop(ReadUntilClosed, {20, 20, 100});
    ASSERT_TRUE(log.WaitFor("host: waiting for Tovik to start (Test service)"));
    std::this_thread::sleep_for(300ms); // many more looks, still the one line
    EXPECT_EQ(log.Lines().size(), 1u) << log.Dump();

    scenario.Write(VmScenario());
    ASSERT_TRUE(
        log.WaitFor(fmt::format("host: Tovik VM {{{}}} (TovikAndroid {}), connecting to vsock port 0x{:08X}",
                                VmId, Pd::Core::ToUtf8(Pd::Core::ProcessUserSid()), ServiceId)))
        << log.Dump();
    std::this_thread::sleep_for(300ms); // about fifteen failed attempts
    EXPECT_EQ(log.Lines().size(), 2u) << log.Dump();
    Pd::Platform::Sim::EndComputeSystem(scenario.Folder(), VmIdWide);
    ASSERT_TRUE(log.WaitFor("host: Tovik VM ended (Test service)")) << log.Dump();
    // A new waiting period logs its line again, once.
    ASSERT_TRUE(log.WaitFor("waiting for Tovik", 2)) << log.Dump();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(log.Count("waiting for Tovik"), 2u) << log.Dump();
    EXPECT_TRUE(loop.StopAndWait());
}

TEST(ServeVsock, AGuestThatAcceptsAndClosesAtOnceIsRetriedOnTheSpacingRhythmNotInATightLoop)
{
    constexpr auto Spacing = 250ms;
    LoopbackPeer peer(LoopbackPeer::CloseAtOnce);
    SimScenario scenario(VmScenario(peer.Port()));
    LogCapture log;
    const auto started = LoopbackPeer::Clock::now();
    RunningLoop loop(ReadUntilClosed, {20, static_cast<DWORD>(Spacing.count()), 1000});
    ASSERT_TRUE(peer.WaitForConnections(4, Pd::Test::HangLimit));
    EXPECT_TRUE(loop.StopAndWait());
    auto accepted = peer.Accepted();
    // Each attempt follows the one before by a spacing at least. The peer stamps an attempt only
    // when its accept thread runs, which a busy machine can delay: one gap between two stamps may
    // be shorter, but no stamp comes before its attempt, so the last is at least a spacing per
    // attempt after the loop started. A tight loop makes them all within milliseconds.
    const auto atLeast = std::chrono::duration_cast<std::chrono::nanoseconds>(Spacing * 9 / 10) *
                         static_cast<int>(accepted.size() - 1);
    EXPECT_GE(accepted.back() - started, atLeast) << accepted.size() << " attempts";
    EXPECT_GE(log.Count("host: Test service connected"), 4u);
    EXPECT_EQ(log.Count("host: Test service connected"), log.Count("host: Test service disconnected"));
}

TEST(ServeVsock, AfterALongConnectionEndsTheNextAttemptFollowsAtOnce)
{
    // An attempt that waited out a spacing after the end would come a whole one late at least,
    // however fast the machine; the spacing is long beside the seconds a busy machine may take to
    // schedule the loop and the peer.
    constexpr auto Spacing = 5000ms;
    std::atomic<int> served{0};
    LoopbackPeer::Clock::time_point firstClosed{};
    LoopbackPeer peer([&](SOCKET connection) {
        if (served++ == 0)
        {
            std::this_thread::sleep_for(Spacing + 200ms);
            firstClosed = LoopbackPeer::Clock::now();
            return; // the peer closes the connection
        }
        LoopbackPeer::HoldUntilClosed(connection);
    });
    SimScenario scenario(VmScenario(peer.Port()));
    LogCapture log;
    RunningLoop loop(ReadUntilClosed, {20, static_cast<DWORD>(Spacing.count()), 1000});
    ASSERT_TRUE(peer.WaitForConnections(2, Pd::Test::HangLimit));
    EXPECT_TRUE(loop.StopAndWait());
    EXPECT_LT(peer.Accepted()[1] - firstClosed, Spacing * 3 / 4);
    EXPECT_TRUE(log.WaitFor("host: Test service disconnected"));
}

TEST(ServeVsock, TheVmEndingDuringThePauseBetweenAttemptsEndsThePauseAndAnnouncesIt)
{
    Pd::UniqueHandle changed(::CreateEventW(nullptr, FALSE, FALSE, L"Local\\Peldra.Host.Changed"));
    ASSERT_TRUE(changed);
    RefreshCounter refreshes;
    LogCapture log;
    SimScenario scenario(VmScenario());                   // nothing listens: every attempt fails
    RunningLoop loop(ReadUntilClosed, {20, 600000, 100}); // a pause far longer than a hang's limit
    ASSERT_TRUE(log.WaitFor("connecting to vsock port"));
    EXPECT_EQ(::WaitForSingleObject(changed.Get(), Pd::Test::HangLimitMs), WAIT_OBJECT_0);
    EXPECT_TRUE(RefreshCounter::WaitForCalls(1));

    std::this_thread::sleep_for(100ms); // the loop now sits in its ten-minute pause
    Pd::Platform::Sim::EndComputeSystem(scenario.Folder(), VmIdWide);
    ASSERT_TRUE(log.WaitFor("host: Tovik VM ended (Test service)")) << "not at the end of the pause\n"
                                                                    << log.Dump();
    EXPECT_EQ(::WaitForSingleObject(changed.Get(), Pd::Test::HangLimitMs), WAIT_OBJECT_0);
    ASSERT_TRUE(log.WaitFor("waiting for Tovik")) << "back to looking for a VM";
    EXPECT_TRUE(loop.StopAndWait());
    EXPECT_EQ(RefreshCounter::calls, 2) << "the VM found, and the VM ended";
    EXPECT_EQ(RefreshCounter::seen, (std::vector<bool>{true, false})) << "the tray shows what was announced";
    EXPECT_FALSE(Pd::Guest::AndroidVmSeen());
}

TEST(ServeVsock, TheHandlerTalksOverTheSocketUntilStopEndsItWithoutAnEndedLine)
{
    RefreshCounter refreshes;
    std::atomic<bool> peerHeardPong{false};
    LoopbackPeer peer([&](SOCKET connection) {
        ::send(connection, "ping", 4, 0);
        char buffer[4] = {};
        peerHeardPong = ::recv(connection, buffer, sizeof(buffer), MSG_WAITALL) == 4 &&
                        std::string_view(buffer, 4) == "pong";
        LoopbackPeer::HoldUntilClosed(connection);
    });
    SimScenario scenario(VmScenario(peer.Port()));
    LogCapture log;
    std::atomic<bool> handlerReturned{false};
    RunningLoop loop(
        [&](SOCKET socket, std::stop_token stop) {
            char buffer[4] = {};
            if (::recv(socket, buffer, sizeof(buffer), MSG_WAITALL) == 4 &&
                std::string_view(buffer, 4) == "ping")
                ::send(socket, "pong", 4, 0);
            ReadUntilClosed(socket, stop); // blocks until the loop shuts the socket down
            handlerReturned = true;
        },
        {20, 100, 1000});
    ASSERT_TRUE(log.WaitFor("host: Test service connected"));
    EXPECT_TRUE(RefreshCounter::WaitForCalls(2)); // the VM found, the connection made
    const auto deadline = std::chrono::steady_clock::now() + Pd::Test::HangLimit;
    while (!peerHeardPong && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(peerHeardPong);
    ASSERT_TRUE(loop.StopAndWait());
    EXPECT_TRUE(handlerReturned);
    EXPECT_EQ(log.Count("host: Test service disconnected"), 1u);
    EXPECT_EQ(log.Count("Tovik VM ended"), 0u) << log.Dump();
    EXPECT_EQ(RefreshCounter::calls, 4); // the disconnection, and the end of the VM's watch
}

TEST(ServeVsock, StopWhileWaitingForAVmReturnsWithoutAnotherLine)
{
    LogCapture log;
    SimScenario scenario(NoVm);
    RunningLoop loop(ReadUntilClosed, {600000, 100, 100}); // a wait far longer than a hang's limit
    ASSERT_TRUE(log.WaitFor("waiting for Tovik"));
    ASSERT_TRUE(loop.StopAndWait()) << "the ten-minute wait must end on stop";
    EXPECT_EQ(log.Lines().size(), 1u) << log.Dump();
}

TEST(ServeVsock, AHandlerThatThrowsIsLoggedAndTheLoopCarriesOn)
{
    LoopbackPeer peer(LoopbackPeer::HoldUntilClosed);
    SimScenario scenario(VmScenario(peer.Port()));
    LogCapture log;
    RunningLoop loop([](SOCKET, std::stop_token) { throw std::runtime_error("bad frame"); }, {20, 50, 1000});
    ASSERT_TRUE(peer.WaitForConnections(2, Pd::Test::HangLimit)) << log.Dump();
    EXPECT_TRUE(loop.StopAndWait());
    EXPECT_GE(log.Count("host: Test service connection handler failed: bad frame"), 1u) << log.Dump();
    EXPECT_GE(log.Count("host: Test service disconnected"), 1u);
}

// The elevated host sees every account's VMs: it serves only the one whose owner names this user,
// says once why it passes over the others, and never connects to them.
TEST(ServeVsock, OnlyThisUsersAndroidVmIsServed)
{
    LoopbackPeer others(LoopbackPeer::HoldUntilClosed);
    LoopbackPeer ours(LoopbackPeer::HoldUntilClosed);
    const std::string other =
        fmt::format(R"({{"id":"{}","owner":"TovikAndroid","account":"S-1-5-21-9-9-9-1001",)"
                    R"("services":{{"{:08X}":{}}}}})",
                    VmId, ServiceId, others.Port());
    const std::string unnamed =
        fmt::format(R"({{"id":"2B1B9D9E-0A4C-4D3B-9E8F-7A6B5C4D3E2F","owner":"TovikAndroid",)"
                    R"("account":"","services":{{"{:08X}":{}}}}})",
                    ServiceId, others.Port());
    const std::string own = R"({"id":"5C4D3E2F-0A4C-4D3B-9E8F-7A6B2B1B9D9E","owner":"TovikAndroid"})";
    LogCapture log;
    SimScenario scenario(R"({"computeSystems":[)" + other + "," + unnamed + "]}");
    RunningLoop loop(ReadUntilClosed, {20, 20, 100});
    ASSERT_TRUE(log.WaitFor("(owner TovikAndroid) names no account of its own - not served (Test service)"))
        << log.Dump();
    EXPECT_EQ(
        log.Count(fmt::format("host: Android VM {{{}}} (owner TovikAndroid S-1-5-21-9-9-9-1001) belongs to "
                              "another account; ",
                              VmId)),
        1u)
        << log.Dump();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(log.Count("not served"), 1u) << "once while nothing changes\n" << log.Dump();

    scenario.Write(fmt::format(R"({{"services":{{"{:08X}":{}}},"computeSystems":[{},{},{}]}})", ServiceId,
                               ours.Port(), other, unnamed, own));
    ASSERT_TRUE(ours.WaitForConnections(1, Pd::Test::HangLimit)) << log.Dump();
    EXPECT_TRUE(loop.StopAndWait());
    EXPECT_TRUE(others.Accepted().empty());
}

TEST(ServeVsock, AnEmptyHandlerIsRefusedAtOnce)
{
    LogCapture log;
    std::stop_source never;
    Pd::Guest::ServeVsock(ServiceId, "Test service", Pd::Guest::VsockHandler{}, never.get_token());
    EXPECT_EQ(log.Count("host: Test service has no connection handler"), 1u);
}

TEST(RemoveVsockService, DeletesTheServiceKeyWithEverythingBelowIt)
{
    const std::wstring key = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Virtualization\\"
                             L"GuestCommunicationServices\\{544B5445-FACB-11E6-BD58-64006A7986D3}";
    HKEY created = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (key + L"\\Below").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &created, nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(created);
    ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"ElementName", REG_SZ, L"x", 4);

    EXPECT_TRUE(Pd::Guest::RemoveVsockService(ServiceId));
    HKEY opened = nullptr;
    EXPECT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &opened), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(Pd::Guest::RemoveVsockService(ServiceId));
}

} // namespace
