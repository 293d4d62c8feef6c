// The modem's event sink: SMS, signal and registration events on the service's threads. It keeps
// nothing of its own but its share of the modem's shared state.
#pragma once

#include "platform/MobileBroadband.h"
#include "tel/modem/Shared.h"

#include <memory>

namespace Pd::Tel
{

class Sink final : public Platform::MbnEvents
{
public:
    Sink(std::shared_ptr<Shared> shared, std::shared_ptr<Platform::MbnSms> sms)
        : shared_(std::move(shared)), sms_(std::move(sms))
    {
    }

    void OnSmsSendComplete(std::uint32_t requestId, HRESULT status) override;
    void OnSmsReadComplete(std::uint32_t format, const std::vector<Platform::MbnSmsMessage>& messages,
                           bool moreToCome, std::uint32_t requestId, HRESULT status) override;
    void OnSmsNewClass0Message(std::uint32_t format,
                               const std::vector<Platform::MbnSmsMessage>& messages) override;
    void OnSmsDeleteComplete(std::uint32_t requestId, HRESULT status) override;
    void OnSmsStatusChange() override;
    void OnSignalStateChange() override { Changed(); }
    void OnRegisterStateChange() override { Changed(); }
    void OnPacketServiceStateChange() override { Changed(); }

private:
    void Changed();
    void HandNewMessages(const std::vector<Platform::MbnSmsMessage>& messages);

    std::shared_ptr<Shared> shared_;
    // The event's own IMbnSms argument, which a status change reads from.
    std::shared_ptr<Platform::MbnSms> sms_;
};

// The store messages among a read's elements: those with an index and a non-empty PDU.
std::vector<StoredMessage> ReadMessages(const std::vector<Platform::MbnSmsMessage>& messages);

} // namespace Pd::Tel
