// Advertising data (AD structures: length, type, data) as LE advertisements carry it.
#pragma once

#include "bt/hci/Bytes.h"

#include <string>

namespace Pd::Bt
{

// The advertised device name: the first Complete Local Name (0x09), else the last Shortened
// Local Name (0x08), else empty. Stops at a zero length or a structure that runs past the end.
std::string NameFromAdvertisingData(ByteView data);

} // namespace Pd::Bt
