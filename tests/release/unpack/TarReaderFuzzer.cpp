// Drives the tar reader with arbitrary streams cut at arbitrary points and checks what reaches
// the output: never an unsafe path, never data outside a file, never more than the limit.
#include "release/base/PathRules.h"
#include "release/unpack/TarReader.h"
#include "tests/support/FuzzCheck.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace
{

using PdTest::Check;

void CheckSafe(const std::wstring& path)
{
    Check(!path.empty() && path.front() != L'\\' && path.back() != L'\\');
    std::size_t start = 0;
    while (start <= path.size())
    {
        std::size_t end = std::min(path.find(L'\\', start), path.size());
        std::wstring_view part = std::wstring_view(path).substr(start, end - start);
        Check(!part.empty() && part != L"." && part != L".." && !Pd::Install::IsReservedName(part));
        for (wchar_t c : part)
            Check(c >= 0x20 && c != L'/' &&
                  std::wstring_view(L":*?\"<>|").find(c) == std::wstring_view::npos);
        start = end + 1;
    }
}

struct CheckingOutput : Pd::Install::TarOutput
{
    std::expected<void, std::wstring> BeginFile(const std::wstring& path) override
    {
        Check(!open);
        CheckSafe(path);
        open = true;
        return {};
    }
    std::expected<void, std::wstring> WriteFile(const std::uint8_t*, std::size_t size) override
    {
        Check(open && size > 0);
        written += size;
        return {};
    }
    std::expected<void, std::wstring> EndFile() override
    {
        Check(open);
        open = false;
        return {};
    }
    void MakeDirectory(const std::wstring& path) override { CheckSafe(path); }

    bool open = false;
    std::uint64_t written = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    // The first byte chooses the piece size, the second the size limit.
    std::size_t piece = 1 + data[0] * 7;
    std::uint64_t limit = data[1] < 128 ? 0 : std::uint64_t{data[1]} * 16;
    data += 2;
    size -= 2;

    if (auto path =
            Pd::Install::RelativeEntryPath(std::string_view(reinterpret_cast<const char*>(data), size));
        path && !path->empty())
        CheckSafe(*path);

    CheckingOutput output;
    Pd::Install::TarReader reader(output, limit);
    bool failed = false;
    for (std::size_t at = 0; at < size && !failed; at += piece)
        failed = !reader.Feed(data + at, std::min(piece, size - at));
    if (!failed)
        static_cast<void>(reader.Finish());
    Check(limit == 0 || output.written <= limit);
    Check(reader.Bytes() <= output.written);
    return 0;
}
