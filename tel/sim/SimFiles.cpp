#include "tel/sim/SimFiles.h"

#include "tel/at/Modem.h"

#include "core/Hex.h"

#include <algorithm>
#include <array>

namespace Pd::Tel
{
namespace
{

using enum SimFileKind;

constexpr std::uint32_t EfDir = 0x2F00;
constexpr std::uint32_t EfIccid = 0x2FE2;
constexpr std::uint32_t EfAd = 0x6FAD;

// EF.ICCID holds 10 octets: 20 semi-octets.
constexpr std::size_t IccidDigits = 20;

// Unused octets of a file read as 0xFF.
std::string Unused(std::size_t octets)
{
    return std::string(2 * octets, 'F');
}

// EF.DIR: one application template per record (48 octets), CSIM first, then USIM.
const std::array<std::string, 4>& DirRecords()
{
    static const std::array<std::string, 4> records = {
        "61184F10A0000003431002FF86FF0389FFFFFFFF50044353494D" + Unused(22),
        "61184F10A0000000871002FF86FF0389FFFFFFFF50045553494D" + Unused(22),
        Unused(48),
        Unused(48),
    };
    return records;
}

// Every FCP announces exactly the records and the size that the file answers: Android reads a
// linear fixed file record by record up to the count its FCP gives.
const std::array<SimFile, 10>& Table()
{
    static const std::array<SimFile, 10> table = {{
        {EfDir, LinearFixed, "621A8205422100300483022F008A01058B032F0601800200C08801F0", "", 4},
        {EfIccid, Transparent, "62178202412183022FE28A01058B032F06038002000A880110", "", 0},
        {0x2F05, Transparent, "62178202412183022F058A01058B032F060280020004880128", "FFFFFFFF", 0},
        {0x6F40, LinearFixed, "621982054221001C0283026F408A01058B036F0605800200388800", Unused(28), 2},
        {0x6FC9, LinearFixed, "62198205422100050183026FC98A01058B036F0602800200058800", "0000000000", 1},
        {0x6FC7, LinearFixed, "621982054221001C0283026FC78A01058B036F0605800200388800", Unused(28), 2},
        {EfAd, Transparent, "62178202412183026FAD8A01058B036F060180020004880118", "", 0},
        {0x6FCA, LinearFixed, "62198205422100050183026FCA8A01058B036F060E800200058800", "0000000000", 1},
        {0x6F7B, Transparent, "621C8202412183026F7BA5038001718A01058B036F06038002001E880168", Unused(30), 0},
        {0x6F3B, LinearFixed, "621982054221001C0A83026F3B8A01058B036F0605800201188800", Unused(28), 10},
    }};
    return table;
}

char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string Success(std::string_view body)
{
    return "+CRSM: 144,0," + std::string(body);
}

const std::string FileNotFound = "+CRSM: 106,130";
const std::string RecordNotFound = "+CRSM: 106,131";

std::string ReadBinary(const SimCard& card, const SimFile& file)
{
    if (file.kind != Transparent)
        return FileNotFound;
    if (file.fileId == EfIccid)
        return Success(card.iccidContent);
    if (file.fileId == EfAd)
    {
        // Administrative data: normal operation, no additional info, then the MNC length.
        std::string body = "000000";
        Core::AppendHexByte(body, static_cast<std::uint8_t>(card.mncLength));
        return Success(body);
    }
    return Success(file.content);
}

std::string ReadRecord(const SimFile& file, std::int32_t record)
{
    if (file.kind != LinearFixed)
        return FileNotFound;
    if (record <= 0 || static_cast<std::uint64_t>(record) > file.records)
        return RecordNotFound;
    if (file.fileId == EfDir)
        return Success(DirRecords()[static_cast<std::size_t>(record - 1)]);
    return Success(file.content);
}

} // namespace

std::span<const SimFile> SimFiles()
{
    return Table();
}

SimCard Modem::PrepareSimFiles(std::string_view iccid, std::int32_t mncLength)
{
    // The ICCID comes from the modem's firmware and ends up inside an AT answer line: keep only
    // hex digits, so that nothing else can reach the line, and no more than the file holds.
    std::string digits;
    for (char c : iccid)
        if (Core::HexValue(c) >= 0 && digits.size() < IccidDigits)
            digits.push_back(Upper(c));
    if (digits.size() % 2 != 0)
        digits.push_back('F');
    for (std::size_t i = 0; i < digits.size(); i += 2)
        std::swap(digits[i], digits[i + 1]);
    return SimCard{.iccidContent = std::move(digits), .mncLength = mncLength == 3 ? 3 : 2};
}

std::string Modem::AnswerSimRead(const SimCard& card, std::int32_t command, std::int32_t fileId,
                                 std::int32_t p1)
{
    const auto& table = Table();
    auto file = std::ranges::find_if(table, [&](const SimFile& row) {
        return static_cast<std::int64_t>(row.fileId) == static_cast<std::int64_t>(fileId);
    });
    if (file == table.end())
        return FileNotFound;
    switch (command)
    {
    case SimCommand::ReadBinary:
        return ReadBinary(card, *file);
    case SimCommand::ReadRecord:
        return ReadRecord(*file, p1);
    case SimCommand::GetResponse:
        return Success(file->fcp);
    case SimCommand::UpdateBinary:
    case SimCommand::UpdateRecord:
        return "+CRSM: 144,0"; // accepted and forgotten
    default:
        return FileNotFound;
    }
}

} // namespace Pd::Tel
