// How the ACL fuzz targets read their input: packets, each one length byte followed by that many
// bytes (the last one cut at the end of the input).
#pragma once

#include "bt/hci/Bytes.h"

#include <algorithm>

namespace PdTest
{

template <typename EachPacket> void ForEachAclPacket(Pd::Bt::ByteView input, EachPacket each)
{
    while (!input.empty())
    {
        const std::size_t length = std::min<std::size_t>(input[0], input.size() - 1);
        each(input.subspan(1, length));
        input = input.subspan(1 + length);
    }
}

} // namespace PdTest
