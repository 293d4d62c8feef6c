#include "tel/modem/Sink.h"

#include "core/Log.h"
#include "core/Strings.h"

#include <fmt/format.h>

#include <algorithm>

namespace Pd::Tel
{
namespace
{

constexpr std::uint8_t StatusDraft = 2;
constexpr std::uint8_t StatusSent = 3;
// Finished reads remembered for their late completions.
constexpr std::size_t FinishedReadsKept = 64;

// The store message in one element of a read, if it is one.
std::optional<StoredMessage> ReadMessage(const Platform::MbnSmsMessage& element)
{
    if (!element.isPdu || !element.index || !element.pduData || element.pduData->empty())
        return std::nullopt;
    std::uint32_t status = element.status.value_or(1);
    return StoredMessage{*element.index, static_cast<std::uint8_t>(std::min<std::uint32_t>(status, 3)),
                         Core::ToUtf8(*element.pduData)};
}

} // namespace

std::vector<StoredMessage> ReadMessages(const std::vector<Platform::MbnSmsMessage>& messages)
{
    std::vector<StoredMessage> read;
    for (const Platform::MbnSmsMessage& element : messages)
        if (auto message = ReadMessage(element))
            read.push_back(std::move(*message));
    return read;
}

void Sink::OnSmsSendComplete(std::uint32_t requestId, HRESULT status)
{
    std::lock_guard lock(shared_->lock);
    auto found = shared_->sends.find(requestId);
    if (found == shared_->sends.end())
        return; // a send that timed out, or not ours
    found->second->status = status;
    ::SetEvent(found->second->event.Get());
    shared_->sends.erase(found);
}

void Sink::OnSmsReadComplete(std::uint32_t format, const std::vector<Platform::MbnSmsMessage>& messages,
                             bool moreToCome, std::uint32_t requestId, HRESULT status)
{
    std::shared_ptr<Shared::Read> read;
    {
        std::lock_guard lock(shared_->lock);
        if (auto found = shared_->reads.find(requestId); found != shared_->reads.end())
        {
            read = found->second;
            ++read->arriving;
        }
        else if (shared_->finishedReads.contains(requestId))
            return; // a late part of a read already answered: never a new message
    }
    if (!read)
    {
        // The reads of DeliverStored and of a status change are not recorded.
        if (SUCCEEDED(status) && format == Platform::MbnSmsFormatPdu)
            HandNewMessages(messages);
        return;
    }
    std::vector<StoredMessage> arrived;
    if (SUCCEEDED(status) && format == Platform::MbnSmsFormatPdu)
        arrived = ReadMessages(messages);
    std::lock_guard lock(shared_->lock);
    std::move(arrived.begin(), arrived.end(), std::back_inserter(read->messages));
    --read->arriving;
    if (!moreToCome || FAILED(status))
    {
        read->last = true;
        if (read->status == E_PENDING || FAILED(status))
            read->status = status;
    }
    if (read->last && read->arriving == 0 && !read->signalled)
    {
        read->signalled = true;
        shared_->reads.erase(requestId);
        shared_->finishedReads.insert(requestId);
        if (shared_->finishedReads.size() > FinishedReadsKept)
            shared_->finishedReads.erase(shared_->finishedReads.begin());
        ::SetEvent(read->event.Get());
    }
}

void Sink::OnSmsNewClass0Message(std::uint32_t format, const std::vector<Platform::MbnSmsMessage>& messages)
{
    if (format == Platform::MbnSmsFormatPdu)
        HandNewMessages(messages);
}

void Sink::OnSmsDeleteComplete(std::uint32_t, HRESULT status)
{
    if (FAILED(status))
        Core::Log(fmt::format("modem: a message Android has could not be deleted from the modem (0x{:08X})",
                              static_cast<std::uint32_t>(status)));
}

void Sink::OnSmsStatusChange()
{
    auto status = sms_->GetSmsStatus();
    if (!status)
        return;
    if (status->flag & Platform::MbnSmsFlagNewMessage)
        (void)sms_->SmsRead({Platform::MbnSmsFlagIndex, status->messageIndex}, Platform::MbnSmsFormatPdu);
    if (status->flag & Platform::MbnSmsFlagMessageStoreFull)
        Core::Log("modem: the message store is full");
}

void Sink::Changed()
{
    std::unique_lock lock(shared_->lock);
    auto handler = shared_->changeHandler;
    if (handler)
        CallHandler(*shared_, lock, handler);
}

void Sink::HandNewMessages(const std::vector<Platform::MbnSmsMessage>& messages)
{
    for (const StoredMessage& message : ReadMessages(messages))
    {
        if (message.status == StatusSent || message.status == StatusDraft)
            continue;
        std::unique_lock lock(shared_->lock);
        auto handler = shared_->messageHandler;
        if (!handler || !shared_->handed.insert(message.index).second)
            continue; // no session (the store keeps it), or handed already
        CallHandler(*shared_, lock, handler, message.pdu, message.index);
    }
}

} // namespace Pd::Tel
