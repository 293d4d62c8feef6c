// The simulated PC's network connectivity hint, and its desktop shell, which opens pages, files,
// folders and programs for the user.
#pragma once

#include "platform/NetworkConnectivity.h"
#include "platform/WebPage.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace Pd::Platform::Sim
{

std::shared_ptr<NetworkConnectivity> MakeNetworkHints(const std::filesystem::path& folder);

// Records what the shell was asked to open in state.json ("openedPages": the target, and after a
// blank its arguments), or fails as the shell does when the scenario says that it opens nothing.
// A program (an existing .exe) is also started, in the request's folder when that is one.
Outcome<> OpenAsUser(const std::filesystem::path& folder, const ShellRequest& request);

// What was opened so far, in order.
std::vector<std::wstring> OpenedWebPages(const std::filesystem::path& folder);

} // namespace Pd::Platform::Sim
