#include "host/elevation/Frames.h"

#include <algorithm>

namespace Pd::Bio::Elevation
{
namespace
{

std::uint32_t ReadU32(const std::uint8_t* bytes)
{
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::uint32_t ReadU32(std::string_view bytes)
{
    return ReadU32(reinterpret_cast<const std::uint8_t*>(bytes.data()));
}

void WriteU32(std::uint8_t* out, std::uint32_t value)
{
    for (int at = 0; at < 4; ++at)
        out[at] = static_cast<std::uint8_t>(value >> (8 * at));
}

// Takes `count` bytes off the front of the text; none when it holds fewer.
std::optional<std::string_view> Take(std::string_view& text, std::size_t count)
{
    if (text.size() < count)
        return std::nullopt;
    std::string_view taken = text.substr(0, count);
    text.remove_prefix(count);
    return taken;
}

std::optional<std::uint16_t> TakeU16(std::string_view& text)
{
    auto bytes = Take(text, 2);
    if (!bytes)
        return std::nullopt;
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>((*bytes)[0]) |
                                      static_cast<std::uint8_t>((*bytes)[1]) << 8);
}

} // namespace

std::uint8_t StateByte(const Mode& mode, bool magiskOffPending)
{
    std::uint8_t state = 0;
    if (mode.magisk || mode.magiskTurningOff || magiskOffPending)
        state |= StateCarriesMagisk;
    if (mode.magisk)
        state |= StateMagiskOn;
    if (mode.su && !mode.magisk)
        state |= StateSu;
    return state;
}

bool Acceptable(const FrameHeader& header)
{
    return header.magic == Magic && header.length <= MaxPayload;
}

Request ParseRequest(std::string_view payload)
{
    Request request;
    auto id = Take(payload, 4);
    auto uid = id ? Take(payload, 4) : std::nullopt;
    auto appLength = uid ? TakeU16(payload) : std::nullopt;
    auto app = appLength ? Take(payload, *appLength) : std::nullopt;
    auto commandLength = app ? TakeU16(payload) : std::nullopt;
    auto command = commandLength ? Take(payload, *commandLength) : std::nullopt;
    if (id)
        request.id = ReadU32(*id);
    if (uid)
        request.uid = ReadU32(*uid);
    if (app)
        request.app = *app;
    if (command)
        request.command = *command;
    request.valid = command.has_value();
    return request;
}

std::optional<std::uint32_t> ParseCancel(std::string_view payload)
{
    if (payload.size() < 4)
        return std::nullopt;
    return ReadU32(payload);
}

std::array<std::uint8_t, 12> AnswerFrame(Answer answer, std::uint32_t requestId)
{
    std::array<std::uint8_t, 12> frame{};
    auto header = EncodeFrameHeader(
        {Magic, static_cast<std::uint8_t>(Kind::Answer), static_cast<std::uint8_t>(answer), 4});
    std::copy(header.begin(), header.end(), frame.begin());
    WriteU32(frame.data() + FrameHeaderSize, requestId);
    return frame;
}

std::array<std::uint8_t, FrameHeaderSize> StateFrame(std::uint8_t state)
{
    return EncodeFrameHeader({Magic, static_cast<std::uint8_t>(Kind::State), state, 0});
}

std::array<std::uint8_t, 12> ApkFrameStart(std::uint32_t size)
{
    std::array<std::uint8_t, 12> frame{};
    auto header = EncodeFrameHeader({Magic, static_cast<std::uint8_t>(Kind::MagiskApk), 0, 0});
    std::copy(header.begin(), header.end(), frame.begin());
    WriteU32(frame.data() + FrameHeaderSize, size);
    return frame;
}

std::string_view AnswerLogWord(Answer answer)
{
    switch (answer)
    {
    case Answer::Granted:
        return "granted";
    case Answer::Denied:
        return "denied";
    case Answer::NotSetUp:
        return "refused (Windows Hello is not set up)";
    default:
        return "refused (busy)";
    }
}

} // namespace Pd::Bio::Elevation
