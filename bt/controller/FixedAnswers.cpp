// The handler map: every command answered from fixed values or from a few stored settings,
// and the supported-commands bitmap derived from the commands the controller answers.
#include "bt/controller/Controller.h"

#include "bt/controller/Opcodes.h"
#include "bt/hci/CommandTable.h"
#include "core/Log.h"

#include <fmt/format.h>

#include <algorithm>

namespace Pd::Bt
{
namespace
{

constexpr std::size_t NameLength = 248;

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

// The name as a log line shows it: bytes that could break the line are escaped.
std::string Printable(const Bytes& name)
{
    std::string shown;
    for (std::uint8_t byte : name)
    {
        if (byte < 0x20 || byte == 0x7F || byte == '\\')
            shown += fmt::format("\\x{:02x}", byte);
        else
            shown += static_cast<char>(byte);
    }
    return shown;
}

} // namespace

void Controller::RegisterCommands()
{
    struct Entry
    {
        std::uint16_t opcode;
        CommandHandler handler;
    };
    const Entry entries[] = {
        {0x080E, &Fixed<0x05, 0x00>},
        {0x080F, &None},
        {0x0C01, &None},
        {Op::Reset, [](Controller& c, ByteView) { return c.Reset(); }},
        {0x0C05, &None},
        {0x0C13, [](Controller& c, ByteView p) { return c.WriteLocalName(p); }},
        {0x0C14, [](Controller& c, ByteView) { return c.ReadLocalName(); }},
        {0x0C16, &None},
        {0x0C18, &None},
        {0x0C19, &Fixed<0x00>},
        {0x0C1A, &None},
        {0x0C1C, &None},
        {0x0C1E, &None},
        {0x0C23, &Fixed<0x0C, 0x01, 0x0C>},
        {0x0C24, &None},
        {0x0C25, &Fixed<0x60, 0x00>},
        {0x0C26, &None},
        {0x0C33, &None},
        {0x0C38, &Fixed<0x01>},
        {0x0C39, &Fixed<0x01, 0x33, 0x8B, 0x9E>},
        {0x0C3A, &None},
        {0x0C43, &None},
        {0x0C45, &None},
        {0x0C47, &None},
        {0x0C52, &None},
        {0x0C56, &None},
        {0x0C58, &Fixed<0x00>},
        {0x0C63, &None},
        {0x0C6C, &Fixed<0x01, 0x00>},
        {0x0C6D, &None},
        {0x0C7A, &None},
        {0x1001, &Fixed<0x08, 0x01, 0x00, 0x08, 0xFF, 0xFF, 0x01, 0x00>},
        {Op::ReadLocalSupportedCommands,
         [](Controller& c, ByteView) { return c.ReadLocalSupportedCommands(); }},
        {0x1003, &Fixed<0xFF, 0xFF, 0x8F, 0x7E, 0xD8, 0x1F, 0x5B, 0x87>},
        {0x1004, &ReadLocalExtendedFeatures},
        {0x1005, &Fixed<0xFD, 0x03, 0x40, 0x08, 0x00, 0x08, 0x00>},
        {0x1009, [](Controller& c, ByteView) { return c.ReadBdAddr(); }},
        {0x1405, [](Controller& c, ByteView p) { return c.ReadRssi(p); }},
        {0x2001, &None},
        {0x2002, &Fixed<0xFB, 0x00, 0x08>},
        {0x2003, &Fixed<0x1F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00>},
        {0x2005, [](Controller& c, ByteView p) { return c.LeSetRandomAddress(p); }},
        {0x2006, &None},
        {0x2007, &Fixed<0x00>},
        {0x2008, &None},
        {0x2009, &None},
        {0x200A, &None},
        {0x200B, [](Controller& c, ByteView p) { return c.LeSetScanParameters(p); }},
        {0x200C, [](Controller& c, ByteView p) { return c.LeSetScanEnable(p); }},
        {Op::LeCreateConnectionCancel, [](Controller& c, ByteView) { return c.LeCreateConnectionCancel(); }},
        {0x200F, &Fixed<0x10>},
        {0x2010, &None},
        {0x2011, &None},
        {0x2012, &None},
        {Op::LeEncrypt, [](Controller& c, ByteView p) { return c.LeEncrypt(p); }},
        {Op::LeRand, [](Controller& c, ByteView) { return c.LeRand(); }},
        {0x201C, &Fixed<0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x03, 0x00, 0x00>},
    };
    static_assert(sizeof(entries) / sizeof(entries[0]) == 57);

    auto markSupported = [this](std::uint16_t opcode) {
        if (const Hci::CommandRow* row = Hci::FindCommand(opcode))
            supportedCommands_[row->octet] |= static_cast<std::uint8_t>(1u << row->bit);
    };
    for (const Entry& entry : entries)
    {
        handlers_.emplace(entry.opcode, entry.handler);
        markSupported(entry.opcode);
    }
    for (std::uint16_t opcode :
         {Op::Inquiry, Op::InquiryCancel, Op::LeCreateConnection, Op::Disconnect, Op::LeReadRemoteFeatures,
          Op::ReadRemoteVersionInformation, Op::LeConnectionUpdate, Op::LeStartEncryption,
          Op::RemoteNameRequest, Op::RemoteNameRequestCancel})
        markSupported(opcode);
}

Bytes Controller::WriteLocalName(ByteView parameters)
{
    ByteView name = parameters.first(std::min(parameters.size(), NameLength));
    name = name.first(static_cast<std::size_t>(std::find(name.begin(), name.end(), 0) - name.begin()));
    std::string shown;
    {
        std::lock_guard guard(stateLock_);
        localName_.assign(name.begin(), name.end());
        shown = Printable(localName_);
    }
    Core::Log(fmt::format("hci: local name \"{}\"", shown));
    return {};
}

Bytes Controller::ReadLocalName()
{
    Bytes answer(NameLength, 0);
    std::lock_guard guard(stateLock_);
    std::copy_n(localName_.begin(), std::min(localName_.size(), NameLength - 1), answer.begin());
    return answer;
}

Bytes Controller::ReadBdAddr() const
{
    Bytes answer;
    AppendAddress(answer, adapterAddress_);
    return answer;
}

Bytes Controller::ReadLocalSupportedCommands() const
{
    return Bytes(supportedCommands_.begin(), supportedCommands_.end());
}

Bytes Controller::LeSetRandomAddress(ByteView parameters)
{
    ownRandomAddress_ = ReadAddress(parameters, 0);
    return {};
}

Bytes Controller::LeEncrypt(ByteView parameters)
{
    Need(parameters, 32);
    Block key;
    Block plaintext;
    std::copy_n(parameters.begin(), 16, key.begin());
    std::copy_n(parameters.begin() + 16, 16, plaintext.begin());
    Block encrypted = services_.encrypt(key, plaintext);
    return Bytes(encrypted.begin(), encrypted.end());
}

Bytes Controller::LeRand()
{
    Bytes random(8);
    services_.random(random);
    return random;
}

} // namespace Pd::Bt
