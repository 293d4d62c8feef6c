// A release manifest loaded from its address together with its catalog "manifest.cat", and
// whether that catalog is the publisher's and lists the manifest's exact bytes.
#pragma once

#include "core/Result.h"
#include "release/download/Net.h"
#include "release/manifest/Manifest.h"

#include <cstdint>
#include <stop_token>
#include <string_view>

namespace Pd::Core
{

// Fetches and parses the manifest, then fetches the catalog beside it (same folder on the server,
// without the manifest address's query). A catalog the server does not have (404 or 410) leaves
// the manifest unsigned; a stop request ("Canceled.") or any other failure of the catalog fetch
// ends loading with that error, so that a network problem never passes for an unofficial release.
// Both time-outs go to each fetch unchanged. Each fetch gets five attempts, as a component
// download does, but only a transient failure is tried again (logged to `log`); every failure
// names the address of the document that failed.
Pd::Result<Manifest> LoadManifest(std::wstring_view url, std::stop_token stop, std::uint32_t connectTimeoutMs,
                                  std::uint32_t receiveTimeoutMs, const LogText& log = {},
                                  const Net::WaitSlice& waitSlice = {});

} // namespace Pd::Core
