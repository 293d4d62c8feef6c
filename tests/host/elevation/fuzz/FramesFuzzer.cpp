// Android's side of the elevation bridge as a stream: frame headers, payloads, request records
// and cancels, read as the bridge reads them.
#include "host/elevation/Frames.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

using namespace Pd::Bio;
using namespace Pd::Bio::Elevation;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view stream(reinterpret_cast<const char*>(data), size);
    while (stream.size() >= FrameHeaderSize)
    {
        std::array<std::uint8_t, FrameHeaderSize> raw{};
        std::memcpy(raw.data(), stream.data(), raw.size());
        stream.remove_prefix(FrameHeaderSize);
        const FrameHeader header = DecodeFrameHeader(raw);
        if (EncodeFrameHeader(header) != raw)
            std::abort();
        if (!Acceptable(header) || header.length > stream.size())
            break;
        const std::string_view payload = stream.substr(0, header.length);
        stream.remove_prefix(header.length);
        if (header.kind == static_cast<std::uint8_t>(Kind::Request))
        {
            const Request request = ParseRequest(payload);
            if (request.valid && 12 + request.app.size() + request.command.size() > payload.size())
                std::abort();
        }
        else if (header.kind == static_cast<std::uint8_t>(Kind::Cancel))
            static_cast<void>(ParseCancel(payload));
    }
    return 0;
}
