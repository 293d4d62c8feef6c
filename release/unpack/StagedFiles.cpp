#include "release/unpack/StagedFiles.h"

#include "core/ErrorText.h"
#include "core/Text.h"
#include "release/base/OpenPath.h"
#include "release/folders/NoLinks.h"
#include "release/unpack/RenameOver.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <vector>

namespace Pd::Install
{
namespace
{

// The target's own folder, opened as itself and checked to lie where it was staged below folder.
// The rename goes relative to this handle, so that a folder swapped for a link after the check is
// not followed (RenameOver says what Wine needs besides).
Result<UniqueFile> OpenTargetFolder(const std::wstring& folder, const std::wstring& parent)
{
    UniqueFile handle = OpenPath(LongPathForm(parent), FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    if (!handle)
        return Fail(Core::ErrorText(Core::FormatText(TextId::OpeningFile, parent), ::GetLastError()));
    if (auto checked = CheckHandleBelow(handle.Get(), folder, parent); !checked)
        return std::unexpected(std::move(checked.error()));
    return handle;
}

// A read-only target is Peldra's own file and is replaced all the same: the attribute is cleared
// through a handle checked to be the entry `name` of the folder's handle, never a file that a link
// leads to, nor one with another name elsewhere (a hard link), whose attribute it would change too.
// A target that cannot be opened for that (none there, a folder, its permissions) is left to the
// rename, which ignores the attribute where Windows can and else names what refused it.
Result<> ClearReadOnly(HANDLE folder, const std::wstring& name, const std::wstring& target)
{
    UniqueFile file = OpenPath(LongPathForm(target), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT);
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!file || !::GetFileInformationByHandleEx(file.Get(), FileAttributeTagInfo, &tag, sizeof(tag)))
        return {};
    if (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return Fail(Core::FormatText(TextId::IsLinkOrMountPoint, target));
    FILE_STANDARD_INFO standard{};
    if (!(tag.FileAttributes & FILE_ATTRIBUTE_READONLY) ||
        !::GetFileInformationByHandleEx(file.Get(), FileStandardInfo, &standard, sizeof(standard)) ||
        standard.NumberOfLinks != 1)
        return {};
    if (auto checked = CheckPlaceIn(file.Get(), folder, name, target); !checked)
        return checked;
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    ::SetFileInformationByHandle(file.Get(), FileBasicInfo, &basic, sizeof(basic));
    return {};
}

} // namespace

StagedFile::~StagedFile()
{
    // Deleted through the handle: the file that was created, whatever has happened to its path.
    if (!temporary_.empty() && file_)
    {
        FILE_DISPOSITION_INFO remove{TRUE};
        ::SetFileInformationByHandle(file_.Get(), FileDispositionInfo, &remove, sizeof(remove));
    }
}

Result<> StagedFile::Open(const std::wstring& target, const std::wstring& folder)
{
    target_ = FullPath(target);
    const std::wstring parent = std::filesystem::path(target_).parent_path().wstring();
    folder_ = folder.empty() ? parent : FullPath(folder);
    const std::wstring temporary = target_ + L".new";
    std::error_code ignored;
    std::filesystem::create_directories(folder_, ignored);
    if (auto made = CreateFoldersBelow(folder_, parent); !made)
        return made;

    // Opened without truncating, so that nothing is lost when the handle turns out to reach a
    // file behind a link; an older ".new" file is emptied afterwards.
    auto file = OpenBelow(folder_, temporary, GENERIC_WRITE | DELETE, 0, OPEN_ALWAYS);
    if (!file)
        return std::unexpected(std::move(file.error()));
    // From here on the file is this object's: it goes again unless committed, also when it
    // cannot be emptied.
    file_ = std::move(*file);
    temporary_ = temporary;
    bytesWritten_ = 0;
    if (!::SetEndOfFile(file_.Get()))
        return Fail(Core::ErrorText(Core::FormatText(TextId::WritingFile, temporary), ::GetLastError()));
    return {};
}

Result<> StagedFile::Write(const void* bytes, std::uint64_t count)
{
    const auto* next = static_cast<const std::uint8_t*>(bytes);
    while (count > 0)
    {
        DWORD piece = static_cast<DWORD>(std::min<std::uint64_t>(count, 0x40000000));
        DWORD written = 0;
        if (!::WriteFile(file_.Get(), next, piece, &written, nullptr))
            return Fail(Core::ErrorText(Core::FormatText(TextId::WritingFile, temporary_), ::GetLastError()));
        // A write that succeeds with fewer bytes has run out of room on the volume.
        if (written != piece)
            return Fail(Core::FormatText(TextId::DiskFull, temporary_));
        bytesWritten_ += piece;
        next += piece;
        count -= piece;
    }
    return {};
}

Result<> StagedFile::Flush()
{
    if (!::FlushFileBuffers(file_.Get()))
        return Fail(Core::ErrorText(Core::FormatText(TextId::WritingFile, temporary_), ::GetLastError()));
    return {};
}

Result<> StagedFile::Commit()
{
    // Time has passed since the open: the file must still lie where it was staged, and its
    // target must not be a link.
    if (auto checked = CheckHandleBelow(file_.Get(), folder_, temporary_); !checked)
        return checked;
    if (auto checked = RefuseLinks(folder_, target_); !checked)
        return checked;
    const std::filesystem::path target(target_);
    const std::wstring name = target.filename().wstring();
    auto parent = OpenTargetFolder(folder_, target.parent_path().wstring());
    if (!parent)
        return std::unexpected(std::move(parent.error()));
    if (auto cleared = ClearReadOnly(parent->Get(), name, target_); !cleared)
        return cleared;

    // A reader of the target (a verify, the host's start-up check) delays the rename, never fails it.
    if (auto renamed = RenameOver(file_.Get(), parent->Get(), name, target_); !renamed)
        return renamed;
    temporary_.clear();
    return {};
}

Result<> StagedFile::WaitReplaceable() const
{
    if (temporary_.empty())
        return {};
    if (auto checked = RefuseLinks(folder_, target_); !checked)
        return checked;
    return WaitUntilReplaceable(target_);
}

StagedFiles& StagedFiles::operator=(StagedFiles&& other) noexcept
{
    if (this != &other)
    {
        Clear();
        files_ = std::move(other.files_);
        other.files_.clear();
    }
    return *this;
}

StagedFiles::~StagedFiles()
{
    Clear();
}

void StagedFiles::Clear() noexcept
{
    for (auto& file : files_)
        file.reset();
    files_.clear();
}

void StagedFiles::Add(std::unique_ptr<StagedFile> file)
{
    files_.push_back(std::move(file));
}

void StagedFiles::Append(StagedFiles&& other)
{
    for (auto& file : other.files_)
        files_.push_back(std::move(file));
    other.files_.clear();
}

Result<> StagedFiles::WaitAllReplaceable() const
{
    for (const auto& file : files_)
        if (auto free = file->WaitReplaceable(); !free)
            return free;
    return {};
}

bool StagedFiles::AnyCommitted() const
{
    return std::ranges::any_of(files_, [](const auto& file) { return file->TemporaryPath().empty(); });
}

Result<> StagedFiles::CommitAll()
{
    for (auto& file : files_)
    {
        if (file->TemporaryPath().empty())
            continue;
        if (auto committed = file->Commit(); !committed)
            return committed;
    }
    Clear();
    return {};
}

} // namespace Pd::Install
