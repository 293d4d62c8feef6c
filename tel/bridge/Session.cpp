#include "tel/bridge/Session.h"

#include "core/CallbackGate.h"

#include <array>
#include <memory>

namespace Pd::Tel
{
namespace
{

// What the modem's handlers hold in place of the session: a modem may still call a copy of a
// handler after DisconnectSinks, from its own threads, when the session is long gone.
class SessionLink
{
public:
    explicit SessionLink(AtSession& session) : session_(session) {}

    // Runs call on the session unless the connection ended; handlers may run at once.
    template <typename Call> void With(Call&& call)
    {
        gate_.Run([&] { call(session_); });
    }

    // Waits for the handlers running now; later ones find the gate closed.
    void Disarm() { gate_.Close(); }

private:
    AtSession& session_;
    Core::CallbackGate gate_;
};

Modem::Handlers LinkedHandlers(const std::shared_ptr<SessionLink>& link)
{
    return {
        [link](const std::string& pdu, std::uint32_t index) {
            link->With([&](AtSession& session) { session.ForwardMessage(pdu, index); });
        },
        [link] { link->With([](AtSession& session) { session.SendRegistrationNotices(); }); },
    };
}

} // namespace

void ServeStream(Modem& modem, const Stream& stream)
{
    AtSession session(modem, stream.send);
    auto link = std::make_shared<SessionLink>(session);
    modem.SetMessageHandler(LinkedHandlers(link));
    std::array<char, ReceiveSize> buffer;
    for (;;)
    {
        int got = stream.receive(buffer);
        if (got <= 0)
            break;
        session.Receive({buffer.data(), static_cast<std::size_t>(got)});
    }
    // A handler blocked in a send to a peer that stopped reading would hold up the disarming.
    stream.shutdown();
    link->Disarm();
    modem.DisconnectSinks();
}

} // namespace Pd::Tel
