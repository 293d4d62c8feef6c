// The publisher whose signatures the PC trusts. Peldra.exe trusts only the program's own
// publisher, compiled in, and Windows proves catalog membership: it has no simulator, so the
// functions below answer "none" and "not listed" there. Only the simulated build, while
// simulation is on, trusts its scenario's test publisher instead and proves membership itself
// (Windows' catalog functions do not work under Wine).
#pragma once

#include "platform/Certificates.h"

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace Pd::Platform
{

// The scenario's publisher in simulation (empty pins, trusting nobody, when it names none);
// none outside simulation and always none in Peldra.exe.
std::optional<Core::PublisherPins> SimulatedPublisher();

// The simulated PC's catalog check of an open catalog file (read through the handle, at most
// 16 MiB): whether it is the publisher's and lists data of the SHA-256 digest.
bool SimulatedCatalogListsMember(const std::wstring& path, HANDLE file, const Core::PublisherPins& publisher,
                                 std::wstring_view sha256);

} // namespace Pd::Platform
