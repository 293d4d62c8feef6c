// Windows' SMS router as the modem will use it, on a simulated PC: registrations left by earlier
// runs, WAP notices handed on the router's own thread while registered, and its failures.
#include "platform/SmsRouter.h"

#include "platform/sim/Scenario.h"
#include "platform/sim/SimSmsRouter.h"
#include "tests/support/HangLimit.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace
{

using namespace Pd::Platform;
using Pd::Test::SimScenario;
using namespace std::chrono_literals;

// What a registration's handler was given, in order.
struct Received
{
    std::mutex lock;
    std::vector<Outcome<RoutedSmsMessage>> messages;

    RoutedSmsHandler Handler()
    {
        return [this](Outcome<RoutedSmsMessage> message) {
            std::lock_guard guard(lock);
            messages.push_back(std::move(message));
        };
    }
    std::size_t Count()
    {
        std::lock_guard guard(lock);
        return messages.size();
    }
};

TEST(SmsRouter, LeftRegistrationsGoAndNoticesArriveWhileRegistered)
{
    SimScenario pc(R"({"smsRouter": {"registrations": ["Peldra", "Other", "Peldra"], "messages": [
        {"type": 2, "from": "+4915112345678", "contentType": "application/vnd.wap.mms-message",
         "hex": "8C82", "timestamp": 133497000000000000, "afterMs": 150},
        {"type": 1, "from": "+49", "afterMs": 50},
        {"afterMs": 100, "readFails": "0x8000000E"},
        {"afterMs": 3600000}]}})"); // not due while the test runs, however slowly
    auto router = SmsRouting();
    EXPECT_EQ(router->UnregisterAll(L"Peldra"), 2u);
    Received received;
    auto registration = router->RegisterWapPeek(L"Peldra", received.Handler());
    ASSERT_TRUE(registration);
    EXPECT_EQ(Sim::SmsRegistrations(pc.Folder()), (std::vector<std::wstring>{L"Other", L"Peldra"}));

    ASSERT_TRUE(Pd::Test::PollUntil([&] { return received.Count() >= 3; }));
    ASSERT_EQ(received.Count(), 3u);
    EXPECT_EQ(received.messages[0]->type, SmsMessageType::Text);
    EXPECT_EQ(received.messages[1].error().code, static_cast<HRESULT>(0x8000000E));
    const RoutedSmsMessage& wap = *received.messages[2];
    EXPECT_EQ(wap.type, SmsMessageType::Wap);
    EXPECT_EQ(wap.from, L"+4915112345678");
    EXPECT_EQ(wap.contentType, L"application/vnd.wap.mms-message");
    EXPECT_EQ(wap.body, (std::vector<std::uint8_t>{0x8C, 0x82}));
    EXPECT_EQ(wap.timestamp, 133497000000000000);

    // Releasing the object ends the calls at once; the registration stays until unregistered.
    registration->reset();
    EXPECT_EQ(received.Count(), 3u);
    EXPECT_EQ(SmsRouting()->UnregisterAll(L"Peldra"), 1u);
    EXPECT_EQ(Sim::SmsRegistrations(pc.Folder()), (std::vector<std::wstring>{L"Other"}));
}

TEST(SmsRouter, FailuresComeWithTheirCodes)
{
    struct Case
    {
        const char* scenario;
        HRESULT code;
    };
    const Case cases[] = {
        {R"({"smsRouter": {"registerFails": "0x80070005"}})", E_ACCESSDENIED},
        {"{}", REGDB_E_CLASSNOTREG},
    };
    for (const Case& c : cases)
    {
        SimScenario pc(c.scenario);
        auto registration = SmsRouting()->RegisterWapPeek(L"Peldra", [](Outcome<RoutedSmsMessage>) {});
        ASSERT_FALSE(registration) << c.scenario;
        EXPECT_EQ(registration.error().code, c.code) << c.scenario;
    }
    EXPECT_EQ(SmsRouting()->UnregisterAll(L"Peldra").error().code, REGDB_E_CLASSNOTREG); // no simulation

    auto wrong =
        Sim::ParseScenario(Pd::Json::ParseUtf8(R"({"smsRouter": {"messages": [{"hex": "8C8"}]}})").value());
    ASSERT_FALSE(wrong);
    EXPECT_NE(wrong.error().find(L"hex"), std::wstring::npos);
}

} // namespace
