// Bytes in and out of IBuffer, through IBufferByteAccess.
#pragma once

#include "core/Handles.h"
#include "platform/Platform.h"
#include "platform/winrt/AbiFoundation.h"

#include <cstdint>
#include <span>
#include <vector>

namespace Pd::Platform::WinRt
{

// A copy of the buffer's bytes (its Length, never beyond its Capacity).
Outcome<std::vector<std::uint8_t>> BytesOf(IInspectable* buffer);

// A new Windows.Storage.Streams.Buffer holding `bytes`.
Outcome<ComPtr<Abi::IBuffer>> MakeBuffer(std::span<const std::uint8_t> bytes);

} // namespace Pd::Platform::WinRt
