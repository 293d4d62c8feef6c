// The one table of the commands the controller answers: it drives the dispatch and the
// supported-commands bitmap, so a command is registered here and nowhere else.
#include "bt/controller/Controller.h"

#include "bt/controller/Opcodes.h"
#include "bt/hci/CommandTable.h"

namespace Pd::Bt
{
namespace
{

Bytes None(Controller&, ByteView)
{
    return {};
}

template <std::uint8_t... Value> Bytes Fixed(Controller&, ByteView)
{
    return {Value...};
}

void AppendLe64(Bytes& out, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

Bytes ReadLocalExtendedFeatures(Controller&, ByteView parameters)
{
    Need(parameters, 1);
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
        {0x080E, &Fixed<0x05, 0x00>, Returns},
        {0x080F, &None, Returns},
        {0x0C01, &None, Returns},
        {Op::Reset, &Call<&Controller::Reset>, Returns},
        {0x0C05, &None, Returns},
        {0x0C13, &Call<&Controller::WriteLocalName>, Returns},
        {0x0C14, &Call<&Controller::ReadLocalName>, Returns},
        {0x0C16, &None, Returns},
        {0x0C18, &None, Returns},
        {0x0C19, &Fixed<0x00>, Returns},
        {0x0C1A, &None, Returns},
        {0x0C1C, &None, Returns},
        {0x0C1E, &None, Returns},
        {0x0C23, &Fixed<0x0C, 0x01, 0x0C>, Returns},
        {0x0C24, &None, Returns},
        {0x0C25, &Fixed<0x60, 0x00>, Returns},
        {0x0C26, &None, Returns},
        {0x0C33, &None, Returns},
        {0x0C38, &Fixed<0x01>, Returns},
        {0x0C39, &Fixed<0x01, 0x33, 0x8B, 0x9E>, Returns},
        {0x0C3A, &None, Returns},
        {0x0C43, &None, Returns},
        {0x0C45, &None, Returns},
        {0x0C47, &None, Returns},
        {0x0C52, &None, Returns},
        {0x0C56, &None, Returns},
        {0x0C58, &Fixed<0x00>, Returns},
        {0x0C63, &None, Returns},
        {0x0C6C, &Fixed<0x01, 0x00>, Returns},
        {0x0C6D, &None, Returns},
        {0x0C7A, &None, Returns},
        {0x1001, &Fixed<0x08, 0x01, 0x00, 0x08, 0xFF, 0xFF, 0x01, 0x00>, Returns},
        {Op::ReadLocalSupportedCommands, &Call<&Controller::ReadLocalSupportedCommands>, Returns},
        {0x1003, &Fixed<0xFF, 0xFF, 0x8F, 0x7E, 0xD8, 0x1F, 0x5B, 0x87>, Returns},
        {0x1004, &ReadLocalExtendedFeatures, Returns},
        {0x1005, &Fixed<0xFD, 0x03, 0x40, 0x08, 0x00, 0x08, 0x00>, Returns},
        {0x1009, &Call<&Controller::ReadBdAddr>, Returns},
        {0x1405, &Call<&Controller::ReadRssi>, Returns, CommandEcho::Handle, 3},
        {0x2001, &None, Returns},
        {0x2002, &Fixed<0xFB, 0x00, 0x08>, Returns},
        {0x2003, &Fixed<0x1F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00>, Returns},
        {0x2005, &Call<&Controller::LeSetRandomAddress>, Returns},
        {0x2006, &None, Returns},
        {0x2007, &Fixed<0x00>, Returns},
        {0x2008, &None, Returns},
        {0x2009, &None, Returns},
        {0x200A, &None, Returns},
        {0x200B, &Call<&Controller::LeSetScanParameters>, Returns},
        {0x200C, &Call<&Controller::LeSetScanEnable>, Returns},
        {Op::LeCreateConnection, &Call<&Controller::LeCreateConnection>, OwnStatus},
        {Op::LeCreateConnectionCancel, &Call<&Controller::LeCreateConnectionCancel>, Returns},
        {0x200F, &Fixed<0x10>, Returns},
        {0x2010, &None, Returns},
        {0x2011, &None, Returns},
        {0x2012, &None, Returns},
        {Op::LeConnectionUpdate, &Call<&Controller::LeConnectionUpdate>, OwnStatus},
        {Op::LeReadRemoteFeatures, &Call<&Controller::LeReadRemoteFeatures>, OwnStatus},
        {Op::LeEncrypt, &Call<&Controller::LeEncrypt>, Returns},
        {Op::LeRand, &Call<&Controller::LeRand>, Returns},
        {Op::LeStartEncryption, &Call<&Controller::LeStartEncryption>, OwnStatus},
        {0x201C, &Fixed<0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x03, 0x00, 0x00>, Returns},
    };
    static_assert(std::size(Entries) == 67);
    return Entries;
}

std::array<std::uint8_t, 64> Controller::SupportedCommands()
{
    std::array<std::uint8_t, 64> bitmap{};
    for (const CommandEntry& entry : CommandEntries())
        if (const Hci::CommandRow* row = Hci::FindCommand(entry.opcode))
            bitmap[row->octet] |= static_cast<std::uint8_t>(1u << row->bit);
    return bitmap;
}

} // namespace Pd::Bt
