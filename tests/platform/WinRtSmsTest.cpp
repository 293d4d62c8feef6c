// The real SMS router adapter against the test classes (tests/support/winrt-classes/SmsClasses.cpp).
#include "core/Strings.h"
#include "platform/RealServices.h"
#include "tests/platform/WinRtScripted.h"
#include "tests/support/HangLimit.h"

#include <atomic>
#include <mutex>

namespace Pd::Platform
{
namespace
{

class WinRtSms : public WinRtScripted
{
protected:
    void SetUp() override
    {
        Clear({L"PD_TEST_SMS_REGISTRATIONS", L"PD_TEST_SMS_FAIL", L"PD_TEST_SMS_MESSAGES", L"PD_TEST_CALLS",
               L"PD_TEST_UNREGISTERED"});
    }
};

TEST_F(WinRtSms, LeftRegistrationsGoAndOneWapPeekRuleIsRegistered)
{
    Script(L"PD_TEST_SMS_REGISTRATIONS", L"Peldra;Peldra2;Peldra");
    auto removed = Real::SmsRouting()->UnregisterAll(L"Peldra");
    ASSERT_TRUE(removed) << Core::ToUtf8(removed.error().text);
    EXPECT_EQ(*removed, 2u);
    EXPECT_EQ(Read(L"PD_TEST_SMS_REGISTRATIONS"), L"Peldra2");

    auto registration = Real::SmsRouting()->RegisterWapPeek(L"Peldra", [](Outcome<RoutedSmsMessage>) {});
    ASSERT_TRUE(registration) << Core::ToUtf8(registration.error().text);
    EXPECT_NE(Read(L"PD_TEST_CALLS").find(L"Register Peldra action 2 rules 2\n"), std::wstring::npos);
    EXPECT_EQ(Read(L"PD_TEST_SMS_REGISTRATIONS"), L"Peldra2;Peldra");
    ASSERT_TRUE((*registration)->Unregister());
    EXPECT_EQ(Read(L"PD_TEST_SMS_REGISTRATIONS"), L"Peldra2");
}

TEST_F(WinRtSms, MessagesArriveOnTheRouterThreadUntilTheRegistrationGoes)
{
    Script(L"PD_TEST_SMS_MESSAGES",
           L"2|+491701234567|application/vnd.wap.mms-message|133000000000000000|8C820131;1|x|y|0|;fail|||0|");
    std::mutex mutex;
    std::vector<Outcome<RoutedSmsMessage>> seen;
    std::atomic<bool> gone{false}, late{false};
    auto registration =
        Real::SmsRouting()->RegisterWapPeek(L"Peldra", [&](Outcome<RoutedSmsMessage> message) {
            if (gone)
                late = true;
            std::lock_guard lock(mutex);
            if (seen.size() < 3)
                seen.push_back(std::move(message));
        });
    ASSERT_TRUE(registration) << Core::ToUtf8(registration.error().text);
    ASSERT_TRUE(Pd::Test::PollUntil([&] {
        std::lock_guard lock(mutex);
        return seen.size() >= 3;
    }));
    ASSERT_TRUE((*registration)->Unregister()); // while messages keep coming from the router's thread
    registration->reset();
    gone = true;
    // The router's thread ends once no handler is left: every message it took in hand before the
    // removal has been handed on by then.
    ASSERT_TRUE(Pd::Test::PollUntil(
        [&] { return Read(L"PD_TEST_CALLS").find(L"MessageReceived ends\n") != std::wstring::npos; }));
    EXPECT_FALSE(late.load());
    EXPECT_NE(Read(L"PD_TEST_CALLS").find(L"RemoveMessageReceived 1\n"), std::wstring::npos);

    std::lock_guard lock(mutex);
    ASSERT_EQ(seen.size(), 3u);
    ASSERT_TRUE(seen[0]);
    EXPECT_EQ(seen[0]->type, SmsMessageType::Wap);
    EXPECT_EQ(seen[0]->from, L"+491701234567");
    EXPECT_EQ(seen[0]->contentType, L"application/vnd.wap.mms-message");
    EXPECT_EQ(seen[0]->timestamp, 133000000000000000);
    EXPECT_EQ(seen[0]->body, (std::vector<std::uint8_t>{0x8C, 0x82, 0x01, 0x31}));
    ASSERT_TRUE(seen[1]);
    EXPECT_EQ(seen[1]->type, SmsMessageType::Text);
    EXPECT_TRUE(seen[1]->body.empty()); // nothing but the type is read of other messages
    ASSERT_FALSE(seen[2]);
    EXPECT_EQ(seen[2].error().code, HRESULT_FROM_WIN32(ERROR_GEN_FAILURE));
}

TEST_F(WinRtSms, FailuresCarryTheirCodeAndLeaveNoRegistrationBehind)
{
    const struct
    {
        const wchar_t* fail;
        const wchar_t* unregistered;
        HRESULT code;
    } rows[] = {
        {L"Register 80070005", L"", E_ACCESSDENIED},
        {L"Rules 8007000E", L"", E_OUTOFMEMORY},
        {L"MessageReceived 80004005", L"", E_FAIL},
        {L"", L"Windows.Devices.Sms.SmsFilterRule", REGDB_E_CLASSNOTREG},
        {L"", L"Windows.Devices.Sms.SmsMessageRegistration", REGDB_E_CLASSNOTREG},
    };
    for (const auto& row : rows)
    {
        Script(L"PD_TEST_SMS_REGISTRATIONS", L"Other");
        Script(L"PD_TEST_SMS_FAIL", row.fail);
        Script(L"PD_TEST_UNREGISTERED", row.unregistered);
        auto registration = Real::SmsRouting()->RegisterWapPeek(L"Peldra", [](Outcome<RoutedSmsMessage>) {});
        ASSERT_FALSE(registration) << Core::ToUtf8(row.fail);
        EXPECT_EQ(registration.error().code, row.code) << Core::ToUtf8(row.fail);
        EXPECT_EQ(Read(L"PD_TEST_SMS_REGISTRATIONS"), L"Other") << Core::ToUtf8(row.fail);
    }

    Script(L"PD_TEST_UNREGISTERED", L"");
    Script(L"PD_TEST_SMS_REGISTRATIONS", L"Peldra;Peldra");
    for (const auto& [fail, code] :
         {std::pair{L"AllRegistrations 80070015", HRESULT_FROM_WIN32(ERROR_NOT_READY)},
          std::pair{L"Unregister 80070005", E_ACCESSDENIED}})
    {
        Script(L"PD_TEST_SMS_FAIL", fail);
        auto removed = Real::SmsRouting()->UnregisterAll(L"Peldra");
        ASSERT_FALSE(removed) << Core::ToUtf8(fail);
        EXPECT_EQ(removed.error().code, code) << Core::ToUtf8(fail);
    }
}

} // namespace
} // namespace Pd::Platform
