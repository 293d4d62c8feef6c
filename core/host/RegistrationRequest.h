// The window's and the command line's way to the Google Play registration: they set the host's
// Register event, the host opens Google's page with the device id on the clipboard and stores in
// the per-user value GooglePlayIdCopied whether the id went to the clipboard.
#pragma once

#include "core/Result.h"

#include <chrono>
#include <cstdint>

namespace Pd::Host
{

// What GooglePlayIdCopied holds: Pending from a request until the host opened the page.
enum class IdCopy : std::uint32_t
{
    Pending = 0,
    Copied = 1,
    NotCopied = 2,
};

// Marks the answer pending and sets the running host's Register event; the host's page may come
// to the front. The error when no host runs to take the request.
Result<> RequestRegistration();

// What the host has stored so far.
IdCopy ReadIdCopy();

// The host's part, once it opened the page.
void WriteIdCopy(IdCopy copy);

// Waits up to `timeout` for the host's answer, looking every 100 ms; Pending when none came.
IdCopy WaitForIdCopy(std::chrono::milliseconds timeout);

} // namespace Pd::Host
