// A modem in memory behind the AT command engine: its state is set by the test, and what the
// engine asks of it is recorded. Shared by the tests, the fuzz target and the PDU road.
#pragma once

#include "tel/at/Modem.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace Pd::Tel::Testing
{

// An SMS-DELIVER of "How are you?" from +31641600986, with the service centre +31624000000.
inline const std::string TextSmsPdu =
    "07911326040000F0040B911346610089F60000208062917314080CC8F71D14969741F977FD07";

// Registered at home on LTE, signal 20, SIM ready.
inline ModemState HomeOnLte()
{
    return {.simReady = true,
            .imei = "490154203237518",
            .iccid = "89014103211118510720",
            .imsi = "310410123456789",
            .registration = 1,
            .providerId = "310410",
            .providerName = "Nordwind",
            .accessTechnology = 7,
            .signal = 20,
            .serviceCentre = "+31624000000"};
}

class MemoryModem : public Modem
{
public:
    ModemState state = HomeOnLte();
    bool sendSucceeds = true;
    std::vector<std::pair<std::string, std::uint8_t>> sent;
    std::vector<std::uint32_t> deleted, dropped, nacked;
    // What DeliverStored hands the message handler, every time.
    std::vector<std::pair<std::string, std::uint32_t>> stored;
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
            if (onMessage)
                onMessage(pdu, id);
    }
    void NackMessage(std::uint32_t id) override { nacked.push_back(id); }

protected:
    void DeleteStored(std::uint32_t index) override { deleted.push_back(index); }
    void DropNotice(std::uint32_t id) override { dropped.push_back(id); }
};

} // namespace Pd::Tel::Testing
