// A restricted SIM access with guest-chosen parameters on a card prepared from an arbitrary
// ICCID: the answer must be one well-formed "+CRSM:" line that nothing can break out of.
#include "tel/sim/SimFiles.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

namespace
{

using namespace Pd::Tel;

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

std::int32_t TakeInt(const std::uint8_t*& data, std::size_t& size)
{
    std::int32_t value = 0;
    std::size_t count = size < sizeof value ? size : sizeof value;
    std::memcpy(&value, data, count);
    data += count;
    size -= count;
    return value;
}

// Picks a command or file of the table most of the time, so that every road is reached.
std::int32_t Command(std::uint8_t choice, std::int32_t raw)
{
    constexpr std::int32_t commands[] = {SimCommand::ReadBinary, SimCommand::ReadRecord,
                                         SimCommand::GetResponse, SimCommand::UpdateBinary,
                                         SimCommand::UpdateRecord};
    return choice < 5 * 40 ? commands[choice % 5] : raw;
}

std::int32_t FileId(std::uint8_t choice, std::int32_t raw)
{
    auto files = SimFiles();
    return choice < files.size() * 20 ? static_cast<std::int32_t>(files[choice % files.size()].fileId) : raw;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Input: command choice, file choice, MNC length, then command, file id, P1 as 32-bit values,
    // then the ICCID text.
    if (size < 3)
        return 0;
    std::uint8_t commandChoice = data[0], fileChoice = data[1];
    std::int32_t mncLength = static_cast<std::int8_t>(data[2]);
    data += 3;
    size -= 3;
    std::int32_t command = Command(commandChoice, TakeInt(data, size));
    std::int32_t fileId = FileId(fileChoice, TakeInt(data, size));
    std::int32_t p1 = TakeInt(data, size);
    std::string_view iccid(reinterpret_cast<const char*>(data), size);

    SimCard card = PrepareSimFiles(iccid, mncLength);
    Check(card.iccidContent.size() <= 20 && card.iccidContent.size() % 2 == 0);
    Check(card.mncLength == 2 || card.mncLength == 3);

    std::string answer = AnswerSimRead(card, command, fileId, p1);
    Check(answer.starts_with("+CRSM: "));
    Check(answer.size() <= 13 + 96);
    for (char c : std::string_view(answer).substr(7))
        Check((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || c == ',');
    return 0;
}
