// The byte stream from Android, cut into receive calls, through the H4 deframer into a fresh
// controller whose every outgoing packet must be well-formed.
#include "bt/controller/Controller.h"
#include "bt/hci/H4.h"
#include "core/Log.h"
#include "tests/support/FuzzCheck.h"

#include <cstdlib>

namespace
{

using namespace Pd::Bt;

// A link that sends every PDU it gets straight back, so that fragmentation runs too.
class EchoLink final : public LeLink
{
public:
    explicit EchoLink(LinkSend send) : send_(std::move(send)) {}
    bool PushFromAndroid(std::uint16_t cid, Bytes pdu) override
    {
        send_(cid, std::move(pdu));
        return true;
    }
    void DistributeKeys() override {}
    bool IsDisconnected() const override { return false; }
    void Close() override {}

private:
    LinkSend send_;
};

using PdTest::Check;

void CheckSent(Hci::PacketType type, const Bytes& packet)
{
    if (type == Hci::PacketType::Event)
    {
        Check(packet.size() >= 2 && packet[1] == packet.size() - 2);
        return;
    }
    Check(type == Hci::PacketType::Acl);
    Check(packet.size() >= 4 && static_cast<std::size_t>(packet[2] | packet[3] << 8) == packet.size() - 4 &&
          packet.size() - 4 <= LeAclDataLength);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool quiet = (Pd::Core::SetLogSink([](std::string_view) {}), true);
    (void)quiet;
    if (size == 0)
        return 0;
    // The first byte picks the size of the receive calls; the rest is the stream.
    std::size_t receive = 1 + data[0] % 64;
    ByteView stream(data + 1, size - 1);

    ControllerServices services;
    services.connectLink = [](const LinkAddresses& addresses, LinkSend send, LinkDisconnected,
                              LinkCreditsFreed, std::uint8_t& status,
                              std::stop_token) -> std::unique_ptr<LeLink> {
        status = 0x3E;
        if (addresses.peerAddress & 1)
            return nullptr;
        status = 0x00;
        return std::make_unique<EchoLink>(std::move(send));
    };
    Controller controller([](Hci::PacketType type, Bytes packet) { CheckSent(type, packet); }, 0x112233445566,
                          std::move(services));
    H4Deframer deframer([&controller](Hci::PacketType type, ByteView packet) {
        if (type == Hci::PacketType::Command)
            controller.HandleCommand(packet);
        else if (type == Hci::PacketType::Acl)
            controller.HandleAclData(packet);
    });
    for (std::size_t at = 0; at < stream.size(); at += receive)
        if (!deframer.Feed(stream.subspan(at, std::min(receive, stream.size() - at))))
            break;
    return 0;
}
