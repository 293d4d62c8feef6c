#include "core/Handles.h"
#include "platform/NetworkConnectivity.h"
#include "platform/sim/FolderWatch.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <memory>
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
    EXPECT_EQ(::WaitForSingleObject(wake.Get(), 5000), WAIT_OBJECT_0);
    pc.Write(R"({"network":{"connectivity":"local"},"shell":{"opensPages":false}})");
    EXPECT_EQ(::WaitForSingleObject(wake.Get(), 300), static_cast<DWORD>(WAIT_TIMEOUT)); // not the network
    pc.Write(R"({"network":{"connectivity":"internet"}})");
    EXPECT_EQ(::WaitForSingleObject(wake.Get(), 5000), WAIT_OBJECT_0);
    EXPECT_EQ(Pd::Platform::NetworkHints()->Level(), ConnectivityLevel::InternetAccess);
    pc.Write(R"({"network":{"connectivity":"internet","changes":1}})");
    EXPECT_EQ(::WaitForSingleObject(wake.Get(), 5000), WAIT_OBJECT_0);
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
    EXPECT_EQ(::WaitForSingleObject(timed.Get(), 5000), WAIT_OBJECT_0);
    pc.Write(R"({"network":{}})");
    EXPECT_EQ(::WaitForSingleObject(changed.Get(), 5000), WAIT_OBJECT_0);

    // A watch ended from another thread while its check runs ends once the check has returned.
    std::atomic<bool> returned = false;
    auto slow = std::make_unique<FolderWatch>(pc.Folder(), [&]() -> std::optional<DWORD> {
        ::SetEvent(inCheck.Get());
        ::WaitForSingleObject(release.Get(), 5000);
        returned = true;
        return INFINITE;
    });
    ASSERT_TRUE(slow->Start(0));
    ASSERT_EQ(::WaitForSingleObject(inCheck.Get(), 5000), WAIT_OBJECT_0);
    std::thread releaser([&] {
        ::Sleep(200);
        ::SetEvent(release.Get());
    });
    slow.reset();
    EXPECT_TRUE(returned);
    releaser.join();
    EXPECT_EQ(endingRuns, 2);
}

} // namespace
