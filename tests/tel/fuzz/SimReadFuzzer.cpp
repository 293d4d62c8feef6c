// A restricted SIM access with guest-chosen parameters on a card prepared from an arbitrary
// ICCID: the answer must be one well-formed "+CRSM:" line that nothing can break out of.
#include "tel/at/Modem.h"
#include "tests/support/FuzzCheck.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace Pd::Tel;
    using PdTest::Check;
    // Input: command choice, file choice, MNC length, then command, file id and P1 as 32-bit
    // values, then the ICCID text. Low choices pick a known command or file, so every road is hit.
    std::int32_t values[3] = {};
    if (size < 3 + sizeof values)
        return 0;
    std::memcpy(values, data + 3, sizeof values);
    constexpr std::int32_t commands[] = {176, 178, 192, 214, 220};
    auto files = SimFiles();
    std::int32_t command = data[0] < 200 ? commands[data[0] % 5] : values[0];
    std::int32_t fileId =
        data[1] < 200 ? static_cast<std::int32_t>(files[data[1] % files.size()].fileId) : values[1];
    std::size_t iccidAt = 3 + sizeof values;

    SimCard card = Modem::PrepareSimFiles({reinterpret_cast<const char*>(data) + iccidAt, size - iccidAt},
                                          static_cast<std::int8_t>(data[2]));
    Check(card.iccidContent.size() <= 20 && card.iccidContent.size() % 2 == 0);
    Check(card.mncLength == 2 || card.mncLength == 3);

    std::string answer = Modem::AnswerSimRead(card, command, fileId, values[2]);
    Check(answer.starts_with("+CRSM: ") && answer.size() <= 13 + 96);
    for (char c : answer.substr(7))
        Check((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || c == ',');
    return 0;
}
