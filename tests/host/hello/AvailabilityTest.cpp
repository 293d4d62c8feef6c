#include "host/hello/WindowsHello.h"
#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

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
