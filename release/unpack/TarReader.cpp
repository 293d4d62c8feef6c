#include "release/unpack/TarReader.h"

#include "release/base/PathRules.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

namespace Pd::Install
{
namespace
{

// Header fields (offsets within the 512-byte block).
constexpr std::size_t NameOffset = 0, NameSize = 100;
constexpr std::size_t SizeOffset = 124, SizeSize = 12;
constexpr std::size_t ChecksumOffset = 148, ChecksumSize = 8;
constexpr std::size_t TypeOffset = 156;
constexpr std::size_t MagicOffset = 257;
constexpr std::size_t PrefixOffset = 345, PrefixSize = 155;

std::unexpected<TarError> Error(TarFault fault, std::wstring detail = {}, std::wstring entry = {})
{
    return std::unexpected(TarError{fault, std::move(detail), std::move(entry)});
}

// Text of a field up to its first NUL.
std::string_view FieldText(const std::uint8_t* field, std::size_t size)
{
    const char* text = reinterpret_cast<const char*>(field);
    return std::string_view(text, std::find(text, text + size, '\0') - text);
}

// Octal digits after leading blanks and NULs, up to the first other character.
std::uint64_t ReadOctal(const std::uint8_t* field, std::size_t size)
{
    std::size_t i = 0;
    while (i < size && (field[i] == ' ' || field[i] == '\0'))
        ++i;
    std::uint64_t value = 0;
    for (; i < size && field[i] >= '0' && field[i] <= '7'; ++i)
        value = value * 8 + (field[i] - '0');
    return value;
}

std::uint64_t ReadBigEndian(const std::uint8_t* bytes, std::size_t size)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

// A decimal number of digits alone that fits in 64 bits.
std::optional<std::uint64_t> ReadDecimal(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text)
    {
        if (c < '0' || c > '9')
            return std::nullopt;
        std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::wstring ConvertedName(std::string_view name)
{
    std::wstring converted = Utf16FromUtf8(name);
    std::ranges::replace(converted, L'/', L'\\');
    return converted;
}

// The upper-case form Windows compares file names in, for the letters of the Latin, Greek and
// Cyrillic alphabets. Two names that differ in rarer letters still clash when the second file is
// created, only with a less telling error.
std::wstring FoldCase(std::wstring_view path)
{
    std::wstring folded(path);
    for (wchar_t& c : folded)
    {
        if ((c >= L'a' && c <= L'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) ||
            (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) || (c >= 0x430 && c <= 0x44F))
            c = static_cast<wchar_t>(c - 0x20);
        else if (c >= 0x450 && c <= 0x45F)
            c = static_cast<wchar_t>(c - 0x50);
        else if (c == 0xFF)
            c = 0x178;
    }
    return folded;
}

} // namespace

TarReader::TarReader(TarOutput& output, std::uint64_t expectedSize)
    : output_(output), expectedSize_(expectedSize)
{
}

std::expected<void, TarError> TarReader::Feed(const std::uint8_t* data, std::size_t size)
{
    while (!finished_ && size > 0)
    {
        if (inEntry_)
        {
            std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, size));
            if (fileOpen_)
            {
                bytesSoFar_ += part;
                if (expectedSize_ != 0 && bytesSoFar_ > expectedSize_)
                    return Error(TarFault::LargerThanExpected);
                if (auto written = output_.WriteFile(data, part); !written)
                    return Error(TarFault::Output, std::move(written.error()));
                fileBytes_ += part;
            }
            else if (collecting_ != 0)
            {
                collected_.append(reinterpret_cast<const char*>(data), part);
            }
            data += part;
            size -= part;
            remaining_ -= part;
            if (remaining_ == 0)
                if (auto ended = EndEntry(); !ended)
                    return ended;
        }
        else if (padding_ > 0)
        {
            std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(padding_, size));
            data += part;
            size -= part;
            padding_ -= part;
        }
        else
        {
            std::size_t part = std::min(BlockSize - headerFill_, size);
            std::memcpy(header_ + headerFill_, data, part);
            headerFill_ += part;
            data += part;
            size -= part;
            if (headerFill_ == BlockSize)
            {
                headerFill_ = 0;
                if (auto processed = ProcessHeader(); !processed)
                    return processed;
            }
        }
    }
    return {};
}

std::expected<void, TarError> TarReader::Finish() const
{
    if (!finished_ && (inEntry_ || headerFill_ > 0 || describedNext_))
        return Error(TarFault::EndsEarly);
    return {};
}

std::expected<void, TarError> TarReader::ProcessHeader()
{
    if (std::all_of(header_, header_ + BlockSize, [](std::uint8_t b) { return b == 0; }))
    {
        if (describedNext_)
            return Error(TarFault::EndsEarly);
        finished_ = true;
        return {};
    }

    const std::uint8_t* checksumField = header_ + ChecksumOffset;
    std::uint64_t stored = (checksumField[0] & 0x80)
                               ? ReadBigEndian(checksumField, ChecksumSize) & ~(std::uint64_t{1} << 63)
                               : ReadOctal(checksumField, ChecksumSize);
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < BlockSize; ++i)
        sum += (i >= ChecksumOffset && i < ChecksumOffset + ChecksumSize) ? 0x20 : header_[i];
    if (stored != sum)
        return Error(TarFault::HeaderChecksum);

    const std::uint8_t* sizeField = header_ + SizeOffset;
    std::uint64_t size =
        (sizeField[0] & 0x80) ? ReadBigEndian(sizeField + 4, 8) : ReadOctal(sizeField, SizeSize);

    std::string name(FieldText(header_ + NameOffset, NameSize));
    std::string_view prefix = FieldText(header_ + PrefixOffset, PrefixSize);
    if (std::memcmp(header_ + MagicOffset, "ustar\0", 6) == 0 && !prefix.empty())
        name = std::string(prefix) + "/" + name;

    char type = static_cast<char>(header_[TypeOffset]);
    if (type == 'L' || type == 'x' || type == 'g')
    {
        if (size > MaxExtendedHeader)
            return Error(TarFault::ExtendedHeader);
        collecting_ = type;
        collected_.clear();
        describedNext_ = describedNext_ || type != 'g';
        return StartEntry(size);
    }

    // The pax path wins over a GNU long name given for the same entry.
    if (pendingLongName_)
        name = *pendingLongName_;
    if (pendingPaxPath_)
        name = *pendingPaxPath_;
    if (pendingPaxSize_)
        size = *pendingPaxSize_;
    std::optional<std::string> sparseName = std::exchange(pendingSparse_, std::nullopt);
    pendingLongName_.reset();
    pendingPaxPath_.reset();
    pendingPaxSize_.reset();
    describedNext_ = false;

    auto path = RelativeEntryPath(name);
    if (!path)
        return Error(TarFault::UnsafePath, std::move(path.error()));
    if (!path->empty())
        names_.insert(path->substr(0, path->find(L'\\')));

    switch (type)
    {
    case '\0':
    case '0':
        if (path->empty())
            return Error(TarFault::UnsafePath, ConvertedName(name));
        // Sparse files in pax form look like regular files whose data is only the stored parts.
        if (sparseName)
            return Error(TarFault::UnsupportedEntry, L"S",
                         ConvertedName(sparseName->empty() ? name : *sparseName));
        if (!filePaths_.insert(FoldCase(*path)).second)
            return Error(TarFault::DuplicateName, *path);
        if (auto begun = output_.BeginFile(*path); !begun)
            return Error(TarFault::Output, std::move(begun.error()));
        fileOpen_ = true;
        fileBytes_ = 0;
        return StartEntry(size);
    case '5':
        if (!path->empty())
            output_.MakeDirectory(*path);
        return {};
    default:
        return Error(TarFault::UnsupportedEntry, std::wstring(1, static_cast<wchar_t>(header_[TypeOffset])),
                     ConvertedName(name));
    }
}

std::expected<void, TarError> TarReader::StartEntry(std::uint64_t size)
{
    inEntry_ = true;
    remaining_ = size;
    entryPadding_ = (BlockSize - size % BlockSize) % BlockSize;
    return size == 0 ? EndEntry() : std::expected<void, TarError>{};
}

std::expected<void, TarError> TarReader::EndEntry()
{
    inEntry_ = false;
    padding_ = entryPadding_;
    char collected = std::exchange(collecting_, 0);
    if (collected == 'L')
        pendingLongName_ = std::string(
            FieldText(reinterpret_cast<const std::uint8_t*>(collected_.data()), collected_.size()));
    else if (collected == 'x')
        if (auto parsed = ParsePaxRecords(); !parsed)
            return parsed;
    collected_.clear();

    if (fileOpen_)
    {
        fileOpen_ = false;
        if (auto ended = output_.EndFile(); !ended)
            return Error(TarFault::Output, std::move(ended.error()));
        bytes_ += fileBytes_;
        ++files_;
    }
    return {};
}

// Records "<length> <key>=<value>\n"; only "path", "size" and the GNU sparse keys matter here.
std::expected<void, TarError> TarReader::ParsePaxRecords()
{
    std::string_view data = collected_;
    std::size_t start = 0;
    while (start < data.size())
    {
        std::size_t space = data.find(' ', start);
        if (space == std::string_view::npos)
            break;
        std::optional<std::uint64_t> length = ReadDecimal(data.substr(start, space - start));
        if (!length || *length == 0 || *length > data.size() - start)
            break;
        std::size_t end = start + static_cast<std::size_t>(*length);
        // The record must hold at least its length, the blank and the closing newline.
        if (end < space + 2)
            return Error(TarFault::ExtendedHeader);
        std::string_view text = data.substr(space + 1, end - 1 - (space + 1));
        std::size_t equals = text.find('=');
        if (equals != std::string_view::npos)
        {
            std::string_view key = text.substr(0, equals);
            std::string_view value = text.substr(equals + 1);
            if (key.starts_with("GNU.sparse."))
            {
                if (key == "GNU.sparse.name")
                    pendingSparse_ = std::string(value);
                else if (!pendingSparse_)
                    pendingSparse_.emplace();
            }
            else if (key == "path")
            {
                pendingPaxPath_ = std::string(value);
            }
            else if (key == "size")
            {
                pendingPaxSize_ = ReadDecimal(value);
                if (!pendingPaxSize_)
                    return Error(TarFault::ExtendedHeader);
            }
        }
        start = end;
    }
    return {};
}

} // namespace Pd::Install
