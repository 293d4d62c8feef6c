// The simulated mobile broadband modem: the scenario's "modem" key (see SimModemScenario.h).
// Requests complete, and the network's messages and the radio's changes arrive, on the modem's own
// event thread (a store read in several parts on as many threads at once), as the real service calls
// back from its own threads.
#pragma once

#include "platform/MobileBroadband.h"

#include <filesystem>
#include <memory>

namespace Pd::Platform::Sim
{

Outcome<std::shared_ptr<MbnInterfaceManager>> MakeMobileBroadband(const std::filesystem::path& folder);

} // namespace Pd::Platform::Sim
