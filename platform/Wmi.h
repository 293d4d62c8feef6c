// WMI: a connection to ROOT\CIMV2, WQL queries, and the Virtual Machine Platform feature's
// state from Win32_OptionalFeature (which Wine answers with no rows; the simulator stands in).
#pragma once

#include "core/Handles.h"
#include "core/Result.h"

#include <wbemidl.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Pd::Core
{

// A services interface for "ROOT\CIMV2" with the caller's own credentials and its proxy
// security set for impersonation. COM must be initialised on the calling thread.
Pd::Result<Pd::ComPtr<IWbemServices>> WmiConnect();

// The result objects of a WQL query, possibly none. An enumeration that ends with anything
// but complete success ends the list without an error.
Pd::Result<std::vector<Pd::ComPtr<IWbemClassObject>>> WmiQuery(IWbemServices* services,
                                                               const std::wstring& query);

// The integer property "InstallState": 8-, 16- and 32-bit values, without sign extension;
// none for any other type or a failed read.
std::optional<std::uint32_t> WmiReadInstallState(IWbemClassObject* object);

// Whether Virtual Machine Platform is enabled (install state 1); none when WMI cannot answer.
// Initialises COM on the calling thread as a multithreaded apartment when it can.
std::optional<bool> VmpInstallState();

} // namespace Pd::Core
