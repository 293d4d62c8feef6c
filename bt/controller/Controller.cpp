// Construction, destruction, command dispatch, the answer to unsupported commands, the event
// builders, Reset and the closing of links.
#include "bt/controller/Controller.h"

#include "bt/controller/HciStatus.h"
#include "bt/controller/Opcodes.h"
#include "bt/hci/CommandTable.h"
#include "bt/hci/Events.h"
#include "core/Log.h"

#include <fmt/format.h>

#include <algorithm>

namespace Pd::Bt
{
namespace
{

// A scanner for a controller without an advertisement watcher: it never reports anything.
class IdleScanner final : public Scanner
{
public:
    void Start(bool) override {}
    void Stop() override {}
};

// OGF 1 commands that an unsupported-command answer completes rather than acknowledges.
constexpr std::uint16_t CompletedLinkControl[] = {0x0402, 0x0404, 0x0408, 0x040B, 0x040C, 0x040D,
                                                  0x040E, 0x0412, 0x041A, 0x041B, 0x042B, 0x042C,
                                                  0x042D, 0x042E, 0x0434, 0x0443};
// Commands of other OGFs that an unsupported-command answer acknowledges with Command Status.
constexpr std::uint16_t AcknowledgedOther[] = {0x200D, 0x2013, 0x2016, 0x2019, 0x2025,
                                               0x2026, 0x2032, 0x2043, 0x2044};

bool Contains(std::span<const std::uint16_t> list, std::uint16_t opcode)
{
    return std::find(list.begin(), list.end(), opcode) != list.end();
}

std::string ParameterDump(ByteView parameters)
{
    constexpr std::size_t Shown = 48;
    std::string dump;
    for (std::uint8_t byte : parameters.first(std::min(parameters.size(), Shown)))
        dump += fmt::format("{:02x}", byte);
    if (parameters.size() > Shown)
        dump += fmt::format("... ({} bytes)", parameters.size());
    return dump;
}

void LogFailure(std::uint16_t opcode, std::string_view what)
{
    Core::Log(fmt::format("hci: command 0x{:04X} failed: {}", opcode, what));
}

} // namespace

Controller::Controller(SendFunction send, std::uint64_t adapterAddress, ControllerServices services)
    : send_(std::move(send)), adapterAddress_(adapterAddress),
      services_(std::move(services)), localName_{'A', 'n', 'd', 'r', 'o', 'i', 'd'}
{
    if (services_.makeScanner)
        scanner_ = services_.makeScanner(
            [this](const Advertisement& advertisement) { OnAdvertisement(advertisement); });
    if (!scanner_)
        scanner_ = std::make_unique<IdleScanner>();
    RegisterCommands();
}

Controller::~Controller()
{
    scanner_->Stop();
    inquiryWorker_.request_stop();
    CancelConnect();
    if (connectWorker_.joinable())
        connectWorker_.join();

    std::map<std::uint16_t, Connection> taken;
    {
        std::lock_guard guard(linkLock_);
        taken.swap(links_);
    }
    for (auto& [handle, connection] : taken)
        if (connection.link)
            connection.link->Close();
    {
        std::unique_lock guard(closerLock_);
        closersDone_.wait(guard, [this] { return closers_ == 0; });
    }
    taken.clear();
    unclosedLinks_.clear();
    StopInquiry();
    scanner_.reset();
}

void Controller::Send(Hci::PacketType type, Bytes packet)
{
    send_(type, std::move(packet));
}

void Controller::SendCommandComplete(std::uint16_t opcode, std::uint8_t status, ByteView returnParameters)
{
    answered_ = true;
    Send(Hci::PacketType::Event, Hci::CommandCompleteEvent(opcode, status, returnParameters));
}

void Controller::SendCommandStatus(std::uint16_t opcode, std::uint8_t status)
{
    answered_ = true;
    Send(Hci::PacketType::Event, Hci::CommandStatusEvent(opcode, status));
}

void Controller::SendEvent(std::uint8_t code, ByteView parameters)
{
    Send(Hci::PacketType::Event, Hci::EventPacket(code, parameters));
}

void Controller::SendLeMetaEvent(std::uint8_t subevent, ByteView parameters)
{
    Send(Hci::PacketType::Event, Hci::LeMetaEvent(subevent, parameters));
}

void Controller::HandleCommand(ByteView packet)
{
    if (packet.size() < 3)
        return;
    std::uint16_t opcode = static_cast<std::uint16_t>(packet[0] | packet[1] << 8);
    // A packet shorter than its declared length is handled with the bytes it has.
    ByteView parameters = packet.subspan(3, std::min<std::size_t>(packet[2], packet.size() - 3));
    answered_ = false;

    if (SpecialCommand command = FindSpecialCommand(opcode))
        RunSpecialCommand(opcode, command, parameters);
    else if (auto found = handlers_.find(opcode); found != handlers_.end())
        RunMapCommand(opcode, found->second, parameters);
    else
        AnswerUnsupported(opcode, parameters);
}

Controller::SpecialCommand Controller::FindSpecialCommand(std::uint16_t opcode)
{
    switch (opcode)
    {
    case Op::Inquiry:
        return &Controller::Inquiry;
    case Op::InquiryCancel:
        return &Controller::InquiryCancel;
    case Op::Disconnect:
        return &Controller::Disconnect;
    case Op::RemoteNameRequest:
        return &Controller::RemoteNameRequest;
    case Op::RemoteNameRequestCancel:
        return &Controller::RemoteNameRequestCancel;
    case Op::ReadRemoteVersionInformation:
        return &Controller::ReadRemoteVersionInformation;
    case Op::LeCreateConnection:
        return &Controller::LeCreateConnection;
    case Op::LeConnectionUpdate:
        return &Controller::LeConnectionUpdate;
    case Op::LeReadRemoteFeatures:
        return &Controller::LeReadRemoteFeatures;
    case Op::LeStartEncryption:
        return &Controller::LeStartEncryption;
    }
    return nullptr;
}

void Controller::RunSpecialCommand(std::uint16_t opcode, SpecialCommand command, ByteView parameters)
{
    std::string failure;
    try
    {
        (this->*command)(parameters);
        return;
    }
    catch (const std::out_of_range&)
    {
        SendCommandStatus(opcode, Hci::Status::InvalidParameters);
        return;
    }
    catch (const std::exception& error)
    {
        failure = error.what();
    }
    catch (...)
    {
        failure = "unknown error";
    }
    // Allocation or thread creation failed: the command fails, the connection goes on.
    LogFailure(opcode, failure);
    if (answered_)
        return;
    if (opcode == Op::InquiryCancel || opcode == Op::RemoteNameRequestCancel)
        SendCommandComplete(opcode, Hci::Status::HardwareFailure);
    else
        SendCommandStatus(opcode, Hci::Status::HardwareFailure);
}

void Controller::RunMapCommand(std::uint16_t opcode, CommandHandler handler, ByteView parameters)
{
    Bytes returnParameters;
    std::uint8_t status = Hci::Status::Success;
    try
    {
        returnParameters = handler(*this, parameters);
    }
    catch (const std::out_of_range&)
    {
        status = Hci::Status::InvalidParameters;
    }
    catch (const HciStatus& error)
    {
        status = error.code;
    }
    catch (const std::exception& error)
    {
        LogFailure(opcode, error.what());
        status = Hci::Status::HardwareFailure;
    }
    catch (...)
    {
        LogFailure(opcode, "unknown error");
        status = Hci::Status::HardwareFailure;
    }
    SendCommandComplete(opcode, status, returnParameters);
    if (auto work = std::exchange(afterAnswer_, nullptr))
        work();
}

void Controller::AnswerUnsupported(std::uint16_t opcode, ByteView parameters)
{
    Core::Log(fmt::format("hci: unsupported command 0x{:04X} {} params {}", opcode, Hci::CommandName(opcode),
                          ParameterDump(parameters)));
    bool complete = (opcode >> 10) == 0x01 ? Contains(CompletedLinkControl, opcode)
                                           : !Contains(AcknowledgedOther, opcode);
    if (complete)
        SendCommandComplete(opcode, Hci::Status::UnknownCommand);
    else
        SendCommandStatus(opcode, Hci::Status::UnknownCommand);
}

Bytes Controller::Reset()
{
    scanner_->Stop();
    inquiryWorker_.request_stop();
    ++generation_;
    CancelConnect();
    {
        std::lock_guard guard(linkLock_);
        for (auto& [handle, connection] : links_)
            CloseLinkAsync(std::move(connection.link));
        links_.clear();
    }
    {
        std::lock_guard guard(stateLock_);
        scanActive_ = true;
        scanEnabled_ = false;
        filterDuplicates_ = false;
        reportedAdvertisements_.clear();
    }
    Core::Log("hci: reset");
    return {};
}

void Controller::CancelConnect()
{
    {
        std::lock_guard guard(connectWaitLock_);
        connectCancel_ = true;
    }
    connectWait_.notify_all();
}

void Controller::CloseLinkAsync(std::unique_ptr<LeLink> link) noexcept
{
    if (!link)
        return;
    std::lock_guard guard(closerLock_);
    std::shared_ptr<std::unique_ptr<LeLink>> owned;
    try
    {
        owned = std::make_shared<std::unique_ptr<LeLink>>(std::move(link));
        std::thread([this, owned] {
            owned->reset(); // destroying the link closes it
            std::lock_guard closerGuard(closerLock_);
            if (--closers_ == 0)
                closersDone_.notify_all();
        }).detach();
        ++closers_;
        return;
    }
    catch (...)
    {
    }
    // No thread could be started: keep the link for the destructor, which closes it. Closing it
    // here could deadlock when the call comes from the link's own disconnect notice.
    if (owned)
        link = std::move(*owned);
    try
    {
        unclosedLinks_.push_back(std::move(link));
        Core::Log("hci: no thread to close a link; it closes with the connection");
    }
    catch (...)
    {
        // Out of memory as well: the link closes here, which beats losing it.
    }
}

} // namespace Pd::Bt
