#include "host/hello/RootChange.h"
#include "host/hello/WindowsHello.h"

#include "core/Text.h"
#include "tests/support/HangLimit.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>

namespace
{

using Pd::Bio::Availability;

TEST(AvailabilityText, EachValueHasItsTextAndEverythingElseIsACheckFailure)
{
    EXPECT_EQ(Pd::Bio::AvailabilityText(Availability::Available),
              L"available (fingerprint / Windows Hello ready)");
    EXPECT_EQ(Pd::Bio::AvailabilityText(Availability::DeviceNotPresent),
              L"no biometric / Windows Hello device present");
    EXPECT_EQ(Pd::Bio::AvailabilityText(Availability::NotConfiguredForUser),
              L"not configured for this Windows user (set up Windows Hello PIN/fingerprint in Settings)");
    EXPECT_EQ(Pd::Bio::AvailabilityText(Availability::DisabledByPolicy), L"disabled by Windows policy");
    EXPECT_EQ(Pd::Bio::AvailabilityText(Availability::DeviceBusy), L"biometric device is busy");
    for (std::uint32_t value : {5u, 6u, 0xFFFFFFFFu})
        EXPECT_EQ(Pd::Bio::AvailabilityText(static_cast<Availability>(value)),
                  L"unavailable (WinRT check failed)")
            << value;
}

TEST(CheckAvailability, WithoutWindowsRuntimeTheCheckFails)
{
    EXPECT_EQ(Pd::Bio::CheckAvailability(), Availability::CheckFailed);
}

TEST(CheckAvailability, WindowsAnswersPassAndOthersOrFailuresGiveCheckFailed)
{
    struct Case
    {
        const char* hello;
        Availability expected;
    };
    for (const Case& c : {
             Case{R"({"availability":0})", Availability::Available},
             Case{R"({"availability":2})", Availability::NotConfiguredForUser},
             Case{R"({"availability":3})", Availability::DisabledByPolicy},
             Case{R"({"availability":4})", Availability::DeviceBusy},
             Case{R"({"availability":5})", Availability::CheckFailed},
             Case{R"({"availability":77})", Availability::CheckFailed},
             Case{R"({"availability":"fails"})", Availability::CheckFailed},
         })
    {
        Pd::Test::SimScenario pc(std::string(R"({"hello":)") + c.hello + "}");
        EXPECT_EQ(Pd::Bio::CheckAvailability(), c.expected) << c.hello;
    }
    Pd::Test::SimScenario withoutHello("{}");
    EXPECT_EQ(Pd::Bio::CheckAvailability(), Availability::DeviceNotPresent);
}

} // namespace

namespace
{

// A wider root setting is confirmed by Windows Hello where it can ask, else only by the process's
// own dialog: never by nothing, and never by the dialog while Windows Hello is set up but busy.
TEST(RootChange, WindowsHelloConfirmsWhereItCanElseTheOwnDialog)
{
    using Pd::Bio::VerifyResult;
    struct Case
    {
        Availability availability;
        VerifyResult verified;
        bool dialogAnswer;
        bool confirmed;
        int dialogs;
    };
    const Case cases[] = {
        {Availability::Available, VerifyResult::Verified, false, true, 0},
        {Availability::Available, VerifyResult::Canceled, true, false, 0},
        {Availability::Available, VerifyResult::Failed, true, false, 0},
        {Availability::Available, VerifyResult::NotAvailable, true, true, 1},
        {Availability::DeviceBusy, VerifyResult::Verified, true, false, 0},
        {Availability::NotConfiguredForUser, VerifyResult::Verified, false, false, 1},
        {Availability::CheckFailed, VerifyResult::Verified, true, true, 1},
    };
    for (const Case& c : cases)
    {
        int dialogs = 0;
        const bool confirmed = Pd::Bio::Detail::ConfirmWith(
            c.availability, [&] { return c.verified; },
            [&] {
                ++dialogs;
                return c.dialogAnswer;
            });
        EXPECT_EQ(confirmed, c.confirmed) << static_cast<int>(c.availability) << static_cast<int>(c.verified);
        EXPECT_EQ(dialogs, c.dialogs) << static_cast<int>(c.availability) << static_cast<int>(c.verified);
    }
    // The prompt names what turns on; Magisk's own su is told with Magisk mode.
    const std::wstring all = Pd::Bio::RootChangeText({}, {true, true, true});
    EXPECT_NE(all.find(Pd::Core::Text(Pd::TextId::RootTurnsOn)), std::wstring::npos);
    EXPECT_EQ(all.find(Pd::Core::Text(Pd::TextId::SuTurnsOn)), std::wstring::npos);
    EXPECT_NE(all.find(Pd::Core::Text(Pd::TextId::MagiskModeTurnsOn)), std::wstring::npos);
    EXPECT_EQ(Pd::Bio::RootChangeText({true}, {true, true}),
              Pd::Core::FormatText(Pd::TextId::ConfirmRootChange, Pd::Core::Text(Pd::TextId::SuTurnsOn)));
}

// The own box answers nothing in its first second, has No as its default and no access key on
// Yes: a key or click meant for another window cannot say Yes. Driven by posted messages, which
// the box's loop takes as it takes typed keys.
TEST(RootChange, TheOwnBoxTakesNoInputInItsFirstSecondAndNoSingleKeySaysYes)
{
    using namespace std::chrono;
    auto answer =
        std::async(std::launch::async, [] { return Pd::Bio::AskInMessageBox(nullptr, L"Root?", {}); });
    const auto limit = steady_clock::now() + Pd::Test::HangLimit;
    HWND box = nullptr;
    while (!(box = ::FindWindowW(L"#32770", Pd::Core::Text(Pd::TextId::RootConfirmTitle).c_str())) &&
           steady_clock::now() < limit)
        ::Sleep(5);
    ASSERT_NE(box, nullptr);
    const auto found = steady_clock::now();
    HWND yes = ::GetDlgItem(box, IDYES), no = ::GetDlgItem(box, IDNO);
    wchar_t yesText[64]{};
    ::GetWindowTextW(yes, yesText, 64);
    EXPECT_EQ(std::wstring(yesText).find(L'&'), std::wstring::npos) << "Yes keeps an access key";
    EXPECT_EQ(LOWORD(::SendMessageW(box, DM_GETDEFID, 0, 0)), IDNO);
    EXPECT_FALSE(::IsWindowEnabled(box)) << "the box takes input at once";
    while (!::IsWindowEnabled(box) && steady_clock::now() < limit)
        ::Sleep(5);
    EXPECT_GE(steady_clock::now() - found, milliseconds(Pd::Bio::YesDelayMs - 100));
    ::PostMessageW(no, WM_KEYDOWN, 'Y', 0);
    ::PostMessageW(no, WM_CHAR, 'y', 0);
    EXPECT_EQ(answer.wait_for(milliseconds(300)), std::future_status::timeout) << "a single key answered";
    ::SendMessageW(yes, BM_CLICK, 0, 0);
    EXPECT_TRUE(answer.get());
}

} // namespace
