// The real Mobile Broadband adapter against the test interface manager registered in this test's
// prefix (tests/support/winrt-classes/MbnClasses.cpp), scripted through the environment.
#include "core/Strings.h"
#include "platform/RealServices.h"
#include "tests/support/HangLimit.h"

#include <fmt/xchar.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace Pd::Platform
{
namespace
{

// Records every event as a line of text.
class Recorder final : public MbnEvents
{
public:
    void OnSmsSendComplete(std::uint32_t id, HRESULT status) override
    {
        Add(fmt::format(L"send {} {:08x}", id, static_cast<std::uint32_t>(status)));
    }
    void OnSmsReadComplete(std::uint32_t format, const std::vector<MbnSmsMessage>& messages, bool more,
                           std::uint32_t id, HRESULT) override
    {
        std::wstring line = fmt::format(L"read {} {} {}", id, format, more);
        for (const MbnSmsMessage& m : messages)
            line += m.isPdu ? fmt::format(L" {}:{}:{}", m.index.value_or(99), m.status.value_or(99),
                                          m.pduData.value_or(L"-"))
                            : L" other";
        Add(line);
    }
    void OnSmsNewClass0Message(std::uint32_t, const std::vector<MbnSmsMessage>&) override { Add(L"class0"); }
    void OnSmsDeleteComplete(std::uint32_t, HRESULT) override { Add(L"delete"); }
    void OnSmsStatusChange() override { Add(L"status"); }
    void OnSignalStateChange() override
    {
        Add(L"signal");
        if (duringSignal)
            duringSignal();
    }
    void OnRegisterStateChange() override { Add(L"registration"); }
    void OnPacketServiceStateChange() override { Add(L"packet"); }

    std::vector<std::wstring> WaitFor(std::size_t count)
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, Pd::Test::HangLimit, [&] { return lines_.size() >= count; });
        return lines_;
    }

    std::function<void()> duringSignal;

private:
    void Add(std::wstring line)
    {
        std::lock_guard lock(mutex_);
        lines_.push_back(std::move(line));
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::wstring> lines_;
};

class MbnAdapter : public testing::Test
{
protected:
    void SetUp() override
    {
        for (const wchar_t* name :
             {L"PD_TEST_MBN_INTERFACES", L"PD_TEST_MBN_FAIL", L"PD_TEST_MBN_MISSING", L"PD_TEST_MBN_STORE",
              L"PD_TEST_MBN_SEND", L"PD_TEST_MBN_FIRE", L"PD_TEST_UNREGISTERED", L"PD_TEST_CALLS"})
            ::SetEnvironmentVariableW(name, nullptr);
        Script(L"PD_TEST_MBN_MODEM", L"356938035643809|262011234567890|8949020000012345678|1|3|26201|"
                                     L"Tovik Net|20|17|+491710760000|2|4");
    }
    static void Script(const wchar_t* name, const wchar_t* value) { ::SetEnvironmentVariableW(name, value); }
    // The calls the test classes noted (in PD_TEST_CALLS), and whether they noted this one.
    static std::wstring Calls()
    {
        wchar_t calls[8192];
        const DWORD length = ::GetEnvironmentVariableW(L"PD_TEST_CALLS", calls, 8192);
        return length < 8192 ? std::wstring(calls, length) : std::wstring();
    }
    static bool Called(const std::wstring& call) { return Calls().find(call + L"\n") != std::wstring::npos; }

    // The first modem the manager gives.
    static std::shared_ptr<MbnInterface> Modem(std::shared_ptr<MbnInterfaceManager>& manager)
    {
        auto made = Real::MobileBroadband();
        EXPECT_TRUE(made) << Core::ToUtf8(made.error().text);
        if (!made)
            return nullptr;
        manager = *made;
        auto interfaces = manager->GetInterfaces();
        return interfaces && !interfaces->empty() ? interfaces->back() : nullptr;
    }
};

TEST_F(MbnAdapter, ModemIsReadThroughItsInterfaces)
{
    Script(L"PD_TEST_MBN_INTERFACES", L"other,null,modem");
    auto manager = Real::MobileBroadband();
    ASSERT_TRUE(manager) << Core::ToUtf8(manager.error().text);
    auto interfaces = (*manager)->GetInterfaces();
    ASSERT_TRUE(interfaces && interfaces->size() == 3);
    EXPECT_FALSE((*interfaces)[0] || (*interfaces)[1]); // no IMbnInterface, and a null element
    auto& modem = (*interfaces)[2];
    ASSERT_TRUE(modem && modem->Registration() && modem->Signal() && modem->Sms());
    EXPECT_EQ(modem->GetReadyState().value_or(0), MbnReadyStateInitialized);
    EXPECT_EQ(modem->GetDeviceId().value_or(L""), L"356938035643809");
    auto subscriber = modem->GetSubscriberInformation();
    ASSERT_TRUE(subscriber);
    EXPECT_EQ(subscriber->subscriberId, L"262011234567890");
    EXPECT_EQ(subscriber->simIccId, L"8949020000012345678");
    EXPECT_EQ(modem->Registration()->GetRegisterState().value_or(0), 3u);
    EXPECT_EQ(modem->Registration()->GetProviderId().value_or(L""), L"26201");
    EXPECT_EQ(modem->Registration()->GetProviderName().value_or(L""), L"Tovik Net");
    EXPECT_EQ(modem->Registration()->GetCurrentDataClass().value_or(0), 0x20u);
    EXPECT_EQ(modem->Signal()->GetSignalStrength().value_or(0), 17u);
    EXPECT_EQ(modem->Sms()->GetServiceCenterAddress().value_or(L""), L"+491710760000");
    auto status = modem->Sms()->GetSmsStatus();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->flag, MbnSmsFlagNewMessage);
    EXPECT_EQ(status->messageIndex, 4u);
}

TEST_F(MbnAdapter, FailuresCarryTheirCode)
{
    using Call = std::function<HRESULT(MbnInterface&)>;
    auto code = [](const auto& outcome) { return outcome ? S_OK : outcome.error().code; };
    const struct
    {
        const wchar_t* fail;
        Call call;
    } rows[] = {
        {L"GetReadyState 80070015", [&](MbnInterface& m) { return code(m.GetReadyState()); }},
        {L"GetInterfaceCapability 80070015", [&](MbnInterface& m) { return code(m.GetDeviceId()); }},
        {L"GetSubscriberInformation 80070015",
         [&](MbnInterface& m) { return code(m.GetSubscriberInformation()); }},
        {L"GetRegisterState 80070015",
         [&](MbnInterface& m) { return code(m.Registration()->GetRegisterState()); }},
        {L"GetProviderName 80070015",
         [&](MbnInterface& m) { return code(m.Registration()->GetProviderName()); }},
        {L"GetSignalStrength 80070015",
         [&](MbnInterface& m) { return code(m.Signal()->GetSignalStrength()); }},
        {L"ServiceCenterAddress 80070015",
         [&](MbnInterface& m) { return code(m.Sms()->GetServiceCenterAddress()); }},
        {L"GetSmsConfiguration 80070015",
         [&](MbnInterface& m) { return code(m.Sms()->GetServiceCenterAddress()); }},
        {L"SmsSendPdu 80070015", [&](MbnInterface& m) { return code(m.Sms()->SmsSendPdu(L"0011", 2)); }},
        {L"SmsRead 80070015", [&](MbnInterface& m) { return code(m.Sms()->SmsRead({}, MbnSmsFormatPdu)); }},
        {L"SmsDelete 80070015", [&](MbnInterface& m) { return code(m.Sms()->SmsDelete({})); }},
        {L"GetSmsStatus 80070015", [&](MbnInterface& m) { return code(m.Sms()->GetSmsStatus()); }},
    };
    for (const auto& row : rows)
    {
        SetUp();
        Script(L"PD_TEST_MBN_FAIL", row.fail);
        std::shared_ptr<MbnInterfaceManager> manager;
        auto modem = Modem(manager);
        ASSERT_TRUE(modem);
        EXPECT_EQ(row.call(*modem), HRESULT_FROM_WIN32(ERROR_NOT_READY)) << Core::ToUtf8(row.fail);
    }

    // One subscriber property failing leaves the other.
    SetUp();
    Script(L"PD_TEST_MBN_FAIL", L"SimIccID 80004005");
    std::shared_ptr<MbnInterfaceManager> manager;
    auto subscriber = Modem(manager)->GetSubscriberInformation();
    ASSERT_TRUE(subscriber);
    EXPECT_EQ(subscriber->subscriberId, L"262011234567890");
    EXPECT_FALSE(subscriber->simIccId);

    Script(L"PD_TEST_MBN_MISSING", L"registration signal sms");
    auto bare = Modem(manager);
    ASSERT_TRUE(bare);
    EXPECT_FALSE(bare->Registration() || bare->Signal() || bare->Sms());
}

TEST_F(MbnAdapter, NoModemOrNoServiceIsReported)
{
    Script(L"PD_TEST_MBN_INTERFACES", L"none");
    auto manager = Real::MobileBroadband();
    ASSERT_TRUE(manager);
    auto none = (*manager)->GetInterfaces();
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());

    Script(L"PD_TEST_MBN_FAIL", L"GetInterfaces 80070490");
    auto failed = (*manager)->GetInterfaces();
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().code, HRESULT_FROM_WIN32(ERROR_NOT_FOUND));

    Script(L"PD_TEST_UNREGISTERED", L"MbnInterfaceManager");
    auto missing = Real::MobileBroadband();
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, REGDB_E_CLASSNOTREG);
    EXPECT_NE(missing.error().text.find(L"MbnInterfaceManager"), std::wstring::npos);
}

TEST_F(MbnAdapter, SmsRequestsCompleteThroughTheSinkOnAnotherThread)
{
    Script(L"PD_TEST_MBN_STORE", L"3:0:0791AB;cdma;4:1:0791CD");
    Script(L"PD_TEST_MBN_SEND", L"80070015");
    std::shared_ptr<MbnInterfaceManager> manager;
    auto modem = Modem(manager);
    ASSERT_TRUE(modem);
    auto recorder = std::make_shared<Recorder>();
    auto cookie = manager->Advise(MbnEventFamily::Sms, recorder);
    ASSERT_TRUE(cookie) << Core::ToUtf8(cookie.error().text);

    auto sms = modem->Sms();
    auto sent = sms->SmsSendPdu(L"0011000B91", 9);
    ASSERT_TRUE(sent);
    auto lines = recorder->WaitFor(1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], fmt::format(L"send {} 80070015", *sent));

    auto all = sms->SmsRead({MbnSmsFlagAll, 0}, MbnSmsFormatPdu);
    auto one = sms->SmsRead({MbnSmsFlagIndex, 4}, MbnSmsFormatPdu);
    ASSERT_TRUE(all && one);
    lines = recorder->WaitFor(5);
    ASSERT_EQ(lines.size(), 5u);
    std::sort(lines.begin() + 1, lines.end()); // the two reads run side by side
    EXPECT_EQ(lines[1], fmt::format(L"read {} 1 false 4:1:0791CD", *all));
    EXPECT_EQ(lines[2], fmt::format(L"read {} 1 true 3:0:0791AB", *all));
    EXPECT_EQ(lines[3], fmt::format(L"read {} 1 true other", *all));
    EXPECT_EQ(lines[4], fmt::format(L"read {} 1 false 4:1:0791CD", *one));
    manager->Unadvise(MbnEventFamily::Sms, *cookie);
}

TEST_F(MbnAdapter, EventRunningWhileUnadvisingEndsBeforeUnadviseReturns)
{
    Script(L"PD_TEST_MBN_FIRE", L"1");
    std::shared_ptr<MbnInterfaceManager> manager;
    ASSERT_TRUE(Modem(manager));
    auto recorder = std::make_shared<Recorder>();
    std::mutex mutex;
    std::condition_variable changed;
    bool started = false;
    bool finished = false;
    recorder->duringSignal = [&] {
        {
            std::lock_guard lock(mutex);
            started = true;
        }
        changed.notify_all();
        Pd::Test::PollUntil([] { return Called(L"Unadvise signal"); }); // runs on into the unadvise
        std::lock_guard lock(mutex);
        finished = true;
    };
    auto cookie = manager->Advise(MbnEventFamily::Signal, recorder);
    ASSERT_TRUE(cookie);
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, Pd::Test::HangLimit, [&] { return started; }));
    }
    manager->Unadvise(MbnEventFamily::Signal, *cookie);
    {
        std::lock_guard lock(mutex);
        EXPECT_TRUE(finished);
    }
    // The test service makes a call it took in hand before the unadvise: it comes to nothing.
    ASSERT_TRUE(Pd::Test::PollUntil([] { return Called(L"Late call signal"); })) << Core::ToUtf8(Calls());
    EXPECT_EQ(recorder->WaitFor(0).size(), 1u);
}

} // namespace
} // namespace Pd::Platform
