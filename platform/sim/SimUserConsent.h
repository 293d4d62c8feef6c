// The simulated Windows Hello: the scenario's "hello" answers. Each prompt is recorded in
// state.json ("helloPrompts") with its text and whether it had an owner window, stays open for
// promptMs and then ends with the scenario's result, unless it is cancelled first.
#pragma once

#include "platform/UserConsent.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace Pd::Platform::Sim
{

std::shared_ptr<UserConsentVerifier> MakeUserConsentVerifier(const std::filesystem::path& folder);

// A prompt as the simulated Windows showed it.
struct HelloPrompt
{
    std::wstring text;
    bool ownerWindow = false;
};

// Every prompt shown so far, oldest first.
std::vector<HelloPrompt> RecordedHelloPrompts(const std::filesystem::path& folder);

} // namespace Pd::Platform::Sim
