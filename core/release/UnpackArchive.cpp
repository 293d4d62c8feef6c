#include "core/release/Unpack.h"

#include "core/release/BackgroundFlush.h"
#include "core/release/NoLinks.h"
#include "core/release/TarReader.h"
#include "core/Text.h"

#include <filesystem>
#include <memory>

namespace Pd::Install
{
namespace
{

// Puts the regular files of an archive into staged files under the folder.
class StagedOutput : public TarOutput
{
public:
    explicit StagedOutput(const std::wstring& folder) : folder_(folder) {}

    std::expected<void, std::wstring> BeginFile(const std::wstring& relativePath) override
    {
        current_ = std::make_unique<StagedFile>();
        return current_->Open(Join(relativePath), folder_);
    }
    std::expected<void, std::wstring> WriteFile(const std::uint8_t* data, std::size_t size) override
    {
        return current_->Write(data, size);
    }
    std::expected<void, std::wstring> EndFile() override
    {
        flush_.Add(*current_);
        staged_.Add(std::move(current_));
        return {};
    }
    void MakeDirectory(const std::wstring& relativePath) override
    {
        // A failure shows at the first file in it.
        std::error_code ignored;
        std::filesystem::create_directories(folder_, ignored);
        static_cast<void>(CreateFoldersBelow(folder_, Join(relativePath)));
    }

    // Waits for the flushes, then hands the staged files over.
    Result<StagedFiles> Finish()
    {
        if (auto flushed = flush_.Finish(); !flushed)
            return std::unexpected(std::move(flushed.error()));
        return std::move(staged_);
    }

private:
    std::wstring Join(const std::wstring& relativePath) const
    {
        std::wstring path = folder_;
        if (!path.empty() && path.back() != L'\\' && path.back() != L'/')
            path.push_back(L'\\');
        return path + relativePath;
    }

    std::wstring folder_;
    std::unique_ptr<StagedFile> current_;
    StagedFiles staged_;
    BackgroundFlush flush_; // after the files it flushes: it stops before they go
};

std::wstring TextOf(const TarError& error, const std::wstring& folder, std::uint64_t expectedSize)
{
    switch (error.fault)
    {
    case TarFault::HeaderChecksum:
        return Core::Text(18040);
    case TarFault::ExtendedHeader:
        return Core::Text(18041);
    case TarFault::EndsEarly:
        return Core::Text(18042);
    case TarFault::UnsupportedEntry:
        return Core::FormatText(18064, error.entry, error.detail);
    case TarFault::UnsafePath:
        return Core::FormatText(18044, error.detail);
    case TarFault::DuplicateName:
        return Core::FormatText(18065, error.detail);
    case TarFault::LargerThanExpected:
        return Core::FormatText(16030, folder, expectedSize);
    case TarFault::Output:
        break;
    }
    return error.detail;
}

} // namespace

Result<ArchiveReport> UnpackArchive(const std::wstring& path, const std::wstring& folder,
                                    std::uint64_t expectedSize, const Net::ByteProgress& progress,
                                    std::stop_token stop)
{
    StagedOutput output(folder);
    TarReader reader(output, expectedSize);
    auto decompressed =
        DecompressFile(path, progress, stop, [&](const std::uint8_t* data, std::size_t size) -> Result<> {
            if (auto fed = reader.Feed(data, size); !fed)
                return Fail(TextOf(fed.error(), folder, expectedSize));
            return {};
        });
    if (!decompressed)
        return std::unexpected(std::move(decompressed.error()));
    if (auto finished = reader.Finish(); !finished)
        return Fail(TextOf(finished.error(), folder, expectedSize));
    auto staged = output.Finish();
    if (!staged)
        return std::unexpected(std::move(staged.error()));

    ArchiveReport report;
    report.bytes = reader.Bytes();
    report.files = reader.Files();
    report.names = reader.Names();
    report.staged = std::move(*staged);
    return report;
}

} // namespace Pd::Install
