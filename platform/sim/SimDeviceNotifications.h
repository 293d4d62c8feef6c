// The simulated PC's device notifications: biometric readers arrive and leave as the scenario's
// "hello" "readers" count changes. Other interface classes never change.
#pragma once

#include "platform/DeviceNotifications.h"

#include <filesystem>
#include <memory>

namespace Pd::Platform::Sim
{

Outcome<std::unique_ptr<DeviceWatch>> WatchDeviceInterface(const std::filesystem::path& folder,
                                                           const GUID& interfaceClass, HANDLE wake);

} // namespace Pd::Platform::Sim
