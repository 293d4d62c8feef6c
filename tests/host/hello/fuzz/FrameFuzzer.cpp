// A stream of frames as Android might send it: every frame read stays within the stream, its
// header re-encodes to the bytes it came from, and an invalid header is reported before its payload.
#include "host/hello/Frames.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace Pd::Bio;
    std::size_t at = 0;
    const ReadExactly read = [&](std::span<std::uint8_t> buffer) {
        if (buffer.size() > size - at)
        {
            at = size;
            return false;
        }
        std::memcpy(buffer.data(), data + at, buffer.size());
        at += buffer.size();
        return true;
    };
    for (;;)
    {
        const std::size_t start = at;
        auto frame = ReadFrame(read);
        if (at > size)
            std::abort();
        if (!frame)
        {
            if (frame.error().problem == FrameProblem::Invalid && at != start + FrameHeaderSize)
                std::abort();
            return 0;
        }
        const auto bytes = EncodeFrameHeader(*frame);
        if (std::memcmp(bytes.data(), data + start, FrameHeaderSize) != 0 ||
            frame->length > MaxFramePayload || at != start + FrameHeaderSize + frame->length)
            std::abort();
    }
}
