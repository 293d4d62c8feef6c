#include "release/unpack/Unpack.h"

#include "core/Text.h"
#include "release/base/OpenPath.h"
#include "release/folders/NoLinks.h"
#include "release/unpack/BackgroundFlush.h"
#include "release/unpack/TarReader.h"

#include <filesystem>
#include <memory>
#include <set>
#include <vector>

#include <windows.h>

namespace Pd::Install
{
namespace
{

// Puts the regular files of an archive into staged files under the folder.
class StagedOutput : public TarOutput
{
public:
    StagedOutput(const std::wstring& folder, const CreationNotice& notice) : folder_(folder), notice_(notice)
    {
    }

    std::expected<void, std::wstring> BeginFile(const std::wstring& relativePath) override
    {
        const std::wstring target = Join(relativePath);
        if (auto told = Announce(std::filesystem::path(target).parent_path().wstring(), target + L".new");
            !told)
            return told;
        current_ = std::make_unique<StagedFile>();
        return current_->Open(target, folder_);
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
        if (Announce(Join(relativePath), {}))
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

    // Tells the notice of the folders missing on the way to a folder below the unpack's folder,
    // outermost first, then of the file (when given).
    Result<> Announce(const std::wstring& folder, const std::wstring& file)
    {
        if (!notice_)
            return {};
        std::vector<std::wstring> missing;
        for (std::filesystem::path path(folder);
             path.wstring().size() > folder_.size() && !known_.contains(path.wstring());
             path = path.parent_path())
        {
            if (EntryAttributes(LongPathForm(path.wstring())) == INVALID_FILE_ATTRIBUTES)
                missing.push_back(path.wstring());
            known_.insert(path.wstring());
        }
        for (auto next = missing.rbegin(); next != missing.rend(); ++next)
            if (auto told = notice_(*next, true); !told)
                return told;
        return file.empty() ? Result<>{} : notice_(file, false);
    }

    std::wstring folder_;
    const CreationNotice& notice_;
    std::set<std::wstring> known_; // folders below folder_ that exist or were announced
    std::unique_ptr<StagedFile> current_;
    StagedFiles staged_;
    BackgroundFlush flush_; // after the files it flushes: it stops before they go
};

std::wstring TextOf(const TarError& error, const std::wstring& folder, std::uint64_t expectedSize)
{
    switch (error.fault)
    {
    case TarFault::HeaderChecksum:
        return Core::Text(TextId::DamagedArchiveHeaderChecksum);
    case TarFault::ExtendedHeader:
        return Core::Text(TextId::DamagedArchiveExtendedHeader);
    case TarFault::EndsEarly:
        return Core::Text(TextId::ArchiveEndsEarly);
    case TarFault::UnsupportedEntry:
        return Core::FormatText(TextId::ArchiveHoldsUnsupportedNamedEntry, error.entry, error.detail);
    case TarFault::UnsafePath:
        return Core::FormatText(TextId::ArchiveHoldsUnsafePath, error.detail);
    case TarFault::DuplicateName:
        return Core::FormatText(TextId::ArchiveHoldsDuplicate, error.detail);
    case TarFault::LargerThanExpected:
        return Core::FormatText(TextId::LargerAfterUnpacking, folder, expectedSize);
    case TarFault::Output:
        break;
    }
    return error.detail;
}

} // namespace

Result<ArchiveReport> UnpackArchive(const std::wstring& path, const std::wstring& folder,
                                    std::uint64_t expectedSize, const Net::ByteProgress& progress,
                                    std::stop_token stop, const CreationNotice& notice)
{
    StagedOutput output(folder, notice);
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
