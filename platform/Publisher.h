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

// A publisher that stands in for the program's own: the scenario's in simulation (empty pins,
// trusting nobody, when it names none); none outside simulation and always none in Peldra.exe.
std::optional<Core::PublisherPins> StandInPublisher();

// The stand-in's catalog check (the simulated PC's) of an open catalog file (read through the handle, at most
// 16 MiB): whether it is the publisher's and lists data of the SHA-256 digest.
bool StandInCatalogListsMember(const std::wstring& path, HANDLE file, const Core::PublisherPins& publisher,
                               std::wstring_view sha256);

} // namespace Pd::Platform
