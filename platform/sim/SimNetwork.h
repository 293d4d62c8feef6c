// The simulated PC's network connectivity hint and its shell's opening of web pages.
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

// Records the address in state.json ("openedPages"), or fails as the shell does when the
// scenario says that it opens no pages.
Outcome<> OpenWebPage(const std::filesystem::path& folder, const std::wstring& address);

// The addresses opened so far, in order.
std::vector<std::wstring> OpenedWebPages(const std::filesystem::path& folder);

} // namespace Pd::Platform::Sim
