// Construction, destruction, command dispatch, the answer to unsupported commands, the event
// builders, Reset and the closing of links.
#include "bt/controller/Controller.h"

#include "bt/controller/Opcodes.h"
#include "bt/hci/CommandTable.h"
#include "bt/hci/Events.h"
#include "core/Log.h"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>

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

// What a failed Command Complete carries after its status: the command's handle or address, then
// zeros up to its full return parameters; nothing when the parameters are too short to echo.
Bytes Echoed(const CommandEntry& command, ByteView parameters)
{
    Bytes echoed;
    if (command.echo == CommandEcho::Handle && parameters.size() >= 2)
        Hci::AppendHandle(echoed, ReadLe16(parameters, 0));
    else if (command.echo == CommandEcho::Address && parameters.size() >= 6)
        Append(echoed, parameters.first(6));
    if (!echoed.empty() && echoed.size() < command.returnSize)
        echoed.resize(command.returnSize);
    return echoed;
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
    // The closer worker ends once it has closed everything queued.
    if (closer_.joinable())
    {
        closer_.request_stop();
        closer_.join();
    }
    for (ClosingLink& left : closing_) // only when the worker never started
        left.link->Close();
    closing_.clear();
    taken.clear();
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
    Bytes parameters{0x01, static_cast<std::uint8_t>(opcode), static_cast<std::uint8_t>(opcode >> 8), status};
    Append(parameters, returnParameters);
    SendEvent(Hci::Event::CommandComplete, parameters);
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
    afterAnswer_ = nullptr;

    auto commands = CommandEntries();
    auto found = std::find_if(commands.begin(), commands.end(),
                              [opcode](const CommandEntry& entry) { return entry.opcode == opcode; });
    if (found == commands.end())
        // Commands outside the table: link control ones are acknowledged, the others completed.
        AnswerUnsupported(opcode, parameters, (opcode >> 10) != 0x01);
    else if (found->run == nullptr)
        AnswerUnsupported(opcode, parameters, found->answer == CommandAnswer::UnknownComplete);
    else
        RunCommand(*found, parameters);
}

void Controller::RunCommand(const CommandEntry& command, ByteView parameters)
{
    Bytes returnParameters;
    std::uint8_t status = Hci::Status::Success;
    try
    {
        CommandResult result = command.run(*this, parameters);
        if (result)
            returnParameters = std::move(*result);
        else
            status = result.error();
    }
    // Handlers fail with a status; what still throws is a failure of the machine or a service
    // (out of memory, the cipher or the random generator), answered as a hardware failure.
    catch (const std::exception& error)
    {
        LogFailure(command.opcode, error.what());
        status = Hci::Status::HardwareFailure;
    }
    catch (...)
    {
        LogFailure(command.opcode, "unknown error");
        status = Hci::Status::HardwareFailure;
    }
    if (status == Hci::Status::Success && command.answer != CommandAnswer::Returns)
        return;
    if (status != Hci::Status::Success)
    {
        if (answered_)
            return; // failed after its answer went out: logged, never answered twice
        // The controller's own commands answer too-short parameters with Command Status.
        bool complete =
            command.answer == CommandAnswer::Returns ||
            (command.answer == CommandAnswer::OwnComplete && status != Hci::Status::InvalidParameters);
        if (!complete)
        {
            SendCommandStatus(command.opcode, status);
            return;
        }
        returnParameters = Echoed(command, parameters);
    }
    SendCommandComplete(command.opcode, status, returnParameters);
    if (auto work = std::exchange(afterAnswer_, nullptr))
        work();
}

void Controller::AnswerUnsupported(std::uint16_t opcode, ByteView parameters, bool complete)
{
    Core::Log(fmt::format("hci: unsupported command 0x{:04X} {} params {}", opcode, Hci::CommandName(opcode),
                          ParameterDump(parameters)));
    if (complete)
        SendCommandComplete(opcode, Hci::Status::UnknownCommand);
    else
        SendCommandStatus(opcode, Hci::Status::UnknownCommand);
}

CommandResult Controller::Reset(ByteView)
{
    scanner_->Stop();
    inquiryWorker_.request_stop();
    CancelConnect();
    {
        // An attempt that reports after this sees the new generation and stays silent; one that
        // reported before is removed here, after its LE Connection Complete went out.
        std::lock_guard report(reportLock_);
        ++generation_;
        std::lock_guard guard(linkLock_);
        for (auto& [handle, connection] : links_)
            CloseLinkAsync(handle, std::move(connection.link));
        links_.clear();
    }
    {
        std::lock_guard guard(stateLock_);
        scanActive_ = true;
        scanEnabled_ = false;
        filterDuplicates_ = false;
        reportedAdvertisements_.Clear();
    }
    Core::Log("hci: reset");
    return {};
}

void Controller::CancelConnect()
{
    {
        // Taken so that the request cannot fall between the worker's check and its wait.
        std::lock_guard guard(connectWaitLock_);
        connectWorker_.request_stop();
    }
    connectWait_.notify_all();
}

void Controller::CloseLinkAsync(std::uint16_t handle, std::shared_ptr<LeLink> link) noexcept
{
    if (!link)
        return;
    try
    {
        std::lock_guard guard(closerLock_);
        tearingDown_.push_back(handle);
        try
        {
            closing_.emplace_back(); // the room first, so that the link moves only once it fits
        }
        catch (...)
        {
            tearingDown_.pop_back();
            throw;
        }
        // Moved, not copied: the closer must hold the only share, so that the link is released
        // there and never back on the caller's thread, which may be one of the link's own.
        closing_.back() = ClosingLink{handle, std::move(link)};
        closerWake_.notify_one();
        return;
    }
    catch (...)
    {
    }
    // Out of memory: closing here may wait long for Windows, which beats losing the device.
    link->Close();
}

void Controller::RunCloser(std::stop_token stop) noexcept
{
    std::unique_lock guard(closerLock_);
    while (closerWake_.wait(guard, stop, [this] { return !closing_.empty(); }))
    {
        ClosingLink next = std::move(closing_.front());
        closing_.pop_front();
        guard.unlock();
        next.link->Close();
        next.link.reset();
        guard.lock();
        // The handle may be handed out again only now that its link is gone.
        auto at = std::find(tearingDown_.begin(), tearingDown_.end(), next.handle);
        if (at != tearingDown_.end())
            tearingDown_.erase(at);
    }
}

} // namespace Pd::Bt
