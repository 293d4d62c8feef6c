// The two Windows settings Tovik needs: developer mode (Windows registers an unpacked app package
// only in developer mode) and the optional feature Virtual Machine Platform. Both need
// administrator rights; remembering that an install turned them on is the callers' business.
#pragma once

#include "core/Result.h"
#include "release/base/Callbacks.h"

#include <string>

namespace Pd::Core
{

Pd::Result<> EnableDeveloperMode();
Pd::Result<> DisableDeveloperMode();

// Switch Virtual Machine Platform with the deployment tool; true when Windows must restart to
// finish. The log callback hears one line before the tool starts. The tool runs until it ends
// and cannot be cancelled.
Pd::Result<bool> EnableVmp(const LogText& log);
Pd::Result<bool> DisableVmp(const LogText& log);

// Both directions of the feature switch.
Pd::Result<bool> RunDism(bool enable, const LogText& log);

} // namespace Pd::Core
