// Windows Bluetooth (a Windows Runtime service): what the bridge asks of the radio. Synchronous;
// every failure is an HRESULT with a text. The LE device, GATT and advertisement services join
// this interface with the LE links.
#pragma once

#include "platform/Platform.h"

#include <cstdint>

namespace Pd::Platform
{

// The address of Windows' default Bluetooth adapter (48 bits); 0 when the PC has none.
// Without simulation this build has no Windows Runtime binding: the service is unavailable.
Outcome<std::uint64_t> DefaultBluetoothAdapter();

} // namespace Pd::Platform
