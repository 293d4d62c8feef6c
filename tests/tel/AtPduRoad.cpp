// Writes to standard output what Android receives on one connection that asks for its messages:
// the answer to "AT+CNMI=", the stored SMS and kept MMS notices, then an SMS arriving while
// connected. test_at_pdus.py decodes every "+CMT" PDU with an independent decoder.
#include "core/Log.h"
#include "tel/at/AtSession.h"
#include "tel/sms/MmsNoticePdu.h"
#include "tests/tel/MemoryModem.h"

#include <cstdio>

int main()
{
    using namespace Pd::Tel;
    Pd::Core::SetLogSink([](std::string_view) {});
    const SmsTime time{.year = 2025, .month = 3, .day = 7, .hour = 14, .minute = 5, .second = 9};
    const std::uint8_t shortBody[] = {0x8C, 0x82};
    std::vector<std::uint8_t> longBody(200);
    for (std::size_t i = 0; i < longBody.size(); ++i)
        longBody[i] = static_cast<std::uint8_t>(i);
    auto single = BuildMmsNoticePdu("+12345", time, MmsContentType, shortBody, 0);
    auto parts = BuildMmsNoticePdu("Hello!", time, MmsContentType, longBody, 0x2A);

    Testing::MemoryModem modem;
    modem.stored = {{Testing::TextSmsPdu, 7}, {single.at(0), FirstNoticeId}};
    for (std::uint32_t i = 0; i < parts.size(); ++i)
        modem.stored.emplace_back(parts[i], FirstNoticeId + 1 + i);
    std::string wire;
    AtSession session(modem, [&](std::string_view text) { wire += text; });
    modem.onMessage = [&](const std::string& pdu, std::uint32_t id) { session.ForwardMessage(pdu, id); };
    session.Receive("AT+CNMI=2,2,0,1,0\r");
    // "Hi" in 8-bit data from 0049301234, no service centre.
    session.ForwardMessage("00040A81009403214300045230704150900002C8B4", 8);
    std::fwrite(wire.data(), 1, wire.size(), stdout);
    return 0;
}
