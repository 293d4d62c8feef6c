#include "bt/hci/AdvertisingData.h"

namespace Pd::Bt
{

std::string NameFromAdvertisingData(ByteView data)
{
    constexpr std::uint8_t ShortenedLocalName = 0x08;
    constexpr std::uint8_t CompleteLocalName = 0x09;
    std::string shortened;
    std::size_t at = 0;
    while (data.size() >= 2 && at + 2 <= data.size())
    {
        std::size_t length = data[at];
        if (length == 0 || at + length + 1 > data.size())
            break;
        std::uint8_t type = data[at + 1];
        auto value = data.subspan(at + 2, length - 1);
        if (type == CompleteLocalName)
            return std::string(value.begin(), value.end());
        if (type == ShortenedLocalName)
            shortened.assign(value.begin(), value.end());
        at += length + 1;
    }
    return shortened;
}

bool AppendAdStructure(Bytes& data, std::uint8_t type, ByteView value)
{
    constexpr std::size_t MaxValue = MaxAdvertisingData - 2;
    if (value.size() > MaxValue || data.size() + value.size() + 2 > MaxAdvertisingData)
        return false;
    data.push_back(static_cast<std::uint8_t>(value.size() + 1));
    data.push_back(type);
    Append(data, value);
    return true;
}

} // namespace Pd::Bt
