#include "bt/att/AttServer.h"

#include "bt/att/AttPdu.h"

#include <algorithm>
#include <utility>

namespace Pd::Bt
{
namespace
{

// Each accepted Prepare Write Request costs its length plus this much of the queue's budget.
constexpr std::size_t PreparedOverhead = 59;
constexpr std::size_t PreparedBudget = 65536;
constexpr std::size_t WaitingIndications = 64;

} // namespace

AttServer::AttServer(const GattDatabase& database, AttDevice& device, AttSend send)
    : database_(database), device_(device), send_(std::move(send)), mtu_(Att::DefaultMtu)
{
}

Result<> AttServer::HandlePdu(ByteView pdu)
{
    if (pdu.empty())
        return {};
    const OpcodeRow* row = FindOpcode(pdu[0]);
    if (!row)
    {
        // Commands (Signed Write among them) are ignored; other requests are unsupported.
        if (Att::IsRequest(pdu[0]))
            return SendError(pdu[0], 0x0000, Att::RequestNotSupported);
        return {};
    }
    if (pdu.size() < row->shortest)
    {
        if (row->request)
            return SendError(pdu[0], 0x0000, Att::InvalidPdu);
        return {};
    }
    if (!row->handle)
        return {};
    Result<> handled = (this->*row->handle)(pdu);
    if (!handled && row->request)
        SendError(pdu[0], 0x0000, Att::UnlikelyError);
    return handled;
}

Result<> AttServer::SendError(std::uint8_t request, std::uint16_t handle, std::uint8_t code)
{
    send_(Att::ErrorResponseFor(request, handle, code));
    return {};
}

Result<> AttServer::ExchangeMtu(ByteView pdu)
{
    std::uint16_t clientMtu = ReadLe16(pdu, 1);
    mtu_.store(std::clamp(clientMtu, Att::DefaultMtu, Att::ServerMtu));
    Bytes response{Att::ExchangeMtuResponse};
    AppendLe16(response, Att::ServerMtu);
    send_(std::move(response));
    return {};
}

DeviceAnswer AttServer::ReadAttribute(const AttributeEntry& entry)
{
    if (auto declaration = database_.DeclarationValue(entry))
        return {0, std::move(*declaration), {}};
    return device_.Read(entry);
}

Result<> AttServer::Read(ByteView pdu)
{
    const std::uint8_t opcode = pdu[0];
    const std::uint16_t handle = ReadLe16(pdu, 1);
    const AttributeEntry* entry = database_.FindAttribute(handle);
    if (!entry)
        return SendError(opcode, handle, Att::InvalidHandle);
    DeviceAnswer answer = ReadAttribute(*entry);
    if (!answer.failure.empty())
        return Fail(std::move(answer.failure));
    if (answer.error != 0)
        return SendError(opcode, handle, answer.error);
    // Every part of a long read asks the device again: nothing is cached between them.
    Bytes value = std::move(answer.value);
    if (opcode == Att::ReadBlobRequest)
    {
        std::uint16_t offset = ReadLe16(pdu, 3);
        if (offset > value.size())
            return SendError(opcode, handle, Att::InvalidOffset);
        value.erase(value.begin(), value.begin() + offset);
    }
    value.resize(std::min<std::size_t>(value.size(), Mtu() - 1u));
    Bytes response{opcode == Att::ReadRequest ? Att::ReadResponse : Att::ReadBlobResponse};
    Append(response, value);
    send_(std::move(response));
    return {};
}

DeviceAnswer AttServer::WriteToDevice(std::uint16_t handle, ByteView value, bool withResponse)
{
    const AttributeEntry* entry = database_.FindAttribute(handle);
    if (!entry)
        return {Att::InvalidHandle, {}, {}};
    if (entry->kind == AttributeKind::Service || entry->kind == AttributeKind::CharacteristicDeclaration)
        return {Att::WriteNotPermitted, {}, {}};
    if (entry->kind == AttributeKind::Descriptor)
    {
        if (entry->type == Uuid16(ClientConfigurationUuid))
        {
            std::uint16_t bits = value.size() >= 2 ? ReadLe16(value, 0) : 0;
            auto mode = (bits & 0x02)   ? ClientConfiguration::Indicate
                        : (bits & 0x01) ? ClientConfiguration::Notify
                                        : ClientConfiguration::None;
            DeviceAnswer written = device_.WriteClientConfiguration(*entry, mode);
            if (written.error != 0 || !written.failure.empty())
                return written;
            // Reserved bits alone configure nothing, so they subscribe to nothing either.
            return device_.Subscribe(*entry, mode != ClientConfiguration::None,
                                     mode == ClientConfiguration::Indicate);
        }
        const auto& descriptors =
            database_.services[entry->service].characteristics[entry->characteristic].descriptors;
        if (!descriptors[entry->descriptor].source)
            return {Att::WriteNotPermitted, {}, {}};
    }
    return device_.Write(*entry, value, withResponse);
}

Result<bool> AttServer::WriteAttribute(std::uint16_t handle, ByteView value, std::uint8_t request)
{
    DeviceAnswer answer = WriteToDevice(handle, value, request != Att::WriteCommand);
    if (!answer.failure.empty())
        return Fail(std::move(answer.failure));
    if (answer.error != 0)
    {
        if (request != Att::WriteCommand)
            SendError(request, handle, answer.error);
        return false;
    }
    if (request == Att::WriteRequest)
        send_(Bytes{Att::WriteResponse});
    return true;
}

bool AttServer::WriteFits(ByteView pdu, std::size_t valueEnd) const
{
    return pdu.size() <= Mtu() && valueEnd <= Att::MaximumValueLength;
}

Result<> AttServer::Write(ByteView pdu)
{
    const std::uint16_t handle = ReadLe16(pdu, 1);
    ByteView value = pdu.subspan(3);
    if (!WriteFits(pdu, value.size()))
    {
        // A Write Command gets no answer, not even this one: it is dropped.
        if (pdu[0] == Att::WriteRequest)
            return SendError(Att::WriteRequest, handle, Att::InvalidAttributeValueLength);
        return {};
    }
    auto written = WriteAttribute(handle, value, pdu[0]);
    if (!written)
        return Fail(std::move(written.error()));
    return {};
}

Result<> AttServer::PrepareWrite(ByteView pdu)
{
    const std::uint16_t handle = ReadLe16(pdu, 1);
    const std::uint16_t offset = ReadLe16(pdu, 3);
    ByteView value = pdu.subspan(5);
    if (!database_.FindAttribute(handle))
        return SendError(Att::PrepareWriteRequest, handle, Att::InvalidHandle);
    // The response echoes the request, so a request longer than the MTU could not be answered.
    if (!WriteFits(pdu, offset + value.size()))
        return SendError(Att::PrepareWriteRequest, handle, Att::InvalidAttributeValueLength);
    if (preparedBudget_ + pdu.size() + PreparedOverhead > PreparedBudget)
        return SendError(Att::PrepareWriteRequest, handle, Att::PrepareQueueFull);
    auto entry = std::find_if(prepared_.begin(), prepared_.end(),
                              [&](const PreparedWrite& write) { return write.handle == handle; });
    if (entry == prepared_.end())
        entry = prepared_.insert(prepared_.end(), PreparedWrite{handle, {}});
    entry->fragments.push_back({offset, Bytes(value.begin(), value.end())});
    preparedBudget_ += pdu.size() + PreparedOverhead;
    Bytes response(pdu.begin(), pdu.end());
    response[0] = Att::PrepareWriteResponse;
    send_(std::move(response));
    return {};
}

Result<> AttServer::ExecuteWrite(ByteView pdu)
{
    std::vector<PreparedWrite> queue = std::exchange(prepared_, {});
    preparedBudget_ = 0;
    if (pdu[1] == 0x01)
    {
        for (const PreparedWrite& write : queue)
        {
            Bytes value;
            for (const Fragment& fragment : write.fragments)
            {
                // Gaps stay zero; later fragments overwrite earlier ones where they overlap.
                value.resize(std::max(value.size(), fragment.offset + fragment.value.size()));
                std::copy(fragment.value.begin(), fragment.value.end(), value.begin() + fragment.offset);
            }
            auto written = WriteAttribute(write.handle, value, Att::ExecuteWriteRequest);
            if (!written)
                return Fail(std::move(written.error()));
            if (!*written)
                return {}; // answered with the failed write's error
        }
    }
    send_(Bytes{Att::ExecuteWriteResponse});
    return {};
}

void AttServer::QueueNotification(std::uint16_t valueHandle, ByteView value, bool indicate)
{
    Bytes pdu{indicate ? Att::HandleValueIndication : Att::HandleValueNotification};
    AppendLe16(pdu, valueHandle);
    Append(pdu, value.first(std::min<std::size_t>(value.size(), Mtu() - 3u)));
    if (!indicate)
        return send_(std::move(pdu));
    std::lock_guard lock(indicationLock_);
    if (!indicationOutstanding_)
    {
        indicationOutstanding_ = true;
        return send_(std::move(pdu));
    }
    if (waitingIndications_.size() >= WaitingIndications)
        waitingIndications_.pop_front();
    waitingIndications_.push_back(std::move(pdu));
}

Result<> AttServer::Confirmation(ByteView)
{
    std::lock_guard lock(indicationLock_);
    if (waitingIndications_.empty())
    {
        indicationOutstanding_ = false;
        return {};
    }
    Bytes next = std::move(waitingIndications_.front());
    waitingIndications_.pop_front();
    send_(std::move(next));
    return {};
}

Result<> AttServer::ConfirmIndication(ByteView)
{
    send_(Bytes{Att::HandleValueConfirmation});
    return {};
}

} // namespace Pd::Bt
