// The controller's side of LE scanning: advertisement reports with the duplicate filter, and
// the advertised names and signal strengths that answer Remote Name Request and Read RSSI.
#include "bt/controller/Controller.h"

#include "bt/controller/Opcodes.h"
#include "bt/hci/AdvertisingData.h"
#include "bt/hci/Events.h"

#include <algorithm>
#include <optional>

namespace Pd::Bt
{
namespace
{

constexpr std::uint8_t ScanResponse = 4;
constexpr std::int8_t UnknownRssi = -60; // dBm
constexpr std::size_t NameLength = 248;

} // namespace

void Controller::OnAdvertisement(const Advertisement& advertisement)
{
    {
        std::lock_guard guard(stateLock_);
        Heard& heard = heard_.Refresh(advertisement.address);
        heard.rssi = advertisement.rssi;
        std::string name = NameFromAdvertisingData(advertisement.data);
        if (!name.empty())
            heard.name.assign(name.begin(), name.end());
        if (!scanEnabled_ || (!scanActive_ && advertisement.kind == ScanResponse))
            return;
        if (filterDuplicates_)
        {
            Bytes& reported = reportedAdvertisements_.Refresh({advertisement.address, advertisement.kind});
            if (!reported.empty() && reported == advertisement.data)
                return;
            reported = advertisement.data;
        }
    }
    ByteView data = ByteView(advertisement.data).first(std::min<std::size_t>(advertisement.data.size(), 31));
    Bytes report{0x01, advertisement.kind, static_cast<std::uint8_t>(advertisement.random ? 0x01 : 0x00)};
    AppendAddress(report, advertisement.address);
    report.push_back(static_cast<std::uint8_t>(data.size()));
    Append(report, data);
    report.push_back(static_cast<std::uint8_t>(advertisement.rssi));
    SendLeMetaEvent(Hci::LeSubevent::AdvertisingReport, report);
}

CommandResult Controller::LeSetScanParameters(ByteView parameters)
{
    if (parameters.size() < 1)
        return ParametersTooShort();
    std::lock_guard guard(stateLock_);
    scanActive_ = parameters[0] == 0x01;
    return {};
}

CommandResult Controller::LeSetScanEnable(ByteView parameters)
{
    if (parameters.size() < 2)
        return ParametersTooShort();
    bool enabled = parameters[0] != 0;
    bool active = false;
    {
        std::lock_guard guard(stateLock_);
        scanEnabled_ = enabled;
        filterDuplicates_ = parameters[1] != 0;
        reportedAdvertisements_.Clear();
        active = scanActive_;
    }
    // The first report must not reach Android ahead of this command's answer.
    if (enabled)
        afterAnswer_ = [this, active] { scanner_->Start(active); };
    else
        scanner_->Stop();
    return {};
}

std::optional<std::int8_t> Controller::HeardRssi(std::uint64_t address)
{
    std::lock_guard guard(stateLock_);
    const Heard* heard = heard_.Find(address);
    return heard ? std::optional(heard->rssi) : std::nullopt;
}

CommandResult Controller::ReadRssi(ByteView parameters)
{
    if (parameters.size() < 2)
        return ParametersTooShort();
    std::uint16_t handle = ReadLe16(parameters, 0) & 0x0FFF;
    std::uint64_t peer = 0;
    std::optional<std::int8_t> rssi;
    {
        std::lock_guard guard(linkLock_);
        auto entry = links_.find(handle);
        if (entry == links_.end())
            return Refuse(Hci::Status::UnknownConnection);
        peer = entry->second.peerAddress;
        rssi = entry->second.rssiWhenConnected;
    }
    // The device heard since is newer; one the table let go keeps what the link holds.
    if (std::optional<std::int8_t> heard = HeardRssi(peer))
        rssi = heard;
    Bytes answer;
    Hci::AppendHandle(answer, handle);
    answer.push_back(static_cast<std::uint8_t>(rssi.value_or(UnknownRssi)));
    return answer;
}

CommandResult Controller::RemoteNameRequest(ByteView parameters)
{
    if (parameters.size() < 6)
        return ParametersTooShort();
    std::uint64_t address = ReadAddress(parameters, 0);
    Bytes name;
    {
        std::lock_guard guard(stateLock_);
        if (const Heard* heard = heard_.Find(address))
            name = heard->name;
    }
    SendCommandStatus(Op::RemoteNameRequest, Hci::Status::Success);
    Bytes event{name.empty() ? Hci::Status::PageTimeout : Hci::Status::Success};
    AppendAddress(event, address);
    Bytes padded(NameLength, 0);
    std::copy_n(name.begin(), std::min(name.size(), NameLength - 1), padded.begin());
    Append(event, padded);
    SendEvent(Hci::Event::RemoteNameRequestComplete, event);
    return {};
}

CommandResult Controller::RemoteNameRequestCancel(ByteView parameters)
{
    if (parameters.size() < 6)
        return ParametersTooShort();
    SendCommandComplete(Op::RemoteNameRequestCancel, Hci::Status::Success, parameters.first(6));
    return {};
}

} // namespace Pd::Bt
