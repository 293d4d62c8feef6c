#include "release/unpack/Unpack.h"

#include "core/Sha256.h"
#include "core/Text.h"

#include <optional>

namespace Pd::Install
{
namespace
{

std::wstring FileName(const std::wstring& path)
{
    std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

} // namespace

Result<FileReport> UnpackFile(const std::wstring& path, const std::wstring& target,
                              std::uint64_t expectedSize, std::wstring_view expectedSha256,
                              const Net::ByteProgress& progress, std::stop_token stop)
{
    auto file = std::make_unique<StagedFile>();
    if (auto opened = file->Open(target); !opened)
        return std::unexpected(std::move(opened.error()));
    std::optional<Sha256> hasher;
    if (!expectedSha256.empty())
    {
        hasher.emplace();
        if (!hasher->Usable())
            return Fail(Core::Text(TextId::Sha256NotAvailable));
    }

    const std::wstring name = FileName(target);
    auto decompressed =
        DecompressFile(path, progress, stop, [&](const std::uint8_t* data, std::size_t size) -> Result<> {
            // Checked before the write, so a hostile stream never puts more than that on disk.
            if (expectedSize != 0 && file->BytesWritten() + size > expectedSize)
                return Fail(Core::FormatText(TextId::LargerAfterUnpacking, name, expectedSize));
            if (hasher)
                hasher->Update(data, size);
            return file->Write(data, size);
        });
    if (!decompressed)
        return std::unexpected(std::move(decompressed.error()));
    if (expectedSize != 0 && file->BytesWritten() != expectedSize)
        return Fail(Core::FormatText(TextId::UnpackedSizeWrong, name, file->BytesWritten(), expectedSize));
    if (hasher && hasher->Finish() != expectedSha256)
        return Fail(Core::FormatText(TextId::UnpackedHashMismatch, name));
    if (auto flushed = file->Flush(); !flushed)
        return std::unexpected(std::move(flushed.error()));

    FileReport report;
    report.bytes = file->BytesWritten();
    report.staged.Add(std::move(file));
    return report;
}

} // namespace Pd::Install
