// The answers from stored settings: the local name, the adapter address, the supported
// commands, the random address, encryption and random numbers.
#include "bt/controller/Controller.h"

#include "bt/controller/Opcodes.h"
#include "core/Log.h"
#include "core/LogEscape.h"

#include <fmt/format.h>

#include <algorithm>

namespace Pd::Bt
{
namespace
{

constexpr std::size_t NameLength = 248;

} // namespace

CommandResult Controller::WriteLocalName(ByteView parameters)
{
    ByteView name = parameters.first(std::min(parameters.size(), NameLength));
    name = name.first(static_cast<std::size_t>(std::find(name.begin(), name.end(), 0) - name.begin()));
    {
        std::lock_guard guard(stateLock_);
        localName_.assign(name.begin(), name.end());
    }
    Core::Log(
        fmt::format("hci: local name \"{}\"",
                    Core::EscapeQuotedForLog({reinterpret_cast<const char*>(name.data()), name.size()})));
    return {};
}

CommandResult Controller::ReadLocalName(ByteView)
{
    Bytes answer(NameLength, 0);
    std::lock_guard guard(stateLock_);
    std::copy_n(localName_.begin(), std::min(localName_.size(), NameLength - 1), answer.begin());
    return answer;
}

CommandResult Controller::ReadBdAddr(ByteView)
{
    Bytes answer;
    AppendAddress(answer, adapterAddress_);
    return answer;
}

CommandResult Controller::ReadLocalSupportedCommands(ByteView)
{
    static const std::array<std::uint8_t, 64> bitmap = SupportedCommands();
    return Bytes(bitmap.begin(), bitmap.end());
}

CommandResult Controller::LeSetRandomAddress(ByteView parameters)
{
    if (parameters.size() < 6)
        return ParametersTooShort();
    ownRandomAddress_ = ReadAddress(parameters, 0);
    return {};
}

CommandResult Controller::LeEncrypt(ByteView parameters)
{
    if (parameters.size() < 32)
        return ParametersTooShort();
    Block key;
    Block plaintext;
    std::copy_n(parameters.begin(), 16, key.begin());
    std::copy_n(parameters.begin() + 16, 16, plaintext.begin());
    Block encrypted = services_.encrypt(key, plaintext);
    return Bytes(encrypted.begin(), encrypted.end());
}

CommandResult Controller::LeRand(ByteView)
{
    Bytes random(8);
    services_.random(random);
    return random;
}

} // namespace Pd::Bt
