// Advertising data (AD structures: length, type, data) as LE advertisements carry it.
#pragma once

#include "bt/hci/Bytes.h"

#include <string>

namespace Pd::Bt
{

// The advertised device name: the first Complete Local Name (0x09), else the last Shortened
// Local Name (0x08), else empty. Stops at a zero length or a structure that runs past the end.
std::string NameFromAdvertisingData(ByteView data);

// The most advertising data one LE Advertising Report carries.
inline constexpr std::size_t MaxAdvertisingData = 31;

// Appends one AD structure (length, type, value) when it fits within MaxAdvertisingData and its
// value within one legacy structure (29 bytes); otherwise leaves the data as it is, so that a
// later, shorter section may still fit. Returns whether it was appended.
bool AppendAdStructure(Bytes& data, std::uint8_t type, ByteView value);

} // namespace Pd::Bt
