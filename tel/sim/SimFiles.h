// The emulated SIM card's elementary files, answered to "+CRSM=" (restricted SIM access) by
// Modem::PrepareSimFiles and Modem::AnswerSimRead (tel/at/Modem.h).
// Windows gives no access to the real card's files, so a fixed table describes a UICC with a USIM
// and a CSIM application; only the ICCID and the length of the MNC come from the real modem.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace Pd::Tel
{

enum class SimFileKind : std::uint32_t
{
    Transparent = 0,
    LinearFixed = 1,
};

// One row of the constant file table. Texts are upper-case hex.
struct SimFile
{
    std::uint32_t fileId;
    SimFileKind kind;
    std::string fcp;       // FCP template answered to GET RESPONSE
    std::string content;   // body, or the body of every record; empty where it is computed
    std::uint64_t records; // records READ RECORD accepts (0 for transparent files)
};

// The card of one AT connection: what it takes from the real modem.
struct SimCard
{
    std::string iccidContent;   // body of EF.ICCID (2FE2) in hex, semi-octets swapped
    std::int32_t mncLength = 2; // 2 or 3
};

// Commands of "+CRSM=" (restricted SIM access).
namespace SimCommand
{
constexpr std::int32_t ReadBinary = 176;
constexpr std::int32_t ReadRecord = 178;
constexpr std::int32_t GetResponse = 192;
constexpr std::int32_t UpdateBinary = 214;
constexpr std::int32_t UpdateRecord = 220;
} // namespace SimCommand

// The file table, in its fixed order.
std::span<const SimFile> SimFiles();

} // namespace Pd::Tel
