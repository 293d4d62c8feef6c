// Feeds arbitrary text to the JSON reader. Input starting with FF FE is UTF-16LE; anything else is
// taken byte by byte as units, so that the seed files stay readable. Whatever reads must write
// and read back to the same text. The bytes are also read as a UTF-8 document.
#include "core/Json.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace
{

std::wstring Units(const std::uint8_t* data, std::size_t size)
{
    std::wstring text;
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE)
    {
        for (std::size_t at = 2; at + 1 < size; at += 2)
            text.push_back(static_cast<wchar_t>(data[at] | (data[at + 1] << 8)));
    }
    else
    {
        text.assign(data, data + size);
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 1 << 20)
        return 0;
    // The same bytes as a UTF-8 document: read or refused with the reader's own kind of error.
    if (auto utf8 = Pd::Json::ParseUtf8({reinterpret_cast<const char*>(data), size});
        !utf8 && utf8.error().rfind(L"JSON: ", 0) != 0)
        std::abort();
    auto value = Pd::Json::Parser(Units(data, size)).Parse();
    if (!value)
    {
        if (value.error().rfind(L"JSON: ", 0) != 0)
            std::abort();
        return 0;
    }
    std::wstring written;
    Pd::Json::Write(*value, 0, written);
    auto again = Pd::Json::Parser(written).Parse();
    if (!again)
        std::abort();
    std::wstring rewritten;
    Pd::Json::Write(*again, 0, rewritten);
    if (rewritten != written)
        std::abort();
    return 0;
}
