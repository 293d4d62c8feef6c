// Discovery answered from the mirrored table: Find Information, Find By Type Value, Read By
// Type and Read By Group Type. Every response is cut to the MTU; pairs of one response share
// one length (or format), fixed by the first.
#include "bt/att/AttPdu.h"
#include "bt/att/AttServer.h"

#include <algorithm>
#include <optional>

namespace Pd::Bt
{
namespace
{

constexpr std::size_t MaximumReadByTypeValue = 253;

void AppendUuid(Bytes& out, const Uuid& uuid)
{
    if (auto shortUuid = ShortUuid(uuid))
        AppendLe16(out, *shortUuid);
    else
        out.insert(out.end(), uuid.begin(), uuid.end());
}

// The attribute type of a Read By Type or Read By Group Type request: 2 or 16 bytes after the
// range; none for any other length.
std::optional<Uuid> RequestedType(ByteView pdu)
{
    if (pdu.size() == 7)
        return Uuid16(ReadLe16(pdu, 5));
    if (pdu.size() != 21)
        return std::nullopt;
    Uuid uuid;
    std::copy(pdu.begin() + 5, pdu.end(), uuid.begin());
    return uuid;
}

// Appends one pair unless it would break the response's common pair length or the MTU; the
// first pair sets the length byte at out[1].
bool AppendPair(Bytes& out, const Bytes& pair, std::uint16_t mtu)
{
    if (out.size() > 2 && out[1] != pair.size())
        return false;
    if (out.size() + pair.size() > mtu)
        return false;
    out[1] = static_cast<std::uint8_t>(pair.size());
    Append(out, pair);
    return true;
}

} // namespace

bool AttServer::CheckRange(std::uint8_t request, std::uint16_t start, std::uint16_t end)
{
    if (start != 0 && end >= start)
        return true;
    SendError(request, start, Att::InvalidHandle);
    return false;
}

std::vector<const AttributeEntry*> AttServer::InRange(std::uint16_t start, std::uint16_t end) const
{
    std::vector<const AttributeEntry*> entries;
    auto at = std::lower_bound(database_.table.begin(), database_.table.end(), start,
                               [](const AttributeEntry& entry, std::uint16_t h) { return entry.handle < h; });
    for (; at != database_.table.end() && at->handle <= end; ++at)
        entries.push_back(&*at);
    return entries;
}

Result<> AttServer::FindInformation(ByteView pdu)
{
    const std::uint16_t start = ReadLe16(pdu, 1), end = ReadLe16(pdu, 3);
    if (!CheckRange(Att::FindInformationRequest, start, end))
        return {};
    const std::uint16_t mtu = Mtu();
    Bytes response{Att::FindInformationResponse, 0};
    for (const AttributeEntry* entry : InRange(start, end))
    {
        const std::uint8_t format = ShortUuid(entry->type) ? 1 : 2;
        if (response[1] != 0 && response[1] != format)
            break;
        if (response.size() + (format == 1 ? 4 : 18) > mtu)
            break;
        response[1] = format;
        AppendLe16(response, entry->handle);
        AppendUuid(response, entry->type);
    }
    if (response[1] == 0)
        return SendError(Att::FindInformationRequest, start, Att::AttributeNotFound);
    send_(std::move(response));
    return {};
}

Result<> AttServer::FindByTypeValue(ByteView pdu)
{
    const std::uint16_t start = ReadLe16(pdu, 1), end = ReadLe16(pdu, 3);
    if (!CheckRange(Att::FindByTypeValueRequest, start, end))
        return {};
    ByteView value = pdu.subspan(7);
    Bytes response{Att::FindByTypeValueResponse};
    if (ReadLe16(pdu, 5) == PrimaryServiceUuid && (value.size() == 2 || value.size() == 16))
    {
        Uuid wanted{};
        if (value.size() == 2)
            wanted = Uuid16(ReadLe16(value, 0));
        else
            std::copy(value.begin(), value.end(), wanted.begin());
        for (const ServiceRecord& service : database_.services)
        {
            if (service.startHandle < start || service.startHandle > end || service.uuid != wanted)
                continue;
            if (response.size() + 4 > Mtu())
                break;
            AppendLe16(response, service.startHandle);
            AppendLe16(response, service.endHandle);
        }
    }
    if (response.size() == 1)
        return SendError(Att::FindByTypeValueRequest, start, Att::AttributeNotFound);
    send_(std::move(response));
    return {};
}

Result<> AttServer::ReadByType(ByteView pdu)
{
    const std::uint16_t start = ReadLe16(pdu, 1), end = ReadLe16(pdu, 3);
    if (!CheckRange(Att::ReadByTypeRequest, start, end))
        return {};
    const std::optional<Uuid> type = RequestedType(pdu);
    if (!type)
        return SendError(Att::ReadByTypeRequest, start, Att::InvalidPdu);
    const std::uint16_t mtu = Mtu();
    Bytes response{Att::ReadByTypeResponse, 0};
    if (*type == Uuid16(CharacteristicUuid))
    {
        for (const AttributeEntry* entry : InRange(start, end))
        {
            if (entry->kind != AttributeKind::CharacteristicDeclaration)
                continue;
            Bytes pair;
            AppendLe16(pair, entry->handle);
            Append(pair, database_.DeclarationValue(*entry).value_or(Bytes{}));
            if (!AppendPair(response, pair, mtu))
                break;
        }
    }
    else if (*type != Uuid16(IncludeUuid)) // there are no includes
    {
        const std::size_t cut = std::min<std::size_t>(MaximumReadByTypeValue, mtu - 4u);
        for (const AttributeEntry* entry : InRange(start, end))
        {
            if (entry->type != *type || (entry->kind != AttributeKind::CharacteristicValue &&
                                         entry->kind != AttributeKind::Descriptor))
                continue;
            DeviceAnswer answer = ReadAttribute(*entry);
            if (!answer.failure.empty())
                return Fail(std::move(answer.failure));
            if (answer.error != 0)
            {
                if (response.size() > 2)
                    break;
                return SendError(Att::ReadByTypeRequest, entry->handle, answer.error);
            }
            answer.value.resize(std::min(answer.value.size(), cut));
            Bytes pair;
            AppendLe16(pair, entry->handle);
            Append(pair, answer.value);
            // A value cut short is the last pair: the client reads the rest with Read Blob.
            if (!AppendPair(response, pair, mtu) || answer.value.size() == cut)
                break;
        }
    }
    if (response.size() == 2)
        return SendError(Att::ReadByTypeRequest, start, Att::AttributeNotFound);
    send_(std::move(response));
    return {};
}

Result<> AttServer::ReadByGroupType(ByteView pdu)
{
    const std::uint16_t start = ReadLe16(pdu, 1), end = ReadLe16(pdu, 3);
    if (!CheckRange(Att::ReadByGroupTypeRequest, start, end))
        return {};
    const std::optional<Uuid> type = RequestedType(pdu);
    if (!type)
        return SendError(Att::ReadByGroupTypeRequest, start, Att::InvalidPdu);
    Bytes response{Att::ReadByGroupTypeResponse, 0};
    if (*type == Uuid16(PrimaryServiceUuid))
    {
        for (const ServiceRecord& service : database_.services)
        {
            if (service.startHandle < start || service.startHandle > end)
                continue;
            Bytes entry;
            AppendLe16(entry, service.startHandle);
            AppendLe16(entry, service.endHandle);
            AppendUuid(entry, service.uuid);
            if (!AppendPair(response, entry, Mtu()))
                break;
        }
    }
    else if (*type != Uuid16(SecondaryServiceUuid)) // a group type; every service is primary here
        return SendError(Att::ReadByGroupTypeRequest, start, Att::UnsupportedGroupType);
    if (response.size() == 2)
        return SendError(Att::ReadByGroupTypeRequest, start, Att::AttributeNotFound);
    send_(std::move(response));
    return {};
}

} // namespace Pd::Bt
