// Windows Hello: whether the current user can verify their identity, and the verification
// prompt. Both calls block until Windows answers, keep no state and never throw, so several
// threads may use them at once.
#pragma once

#include <cstdint>
#include <stop_token>
#include <string>
#include <string_view>

namespace Pd::Bio
{

// Windows' own availability values 0 to 4, and 5 when the check itself failed.
enum class Availability : std::uint32_t
{
    Available = 0,
    DeviceNotPresent = 1,
    NotConfiguredForUser = 2,
    DisabledByPolicy = 3,
    DeviceBusy = 4,
    CheckFailed = 5,
};

enum class VerifyResult : std::uint32_t
{
    Verified = 0,
    Canceled = 1,
    NotAvailable = 2,
    Busy = 3,
    Failed = 4,
};

// Asks Windows whether Windows Hello can verify the current user; CheckFailed when it cannot tell.
Availability CheckAvailability();

// A fixed English description of an availability value (never from the string table).
std::wstring AvailabilityText(Availability availability);

// Shows the Windows Hello prompt with `text` (a default text when it is empty) and waits for
// the user, keeping the calling thread's window messages flowing. A stop request closes the
// prompt, and the result is then Canceled.
VerifyResult RequestVerification(std::wstring_view text, std::stop_token stop);

} // namespace Pd::Bio
