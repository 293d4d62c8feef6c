// The background host's update notices: looks for a newer program and a newer Android release
// in the release manifest when the thread starts and whenever Windows notifies a change of
// network connectivity (never on a timer), at most once in 20 hours and only with Internet
// access. What it finds is recorded for the window and the tray, logged and announced.
#pragma once

#include "core/Result.h"
#include "platform/NetworkConnectivity.h"
#include "release/manifest/Manifest.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>

namespace Pd::Host
{

// The thread body the host loop starts once when serving begins (in a multithreaded COM
// apartment) and stops first: returns when stop is requested.
void UpdateNotices(std::stop_token stop);

// What a check reaches outside the registry, replaceable for tests.
struct UpdateNoticeServices
{
    std::shared_ptr<Platform::NetworkConnectivity> network;
    std::function<Pd::Result<Core::Manifest>(const std::wstring& address, std::stop_token stop)> loadManifest;
};

// The connectivity hint of the platform and the manifest loader with the host's short time-outs.
UpdateNoticeServices DefaultUpdateNoticeServices();

// UpdateNotices with the given services.
void RunUpdateNotices(std::stop_token stop, const UpdateNoticeServices& services);

// Runs one check; each step ends it silently when its condition is not met.
void RunUpdateCheck(const UpdateNoticeServices& services, std::stop_token stop);

// Whether a check is due, given the stored UpdateChecked text and the time now (seconds since
// 1970): not due only for a time of digits alone, not in the future, less than 20 hours ago.
bool UpdateCheckDue(std::wstring_view lastChecked, std::uint64_t now);

} // namespace Pd::Host
