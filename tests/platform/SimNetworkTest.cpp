#include "platform/sim/SimNetwork.h"
#include "core/Handles.h"
#include "platform/NetworkConnectivity.h"
#include "platform/WebPage.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

namespace
{

using Pd::Platform::ConnectivityLevel;

// Wine has no connectivity hint: the real service, loaded at run time, reports itself unavailable.
TEST(NetworkHints, UnderWineTheRealHintIsUnavailable)
{
    Pd::UniqueHandle wake(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    EXPECT_FALSE(Pd::Platform::NetworkHints()->Level());
    EXPECT_FALSE(Pd::Platform::NetworkHints()->Watch(wake.Get()));
}

TEST(SimNetworkHints, TheScenarioGivesTheLevelAndNoKeyMeansNoHintAsUnderWine)
{
    Pd::Test::SimScenario pc("{}");
    EXPECT_FALSE(Pd::Platform::NetworkHints()->Level());
    Pd::UniqueHandle wake(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    EXPECT_FALSE(Pd::Platform::NetworkHints()->Watch(wake.Get()));

    pc.Write(R"({"network":{"connectivity":"fails"}})");
    EXPECT_FALSE(Pd::Platform::NetworkHints()->Level());
    pc.Write(R"({"network":{"connectivity":"constrained"}})");
    EXPECT_EQ(Pd::Platform::NetworkHints()->Level(), ConnectivityLevel::ConstrainedInternetAccess);
}

TEST(SimNetworkHints, AWatcherIsToldAtOnceAndOnEachChangeOfTheNetwork)
{
    Pd::Test::SimScenario pc(R"({"network":{"connectivity":"local"}})");
    Pd::UniqueHandle wake(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
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

TEST(SimWebPage, OpenedPagesAreRecordedAndAShellThatFailsRecordsNone)
{
    Pd::Test::SimScenario pc(R"({"shell":{"opensPages":false}})");
    EXPECT_FALSE(Pd::Platform::OpenWebPage(L"https://example.invalid/a"));
    pc.Write("{}");
    EXPECT_TRUE(Pd::Platform::OpenWebPage(L"https://example.invalid/b"));
    EXPECT_EQ(Pd::Platform::Sim::OpenedWebPages(pc.Folder()),
              std::vector<std::wstring>{L"https://example.invalid/b"});
}

} // namespace
