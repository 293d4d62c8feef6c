// A modem in memory behind the AT engine: the test sets its state and reads what was asked of it.
#pragma once

#include "tel/at/Modem.h"

#include <functional>

namespace Pd::Tel::Testing
{

// "How are you?" from +31641600986, with the service centre +31624000000.
inline const std::string TextSmsPdu =
    "07911326040000F0040B911346610089F60000208062917314080CC8F71D14969741F977FD07";

class MemoryModem : public Modem
{
public:
    ModemState state{
        true, "490154203237518", "89014103211118510720", "310410123456789", 1, "310410", "Nordwind", 7,
        20,   "+31624000000"};
    bool sendSucceeds = true;
    std::vector<std::pair<std::string, std::uint8_t>> sent;
    std::vector<std::uint32_t> deleted, dropped, nacked;
    std::vector<std::pair<std::string, std::uint32_t>> stored; // handed on every DeliverStored
    std::function<void(const std::string&, std::uint32_t)> onMessage;

    ModemState ReadState() override { return state; }
    bool SendSms(const std::string& pdu, std::uint8_t length) override
    {
        sent.emplace_back(pdu, length);
        return sendSucceeds;
    }
    void DeliverStored() override
    {
        for (const auto& [pdu, id] : stored)
            onMessage(pdu, id);
    }
    void NackMessage(std::uint32_t id) override { nacked.push_back(id); }
    void SetMessageHandler(Handlers given) override { handlers = std::move(given); }
    void DisconnectSinks() override { handlers = {}; }

    Handlers handlers;

protected:
    void DeleteStored(std::uint32_t index) override { deleted.push_back(index); }
    void DropNotice(std::uint32_t id) override { dropped.push_back(id); }
};

} // namespace Pd::Tel::Testing
