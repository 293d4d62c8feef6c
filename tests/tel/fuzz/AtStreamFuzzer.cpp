// The byte stream of a radio-interface connection into the AT engine: lines, prompts and PDUs,
// cut into receives anywhere. Every text that goes to Android must be well framed, the answers
// must not depend on where the stream was cut (over-long lines included), and no PDU whose
// lengths disagree may reach the modem.
#include "core/Log.h"
#include "tel/at/AtSession.h"
#include "tel/sms/SubmitPdu.h"
#include "tests/support/FuzzCheck.h"
#include "tests/tel/MemoryModem.h"

#include <algorithm>

namespace
{

using namespace Pd::Tel;
using PdTest::Check;

// Either the PDU prompt alone, or answer lines each framed by CR LF with no line end inside.
void CheckFramed(std::string_view text)
{
    if (text == "\r\n> ")
        return;
    Check(!text.empty());
    while (!text.empty())
    {
        Check(text.starts_with("\r\n"));
        text.remove_prefix(2);
        std::size_t end = text.find("\r\n");
        Check(end != std::string_view::npos);
        Check(text.substr(0, end).find_first_of("\r\n") == std::string_view::npos);
        text.remove_prefix(end + 2);
    }
}

struct Run
{
    Testing::MemoryModem modem;
    std::string wire;
    AtSession session{modem, [this](std::string_view text) {
                          CheckFramed(text);
                          wire += text;
                      }};

    Run(std::uint8_t setup, std::string_view pduText)
    {
        modem.state.simReady = (setup & 1) != 0;
        modem.sendSucceeds = (setup & 2) != 0;
        constexpr std::int32_t registrations[] = {0, 1, 2, 5};
        modem.state.registration = registrations[(setup >> 2) & 3];
        modem.state.signal = (setup >> 4) * 3;
        modem.stored = {{Testing::TextSmsPdu, 7}, {std::string(pduText), 0x40000001}};
        modem.onMessage = [this](const std::string& pdu, std::uint32_t id) {
            session.ForwardMessage(pdu, id);
        };
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Input: modem set-up, cut seed, then the stream; its first 64 bytes also serve as a PDU
    // that the modem hands over.
    if (size < 2)
        return 0;
    static const bool quiet = [] {
        Pd::Core::SetLogSink([](std::string_view) {});
        return true;
    }();
    (void)quiet;
    std::string_view stream(reinterpret_cast<const char*>(data) + 2, size - 2);

    Run whole(data[0], stream.substr(0, 64));
    Run cut(data[0], stream.substr(0, 64));
    whole.session.Receive(stream);
    std::uint32_t seed = data[1] | 1u;
    for (std::size_t at = 0; at < stream.size();)
    {
        seed = seed * 1103515245u + 12345u;
        std::size_t length = std::min<std::size_t>(1 + (seed >> 16) % 40, stream.size() - at);
        cut.session.Receive(stream.substr(at, length));
        at += length;
    }
    for (Run* run : {&whole, &cut})
    {
        run->session.SendRegistrationNotices();
        for (const auto& [pdu, length] : run->modem.sent)
            Check(IsWellFormedSubmit(pdu, length));
        for (std::uint32_t index : run->modem.deleted)
            Check(!IsNoticeId(index));
    }
    // Wherever the stream was cut, over-long lines included, the connection answers alike.
    Check(whole.wire == cut.wire);
    Check(whole.modem.sent == cut.modem.sent && whole.modem.deleted == cut.modem.deleted &&
          whole.modem.nacked == cut.modem.nacked && whole.modem.dropped == cut.modem.dropped);
    return 0;
}
