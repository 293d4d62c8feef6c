// Interface ids of parameterized Windows Runtime interfaces (IAsyncOperation<T>, IIterable<T>,
// handlers, ...). Metadata holds none: each is derived from the instance's type signature, as
// SHA-1 over a fixed namespace id and the signature, shaped into a version 5 GUID. Computed at
// compile time, since the system's own RoGetParameterizedTypeInstanceIID is not always there.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <string_view>

namespace Pd::Platform::WinRt
{
namespace Detail
{

constexpr std::uint32_t RotateLeft(std::uint32_t value, int bits)
{
    return (value << bits) | (value >> (32 - bits));
}

// SHA-1 of `prefix` followed by `text`, for short inputs known at compile time.
constexpr std::array<std::uint8_t, 20> Sha1(const std::array<std::uint8_t, 16>& prefix, std::string_view text)
{
    const std::uint64_t length = prefix.size() + text.size();
    const std::uint64_t padded = (length + 8) / 64 * 64 + 64;
    auto byteAt = [&](std::uint64_t i) -> std::uint8_t {
        if (i < prefix.size())
            return prefix[i];
        if (i < length)
            return static_cast<std::uint8_t>(text[i - prefix.size()]);
        if (i == length)
            return 0x80;
        if (i >= padded - 8)
            return static_cast<std::uint8_t>((length * 8) >> ((padded - 1 - i) * 8));
        return 0;
    };
    std::uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    for (std::uint64_t block = 0; block < padded; block += 64)
    {
        std::uint32_t w[80] = {};
        for (int t = 0; t < 16; ++t)
            for (int b = 0; b < 4; ++b)
                w[t] = (w[t] << 8) | byteAt(block + t * 4 + b);
        for (int t = 16; t < 80; ++t)
            w[t] = RotateLeft(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int t = 0; t < 80; ++t)
        {
            std::uint32_t f = 0, k = 0;
            if (t < 20)
                f = (b & c) | (~b & d), k = 0x5A827999;
            else if (t < 40)
                f = b ^ c ^ d, k = 0x6ED9EBA1;
            else if (t < 60)
                f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDC;
            else
                f = b ^ c ^ d, k = 0xCA62C1D6;
            const std::uint32_t next = RotateLeft(a, 5) + f + e + k + w[t];
            e = d, d = c, c = RotateLeft(b, 30), b = a, a = next;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
    }
    std::array<std::uint8_t, 20> digest{};
    for (int i = 0; i < 20; ++i)
        digest[i] = static_cast<std::uint8_t>(h[i / 4] >> (24 - (i % 4) * 8));
    return digest;
}

} // namespace Detail

// The IID of the parameterized instance whose type signature is `signature`, e.g.
// "pinterface({faa585ea-6214-4217-afda-7f46de5869b3};string)" for IIterable<String>.
constexpr GUID ParameterizedIid(std::string_view signature)
{
    // 11f47ad5-7b73-42c0-abae-878b1e16adee in network byte order.
    constexpr std::array<std::uint8_t, 16> space = {0x11, 0xf4, 0x7a, 0xd5, 0x7b, 0x73, 0x42, 0xc0,
                                                    0xab, 0xae, 0x87, 0x8b, 0x1e, 0x16, 0xad, 0xee};
    std::array<std::uint8_t, 20> d = Detail::Sha1(space, signature);
    d[6] = static_cast<std::uint8_t>((d[6] & 0x0f) | 0x50);
    d[8] = static_cast<std::uint8_t>((d[8] & 0x3f) | 0x80);
    GUID id{};
    id.Data1 = (static_cast<unsigned long>(d[0]) << 24) | (d[1] << 16) | (d[2] << 8) | d[3];
    id.Data2 = static_cast<unsigned short>((d[4] << 8) | d[5]);
    id.Data3 = static_cast<unsigned short>((d[6] << 8) | d[7]);
    for (int i = 0; i < 8; ++i)
        id.Data4[i] = d[8 + i];
    return id;
}

// A GUID written "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", for interface ids known at compile time.
consteval GUID GuidOf(std::string_view text)
{
    auto nibble = [](char c) -> std::uint8_t {
        if (c >= '0' && c <= '9')
            return static_cast<std::uint8_t>(c - '0');
        if (c >= 'a' && c <= 'f')
            return static_cast<std::uint8_t>(c - 'a' + 10);
        if (c >= 'A' && c <= 'F')
            return static_cast<std::uint8_t>(c - 'A' + 10);
        throw "not a hexadecimal digit"; // fails the compile-time evaluation
    };
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
        throw "not a GUID";
    std::uint8_t b[16] = {};
    for (std::size_t i = 0, n = 0; i < text.size(); ++i)
        if (text[i] != '-')
            b[n / 2] = static_cast<std::uint8_t>(b[n / 2] << 4 | nibble(text[i])), ++n;
    GUID id{};
    id.Data1 = (static_cast<unsigned long>(b[0]) << 24) | (b[1] << 16) | (b[2] << 8) | b[3];
    id.Data2 = static_cast<unsigned short>((b[4] << 8) | b[5]);
    id.Data3 = static_cast<unsigned short>((b[6] << 8) | b[7]);
    for (int i = 0; i < 8; ++i)
        id.Data4[i] = b[8 + i];
    return id;
}

// A parameterized instance: its signature (kept for the check against the ABI facts) and its IID.
struct TypeInstance
{
    std::string_view signature;
    GUID iid;
};

constexpr TypeInstance Instance(std::string_view signature)
{
    return TypeInstance{signature, ParameterizedIid(signature)};
}

} // namespace Pd::Platform::WinRt
