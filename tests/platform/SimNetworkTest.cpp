#include "core/Handles.h"
#include "platform/NetworkConnectivity.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

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

} // namespace
