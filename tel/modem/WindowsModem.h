// The PC's first mobile broadband modem behind the emulated modem: its state read on request,
// its SMS, signal and registration events taken by a sink while a session is connected, SMS
// sending, the message store and the MMS notices Windows' SMS router copies to it.
#pragma once

#include "platform/MobileBroadband.h"
#include "platform/SmsRouter.h"
#include "tel/at/Modem.h"
#include "tel/modem/Shared.h"

#include <memory>
#include <optional>
#include <vector>

namespace Pd::Tel
{

class WindowsModem final : public Modem
{
public:
    // The first interface of the PC that has an SMS part; null when there is none.
    static std::unique_ptr<WindowsModem> OpenFirst();

    WindowsModem(std::shared_ptr<Platform::MbnInterfaceManager> manager,
                 std::shared_ptr<Platform::MbnInterface> modemInterface,
                 std::shared_ptr<Platform::MbnSms> sms);
    ~WindowsModem() override;
    WindowsModem(const WindowsModem&) = delete;
    WindowsModem& operator=(const WindowsModem&) = delete;

    // Disconnects the sink, unregisters from the SMS router and lets go of the service.
    void Close();

    // Registers with Windows' SMS router for the MMS notices it routes, which are kept until
    // Android acknowledges them. Failures are logged; the modem works on without them.
    void ReceiveRoutedNotices();

    ModemState ReadState() override;
    void SetMessageHandler(Handlers handlers) override;
    void DisconnectSinks() override;
    bool SendSms(const std::string& pdu, std::uint8_t length) override;
    void DeliverStored() override;
    void NackMessage(std::uint32_t id) override;

    // The whole message store, in the order Windows reports it; none on any failure or while no
    // sink is connected (the answer arrives through it).
    std::optional<std::vector<StoredMessage>> ReadStore();

protected:
    void DeleteStored(std::uint32_t index) override;
    void DropNotice(std::uint32_t id) override;

private:
    struct Advice
    {
        Platform::MbnEventFamily family;
        std::uint32_t cookie;
    };

    std::shared_ptr<Platform::MbnInterfaceManager> manager_;
    std::shared_ptr<Platform::MbnInterface> interface_;
    std::shared_ptr<Platform::MbnRegistration> registration_;
    std::shared_ptr<Platform::MbnSignal> signal_;
    std::shared_ptr<Platform::MbnSms> sms_;
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
    std::shared_ptr<Platform::MbnEvents> sink_;
    std::vector<Advice> advices_;
    std::unique_ptr<Platform::SmsRegistration> routerRegistration_;
};

} // namespace Pd::Tel
