// Windows Hello's user consent verifier (a Windows Runtime service): the availability query and
// a started verification prompt. The prompt stands for the Windows Runtime asynchronous operation:
// it can be cancelled, signals its completion through a handler, and then has a status and a
// result. Every failure is an HRESULT with a text.
#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace Pd::Platform
{

// The status of a started operation, numbered as the Windows Runtime numbers it.
enum class ConsentStatus : std::uint32_t
{
    Started = 0,
    Completed = 1,
    Canceled = 2,
    Error = 3,
};

// One open Windows Hello prompt. Cancel and the completion handler may be used from any thread.
class ConsentRequest
{
public:
    virtual ~ConsentRequest() = default;

    // Asks Windows to close the prompt; the operation then ends as canceled (no effect once it
    // has ended).
    virtual void Cancel() = 0;

    // Runs `handler` once, on any thread, when the operation ends; at once, on the calling
    // thread, when it has already ended. Set it once.
    virtual void OnCompleted(std::function<void()> handler) = 0;

    virtual ConsentStatus Status() = 0;

    // The UserConsentVerificationResult (0 verified ... 6 canceled) of a completed operation; an
    // error for a failed or canceled one, or one still running.
    virtual Outcome<std::uint32_t> Result() = 0;
};

class UserConsentVerifier
{
public:
    virtual ~UserConsentVerifier() = default;

    // The UserConsentVerifierAvailability value (0 available ... 4 device busy), as Windows
    // hands it; blocks until Windows answers.
    virtual Outcome<std::uint32_t> CheckAvailability() = 0;

    // Shows the prompt with `text`, owned by `owner` (the interop call for a window), or
    // without an owner when `owner` is null.
    virtual Outcome<std::unique_ptr<ConsentRequest>> RequestVerification(HWND owner,
                                                                         const std::wstring& text) = 0;
};

// The simulator's verifier when simulating; otherwise Windows' own (through the Windows Runtime),
// which answers "class not registered" where the system has none.
std::shared_ptr<UserConsentVerifier> UserConsent();

} // namespace Pd::Platform
