// Writes what Android receives when it asks for its messages: the stored SMS and kept MMS notices,
// then an SMS that arrives while connected. test_at_pdus.py decodes them independently.
#include "core/Log.h"
#include "tel/at/AtSession.h"
#include "tel/sms/MmsNoticePdu.h"
#include "tests/tel/MemoryModem.h"

#include <cstdio>
#include <numeric>

int main()
{
    using namespace Pd::Tel;
    Pd::Core::SetLogSink([](std::string_view) {});
    const SmsTime time{2025, 3, 7, 14, 5, 9};
    const std::uint8_t shortBody[] = {0x8C, 0x82};
    std::vector<std::uint8_t> longBody(200);
    std::iota(longBody.begin(), longBody.end(), 0);
    Testing::MemoryModem modem;
    modem.stored = {{Testing::TextSmsPdu, 7},
                    {BuildMmsNoticePdu("+12345", time, MmsContentType, shortBody, 0).at(0), FirstNoticeId}};
    for (const std::string& part : BuildMmsNoticePdu("Hello!", time, MmsContentType, longBody, 0x2A))
        modem.stored.emplace_back(part, FirstNoticeId + static_cast<std::uint32_t>(modem.stored.size()));
    AtSession session(modem, [](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); });
    modem.onMessage = [&](const std::string& pdu, std::uint32_t id) { session.ForwardMessage(pdu, id); };
    session.Receive("AT+CNMI=2,2,0,1,0\r");
    session.ForwardMessage("00040A81009403214300045230704150900002C8B4", 8); // 8-bit "\xC8\xB4"
    return 0;
}
