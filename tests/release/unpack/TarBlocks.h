// Builds raw tar streams block by block for the tests, including forms no archiver writes
// (base-256 fields, wrong checksums, short pax records).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

namespace PdTest
{

struct TarHeader
{
    explicit TarHeader(std::string entryName) : name(std::move(entryName)) {}
    TarHeader& Type(char value) { return type = value, *this; }
    TarHeader& Size(std::uint64_t value) { return size = value, *this; }
    TarHeader& Base256Size() { return base256Size = true, *this; }
    TarHeader& Base256Checksum() { return base256Checksum = true, *this; }
    TarHeader& Magic(std::string value) { return magic = std::move(value), *this; }
    TarHeader& Prefix(std::string value) { return prefix = std::move(value), *this; }
    TarHeader& ChecksumError(int value) { return checksumError = value, *this; }

    std::string name;
    char type = '0';
    std::uint64_t size = 0;
    bool base256Size = false;
    bool base256Checksum = false;
    std::string magic = std::string("ustar\0"
                                    "00",
                                    8);
    std::string prefix;
    int checksumError = 0; // added to the stored checksum
};

inline std::string Block(const TarHeader& h)
{
    std::string block(512, '\0');
    std::memcpy(block.data(), h.name.data(), std::min<std::size_t>(h.name.size(), 100));
    std::memcpy(block.data() + 100, "0000644", 7);
    if (h.base256Size)
    {
        block[124] = static_cast<char>(0x80);
        for (int i = 0; i < 8; ++i)
            block[128 + i] = static_cast<char>(h.size >> (56 - 8 * i));
    }
    else
    {
        std::snprintf(block.data() + 124, 12, "%011llo", static_cast<unsigned long long>(h.size));
    }
    block[156] = h.type;
    std::memcpy(block.data() + 257, h.magic.data(), std::min<std::size_t>(h.magic.size(), 8));
    std::memcpy(block.data() + 345, h.prefix.data(), std::min<std::size_t>(h.prefix.size(), 155));
    std::memset(block.data() + 148, ' ', 8);
    unsigned sum = 0;
    for (unsigned char c : block)
        sum += c;
    sum += h.checksumError;
    if (h.base256Checksum)
    {
        std::memset(block.data() + 148, 0, 8);
        block[148] = static_cast<char>(0x80);
        block[154] = static_cast<char>(sum >> 8);
        block[155] = static_cast<char>(sum & 0xFF);
    }
    else
    {
        std::snprintf(block.data() + 148, 8, "%06o", sum);
        block[155] = ' ';
    }
    return block;
}

// Data followed by its padding to the next 512-byte boundary.
inline std::string Padded(std::string_view data)
{
    std::string result(data);
    result.resize((data.size() + 511) / 512 * 512, '\0');
    return result;
}

inline std::string File(const std::string& name, std::string_view data)
{
    return Block(TarHeader(name).Size(data.size())) + Padded(data);
}

// One pax record "<length> key=value\n" with its correct length.
inline std::string PaxRecord(std::string_view key, std::string_view value)
{
    std::size_t body = key.size() + value.size() + 3; // blank, '=' and newline
    std::size_t length = body + 1;
    while (std::to_string(length).size() + body != length)
        ++length;
    return std::to_string(length) + " " + std::string(key) + "=" + std::string(value) + "\n";
}

inline std::string Extended(char type, std::string_view data)
{
    return Block(TarHeader("././@Extended").Type(type).Size(data.size())) + Padded(data);
}

inline std::string End()
{
    return std::string(1024, '\0');
}

} // namespace PdTest
