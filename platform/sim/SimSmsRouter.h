// The simulated SMS router: the scenario's "smsRouter" key (see SimSmsRouterScenario.h).
// Registrations are kept in state.json ("smsRegistrations"), so that they outlive the process as
// the router's do.
#pragma once

#include "platform/SmsRouter.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace Pd::Platform::Sim
{

std::shared_ptr<SmsRouter> MakeSmsRouter(const std::filesystem::path& folder);

// The ids registered now, in the order they were registered.
std::vector<std::wstring> SmsRegistrations(const std::filesystem::path& folder);

} // namespace Pd::Platform::Sim
