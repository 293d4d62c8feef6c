// Device arrivals and removals of one device interface class (the configuration manager's
// CM_Register_Notification). Wine lacks the function: it is loaded from cfgmgr32.dll at run time,
// and without it the service is unavailable.
#pragma once

#include "platform/Platform.h"

#include <memory>

namespace Pd::Platform
{

// GUID_DEVINTERFACE_BIOMETRIC_READER: the interface class of fingerprint and other biometric readers.
inline constexpr GUID BiometricReaderInterfaceClass{
    0xE2B5183A, 0x99EA, 0x4CC3, {0xAD, 0x6B, 0x80, 0xCA, 0x8D, 0x71, 0x5B, 0x80}};

// A registered device notification; it is unregistered when the object goes, and no notification
// runs after the destructor returned.
class DeviceWatch
{
public:
    virtual ~DeviceWatch() = default;
};

// Sets `wake` on every arrival or removal of a device that offers the interface class, from a
// system thread. The event must outlive the watch.
Outcome<std::unique_ptr<DeviceWatch>> WatchDeviceInterface(const GUID& interfaceClass, HANDLE wake);

} // namespace Pd::Platform
