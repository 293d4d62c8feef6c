// The one table of the commands the controller answers, supported or not: it drives the dispatch
// and the supported-commands bitmap, so a command is registered here and nowhere else.
#include "bt/controller/Controller.h"

#include "bt/controller/Opcodes.h"
#include "bt/hci/CommandTable.h"

namespace Pd::Bt
{
namespace
{

CommandResult None(Controller&, ByteView)
{
    return {};
}

template <std::uint8_t... Value> CommandResult Fixed(Controller&, ByteView)
{
    return Bytes{Value...};
}

void AppendLe64(Bytes& out, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

CommandResult ReadLocalExtendedFeatures(Controller&, ByteView parameters)
{
    if (parameters.size() < 1)
        return ParametersTooShort();
    std::uint8_t page = parameters[0];
    std::uint64_t features = page == 0 ? 0x875B1FD87E8FFFFF : page == 1 ? 0x0F : page == 2 ? 0x0300 : 0;
    Bytes answer{page, 0x02};
    AppendLe64(answer, features);
    return answer;
}

} // namespace

std::span<const CommandEntry> Controller::CommandEntries()
{
    using enum CommandAnswer;
    static constexpr CommandEntry Entries[] = {
        {Op::Inquiry, &Call<&Controller::Inquiry>, OwnStatus},
        {Op::InquiryCancel, &Call<&Controller::InquiryCancel>, OwnComplete},
        {Op::Disconnect, &Call<&Controller::Disconnect>, OwnStatus},
        {Op::RemoteNameRequest, &Call<&Controller::RemoteNameRequest>, OwnStatus},
        {Op::RemoteNameRequestCancel, &Call<&Controller::RemoteNameRequestCancel>, OwnComplete,
         CommandEcho::Address, 6},
        {Op::ReadRemoteVersionInformation, &Call<&Controller::ReadRemoteVersionInformation>, OwnStatus},
        {Op::ReadDefaultLinkPolicySettings, &Fixed<0x05, 0x00>, Returns},
        {Op::WriteDefaultLinkPolicySettings, &None, Returns},
        {Op::SetEventMask, &None, Returns},
        {Op::Reset, &Call<&Controller::Reset>, Returns},
        {Op::SetEventFilter, &None, Returns},
        {Op::WriteLocalName, &Call<&Controller::WriteLocalName>, Returns},
        {Op::ReadLocalName, &Call<&Controller::ReadLocalName>, Returns},
        {Op::WriteConnectionAcceptTimeout, &None, Returns},
        {Op::WritePageTimeout, &None, Returns},
        {Op::ReadScanEnable, &Fixed<0x00>, Returns},
        {Op::WriteScanEnable, &None, Returns},
        {Op::WritePageScanActivity, &None, Returns},
        {Op::WriteInquiryScanActivity, &None, Returns},
        {Op::ReadClassOfDevice, &Fixed<0x0C, 0x01, 0x0C>, Returns},
        {Op::WriteClassOfDevice, &None, Returns},
        {Op::ReadVoiceSetting, &Fixed<0x60, 0x00>, Returns},
        {Op::WriteVoiceSetting, &None, Returns},
        {Op::HostBufferSize, &None, Returns},
        {Op::ReadNumberOfSupportedIac, &Fixed<0x01>, Returns},
        {Op::ReadCurrentIacLap, &Fixed<0x01, 0x33, 0x8B, 0x9E>, Returns},
        {Op::WriteCurrentIacLap, &None, Returns},
        {Op::WriteInquiryScanType, &None, Returns},
        {Op::WriteInquiryMode, &None, Returns},
        {Op::WritePageScanType, &None, Returns},
        {Op::WriteExtendedInquiryResponse, &None, Returns},
        {Op::WriteSimplePairingMode, &None, Returns},
        {Op::ReadInquiryResponseTransmitPowerLevel, &Fixed<0x00>, Returns},
        {Op::SetEventMaskPage2, &None, Returns},
        {Op::ReadLeHostSupport, &Fixed<0x01, 0x00>, Returns},
        {Op::WriteLeHostSupport, &None, Returns},
        {Op::WriteSecureConnectionsHostSupport, &None, Returns},
        {Op::ReadLocalVersionInformation, &Fixed<0x08, 0x01, 0x00, 0x08, 0xFF, 0xFF, 0x01, 0x00>, Returns},
        {Op::ReadLocalSupportedCommands, &Call<&Controller::ReadLocalSupportedCommands>, Returns},
        {Op::ReadLocalSupportedFeatures, &Fixed<0xFF, 0xFF, 0x8F, 0x7E, 0xD8, 0x1F, 0x5B, 0x87>, Returns},
        {Op::ReadLocalExtendedFeatures, &ReadLocalExtendedFeatures, Returns},
        {Op::ReadBufferSize, &Fixed<0xFD, 0x03, 0x40, 0x08, 0x00, 0x08, 0x00>, Returns},
        {Op::ReadBdAddr, &Call<&Controller::ReadBdAddr>, Returns},
        {Op::ReadRssi, &Call<&Controller::ReadRssi>, Returns, CommandEcho::Handle, 3},
        {Op::LeSetEventMask, &None, Returns},
        {Op::LeReadBufferSize, &Fixed<0xFB, 0x00, 0x08>, Returns},
        {Op::LeReadLocalSupportedFeatures, &Fixed<0x1F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00>, Returns},
        {Op::LeSetRandomAddress, &Call<&Controller::LeSetRandomAddress>, Returns},
        {Op::LeSetAdvertisingParameters, &None, Returns},
        {Op::LeReadAdvertisingChannelTxPower, &Fixed<0x00>, Returns},
        {Op::LeSetAdvertisingData, &None, Returns},
        {Op::LeSetScanResponseData, &None, Returns},
        {Op::LeSetAdvertisingEnable, &None, Returns},
        {Op::LeSetScanParameters, &Call<&Controller::LeSetScanParameters>, Returns},
        {Op::LeSetScanEnable, &Call<&Controller::LeSetScanEnable>, Returns},
        {Op::LeCreateConnection, &Call<&Controller::LeCreateConnection>, OwnStatus},
        {Op::LeCreateConnectionCancel, &Call<&Controller::LeCreateConnectionCancel>, Returns},
        {Op::LeReadFilterAcceptListSize, &Fixed<0x10>, Returns},
        {Op::LeClearFilterAcceptList, &None, Returns},
        {Op::LeAddDeviceToFilterAcceptList, &None, Returns},
        {Op::LeRemoveDeviceFromFilterAcceptList, &None, Returns},
        {Op::LeConnectionUpdate, &Call<&Controller::LeConnectionUpdate>, OwnStatus},
        {Op::LeReadRemoteFeatures, &Call<&Controller::LeReadRemoteFeatures>, OwnStatus},
        {Op::LeEncrypt, &Call<&Controller::LeEncrypt>, Returns},
        {Op::LeRand, &Call<&Controller::LeRand>, Returns},
        {Op::LeStartEncryption, &Call<&Controller::LeStartEncryption>, OwnStatus},
        {Op::LeReadSupportedStates, &Fixed<0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x03, 0x00, 0x00>, Returns},

        // Unsupported, answered in the form their hosts wait for. Outside this table, link control
        // commands are acknowledged with Command Status and all others completed.
        {Op::ExitPeriodicInquiryMode, nullptr, UnknownComplete},
        {Op::CreateConnectionCancel, nullptr, UnknownComplete},
        {Op::LinkKeyRequestReply, nullptr, UnknownComplete},
        {Op::LinkKeyRequestNegativeReply, nullptr, UnknownComplete},
        {Op::PinCodeRequestReply, nullptr, UnknownComplete},
        {Op::PinCodeRequestNegativeReply, nullptr, UnknownComplete},
        {Op::UnassignedLinkControl12, nullptr, UnknownComplete},
        {Op::ReadRemoteSupportedFeatures, nullptr, UnknownComplete},
        {Op::IoCapabilityRequestReply, nullptr, UnknownComplete},
        {Op::UserConfirmationRequestReply, nullptr, UnknownComplete},
        {Op::UserConfirmationRequestNegativeReply, nullptr, UnknownComplete},
        {Op::UserPasskeyRequestReply, nullptr, UnknownComplete},
        {Op::IoCapabilityRequestNegativeReply, nullptr, UnknownComplete},
        {Op::StartSynchronizationTrain, nullptr, UnknownComplete},
        {Op::LeReadLocalP256PublicKey, nullptr, UnknownStatus},
        {Op::LeGenerateDhKey, nullptr, UnknownStatus},
        {Op::LeSetPhy, nullptr, UnknownStatus},
        {Op::LeExtendedCreateConnection, nullptr, UnknownStatus},
        {Op::LePeriodicAdvertisingCreateSync, nullptr, UnknownStatus},
    };
    static_assert(std::size(Entries) == 86);
    return Entries;
}

std::array<std::uint8_t, 64> Controller::SupportedCommands()
{
    std::array<std::uint8_t, 64> bitmap{};
    for (const CommandEntry& entry : CommandEntries())
        if (const Hci::CommandRow* row = Hci::FindCommand(entry.opcode);
            row != nullptr && entry.run != nullptr)
            bitmap[row->octet] |= static_cast<std::uint8_t>(1u << row->bit);
    return bitmap;
}

} // namespace Pd::Bt
