#include "core/Handles.h"
#include "platform/NetworkConnectivity.h"
#include "platform/sim/FolderWatch.h"
#include "platform/WebPage.h"
#include "tests/support/HangLimit.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <fstream>
#include <memory>
#include <new>
#include <thread>

namespace
{

using Pd::Platform::ConnectivityLevel;

TEST(SimNetworkHints, AWatcherIsToldAtOnceAndOnEachChangeOfTheNetworkOnly)
{
    Pd::Test::SimScenario pc("{}"); // no "network": no hint, as under Wine
    Pd::UniqueHandle wake(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    EXPECT_FALSE(Pd::Platform::NetworkHints()->Level());
    EXPECT_FALSE(Pd::Platform::NetworkHints()->Watch(wake.Get()));

    pc.Write(R"({"network":{"connectivity":"local"}})");
    auto watch = Pd::Platform::NetworkHints()->Watch(wake.Get());
    ASSERT_TRUE(watch);
    EXPECT_EQ(::WaitForSingleObject(wake.Get(), Pd::Test::HangLimitMs), WAIT_OBJECT_0);
    pc.Write(R"({"network":{"connectivity":"local"},"shell":{"opensPages":false}})");
    EXPECT_EQ(::WaitForSingleObject(wake.Get(), 300), static_cast<DWORD>(WAIT_TIMEOUT)); // not the network
    pc.Write(R"({"network":{"connectivity":"internet"}})");
    EXPECT_EQ(::WaitForSingleObject(wake.Get(), Pd::Test::HangLimitMs), WAIT_OBJECT_0);
    EXPECT_EQ(Pd::Platform::NetworkHints()->Level(), ConnectivityLevel::InternetAccess);
    pc.Write(R"({"network":{"connectivity":"internet","changes":1}})");
    EXPECT_EQ(::WaitForSingleObject(wake.Get(), Pd::Test::HangLimitMs), WAIT_OBJECT_0);
}

TEST(SimFolderWatch, ChecksRunOnChangesAndTimeOutsEndFromWithinAndEndOnlyOnceTheyReturn)
{
    using Pd::Platform::Sim::FolderWatch;
    Pd::Test::SimScenario pc("{}");
    Pd::UniqueHandle timed(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    Pd::UniqueHandle changed(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    Pd::UniqueHandle inCheck(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Pd::UniqueHandle release(::CreateEventW(nullptr, TRUE, FALSE, nullptr));

    // Times out once, then waits for a change and ends itself at it.
    std::unique_ptr<FolderWatch> ending;
    int endingRuns = 0;
    ending = std::make_unique<FolderWatch>(pc.Folder(), [&]() -> std::optional<DWORD> {
        if (++endingRuns == 1)
            return ::SetEvent(timed.Get()), INFINITE;
        ending.reset();
        ::SetEvent(changed.Get());
        return std::nullopt;
    });
    ASSERT_TRUE(ending->SeesChanges());
    ASSERT_TRUE(ending->Start(50));
    EXPECT_EQ(::WaitForSingleObject(timed.Get(), Pd::Test::HangLimitMs), WAIT_OBJECT_0);
    pc.Write(R"({"network":{}})");
    EXPECT_EQ(::WaitForSingleObject(changed.Get(), Pd::Test::HangLimitMs), WAIT_OBJECT_0);

    // A watch ended from another thread while its check runs ends once the check has returned.
    std::atomic<bool> returned = false;
    auto slow = std::make_unique<FolderWatch>(pc.Folder(), [&]() -> std::optional<DWORD> {
        ::SetEvent(inCheck.Get());
        ::WaitForSingleObject(release.Get(), Pd::Test::HangLimitMs);
        returned = true;
        return INFINITE;
    });
    ASSERT_TRUE(slow->Start(0));
    ASSERT_EQ(::WaitForSingleObject(inCheck.Get(), Pd::Test::HangLimitMs), WAIT_OBJECT_0);
    std::thread releaser([&] {
        ::Sleep(200);
        ::SetEvent(release.Get());
    });
    slow.reset();
    EXPECT_TRUE(returned);
    releaser.join();
    EXPECT_EQ(endingRuns, 2);

    // A watch started, while a check that ended its watch still runs, at that watch's very address
    // is a watch of its own: it is checked.
    alignas(FolderWatch) std::byte place[sizeof(FolderWatch)];
    Pd::UniqueHandle ended(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Pd::UniqueHandle restarted(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Pd::UniqueHandle checked(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    auto* first = new (place) FolderWatch(pc.Folder(), [&]() -> std::optional<DWORD> {
        std::launder(reinterpret_cast<FolderWatch*>(place))->~FolderWatch();
        ::SetEvent(ended.Get());
        ::WaitForSingleObject(restarted.Get(), Pd::Test::HangLimitMs);
        return std::nullopt;
    });
    ASSERT_TRUE(first->Start(0));
    ASSERT_EQ(::WaitForSingleObject(ended.Get(), Pd::Test::HangLimitMs), WAIT_OBJECT_0);
    auto* second = new (place) FolderWatch(pc.Folder(), [&]() -> std::optional<DWORD> {
        ::SetEvent(checked.Get());
        return std::nullopt;
    });
    ASSERT_TRUE(second->Start(0));
    ::SetEvent(restarted.Get());
    EXPECT_EQ(::WaitForSingleObject(checked.Get(), Pd::Test::HangLimitMs), WAIT_OBJECT_0);
    second->~FolderWatch();
}

// An elevated process that the desktop shell turns down opens nothing in its own token (a per-user
// file association or program would run with administrator rights); only an unelevated one falls
// back. Under Wine every process is elevated and the desktop shell always answers, so the decision
// is shown with stand-ins for the two ways to open.
TEST(OpenAsUser, AnElevatedProcessNeverFallsBackToItsOwnToken)
{
    struct Case
    {
        bool desktopTakes;
        bool elevated;
        DWORD own;
        bool opened;
        bool ownAsked;
    };
    for (const Case& c :
         {Case{true, true, 0, true, false}, Case{false, true, 0, false, false},
          Case{false, false, 0, true, true}, Case{false, false, ERROR_NO_ASSOCIATION, false, true}})
    {
        bool ownAsked = false;
        auto opened = Pd::Platform::Detail::OpenAsUserWith(
            {L"C:\\Users\\me\\x.txt", {}, {}}, c.elevated, [&](const auto&) { return c.desktopTakes; },
            [&](const auto&) {
                ownAsked = true;
                return c.own;
            });
        EXPECT_EQ(opened.has_value(), c.opened) << c.desktopTakes << c.elevated << c.own;
        EXPECT_EQ(ownAsked, c.ownAsked) << c.desktopTakes << c.elevated << c.own;
        if (!opened && c.elevated)
        {
            EXPECT_EQ(
                opened.error().text,
                L"the desktop shell did not take it, and Peldra opens nothing with administrator rights");
        }
    }
}

} // namespace
