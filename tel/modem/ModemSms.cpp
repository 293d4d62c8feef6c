// Sending SMS, reading the message store and handing its messages to Android.
#include "tel/modem/WindowsModem.h"

#include "core/Log.h"
#include "core/Strings.h"

#include <fmt/format.h>

#include <algorithm>

namespace Pd::Tel
{
namespace
{

constexpr DWORD SendWaitMs = 120000;
constexpr DWORD ReadWaitMs = 15000;

std::uint32_t Code(HRESULT result)
{
    return static_cast<std::uint32_t>(result);
}

} // namespace

bool WindowsModem::SendSms(const std::string& pdu, std::uint8_t length)
{
    // The result could only arrive through the sink.
    if (!sms_ || !sink_)
        return false;
    auto pending = std::make_shared<Shared::Pending>();
    const std::wstring text = Core::FromUtf8(pdu);
    {
        // Issued and entered under one lock, so that a completion arriving at once finds it.
        std::lock_guard lock(shared_->lock);
        auto id = sms_->SmsSendPdu(text, length);
        if (!id)
        {
            Core::Log(fmt::format("modem: sending an SMS failed at once (0x{:08X})", Code(id.error().code)));
            return false;
        }
        shared_->sends[*id] = pending;
    }
    if (::WaitForSingleObject(pending->event.Get(), SendWaitMs) != WAIT_OBJECT_0)
    {
        Core::Log(fmt::format("modem: no answer to an SMS within {} s", SendWaitMs / 1000));
        return false;
    }
    HRESULT status;
    {
        std::lock_guard lock(shared_->lock);
        status = pending->status;
    }
    if (FAILED(status))
        Core::Log(fmt::format("modem: the SMS was not sent (0x{:08X})", Code(status)));
    return SUCCEEDED(status);
}

std::optional<std::vector<StoredMessage>> WindowsModem::ReadStore()
{
    if (!sms_ || !sink_)
        return std::nullopt;
    auto read = std::make_shared<Shared::Read>();
    {
        std::lock_guard lock(shared_->lock);
        auto id = sms_->SmsRead({Platform::MbnSmsFlagAll, 0}, Platform::MbnSmsFormatPdu);
        if (!id)
        {
            Core::Log(fmt::format("modem: reading the message store failed at once (0x{:08X})",
                                  Code(id.error().code)));
            return std::nullopt;
        }
        shared_->reads[*id] = read;
        shared_->finishedReads.erase(*id);
    }
    if (::WaitForSingleObject(read->event.Get(), ReadWaitMs) != WAIT_OBJECT_0)
    {
        Core::Log(fmt::format("modem: the message store did not answer within {} s", ReadWaitMs / 1000));
        return std::nullopt;
    }
    std::lock_guard lock(shared_->lock);
    if (FAILED(read->status))
    {
        Core::Log(fmt::format("modem: reading the message store failed (0x{:08X})", Code(read->status)));
        return std::nullopt;
    }
    return std::move(read->messages);
}

void WindowsModem::DeliverStored()
{
    if (!sms_)
        return;
    // Not recorded: every message comes back through the new-message path, which hands only
    // those not handed yet.
    (void)sms_->SmsRead({Platform::MbnSmsFlagAll, 0}, Platform::MbnSmsFormatPdu);
    std::unique_lock lock(shared_->lock);
    auto handler = shared_->messageHandler;
    if (!handler)
        return;
    std::vector<std::pair<std::uint32_t, std::string>> notices;
    for (KeptNotice& notice : shared_->keptNotices)
        if (!notice.delivered)
        {
            notice.delivered = true;
            notices.emplace_back(notice.id, notice.pdu);
        }
    for (const auto& [id, pdu] : notices)
        CallHandler(*shared_, lock, handler, pdu, id);
}

void WindowsModem::NackMessage(std::uint32_t id)
{
    if (!shared_)
        return;
    std::lock_guard lock(shared_->lock);
    shared_->handed.erase(id);
    for (KeptNotice& notice : shared_->keptNotices)
        if (notice.id == id)
            notice.delivered = false;
}

void WindowsModem::DeleteStored(std::uint32_t index)
{
    if (!sms_)
        return;
    // A failure arrives later as a failed delete completion.
    (void)sms_->SmsDelete({Platform::MbnSmsFlagIndex, index});
    std::lock_guard lock(shared_->lock);
    shared_->handed.erase(index);
}

void WindowsModem::DropNotice(std::uint32_t id)
{
    if (!shared_)
        return;
    std::lock_guard lock(shared_->lock);
    std::erase_if(shared_->keptNotices, [id](const KeptNotice& notice) { return notice.id == id; });
}

} // namespace Pd::Tel
