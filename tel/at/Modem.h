// The emulated modem that answers Android's radio interface. The class is the seam to the PC's
// mobile broadband modem: the Windows side derives from it and supplies the state, the SMS send
// and the message-store operations; the AT command engine (tel/at/AtEngine.h) reaches it only
// through an AtState's modem reference.
#pragma once

#include "tel/at/AtState.h"
#include "tel/at/ModemState.h"
#include "tel/sim/SimFiles.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace Pd::Tel
{

// Message ids given to Android: a store index lies below this bound, a kept MMS notice's id at
// or above it.
constexpr std::uint32_t FirstNoticeId = 0x40000000;

constexpr bool IsNoticeId(std::uint32_t id)
{
    return id >= FirstNoticeId;
}

class Modem
{
public:
    virtual ~Modem() = default;

    // Opens the PC's first mobile broadband modem; null when there is no usable one.
    static std::unique_ptr<Modem> Open();

    // What a connected radio-interface session is told: one message for Android (PDU in hex and
    // its store index or notice id), and that registration, packet service or signal changed.
    struct Handlers
    {
        std::function<void(const std::string& pdu, std::uint32_t index)> onMessage;
        std::function<void()> onChange;
    };
    // Connects the modem's events to a session; paired with one DisconnectSinks before the next.
    virtual void SetMessageHandler(Handlers handlers) = 0;
    // Disconnects them: once it returns, neither handler runs again.
    virtual void DisconnectSinks() = 0;

    // Asks Windows afresh; nothing is cached.
    virtual ModemState ReadState() = 0;
    // Sends one SMS PDU (hex) with its TPDU length in octets; blocks until Windows reports the
    // result. True when it was sent.
    virtual bool SendSms(const std::string& pdu, std::uint8_t length) = 0;
    // Hands Android every stored message and kept notice it has not been given yet.
    virtual void DeliverStored() = 0;
    // Android refused the message, or it could not be passed on: it is handed again later.
    virtual void NackMessage(std::uint32_t id) = 0;

    // Android took the message: a stored one is deleted from the modem, a kept notice dropped.
    void AckMessage(std::uint32_t id)
    {
        if (IsNoticeId(id))
            DropNotice(id);
        else
            DeleteStored(id);
    }

    // The emulated SIM card of one connection and its "+CRSM:" answers.
    static SimCard PrepareSimFiles(std::string_view iccid, std::int32_t mncLength);
    static std::string AnswerSimRead(const SimCard& card, std::int32_t command, std::int32_t fileId,
                                     std::int32_t p1);

protected:
    // Deletes the message at this store index from the modem.
    virtual void DeleteStored(std::uint32_t index) = 0;
    // Forgets the kept MMS notice with this id.
    virtual void DropNotice(std::uint32_t id) = 0;
};

} // namespace Pd::Tel
