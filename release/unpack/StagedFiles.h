// Release files are never written over their targets: each is written beside its target as
// "<target>.new", held open exclusively, and moved over the target by handle on commit, so a
// failed or cancelled install leaves the install folder as it was.
#pragma once

#include "core/Handles.h"
#include "core/Result.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Pd::Install
{

class StagedFile
{
public:
    StagedFile() = default;
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;
    // Closes the file and, when it was not committed, deletes the ".new" file.
    ~StagedFile();

    // Creates "<target>.new" (an older one is emptied) and the folders between folder (the
    // target's own when empty) and the target. Nothing from folder down may be a link.
    Result<> Open(const std::wstring& target, const std::wstring& folder = {});
    Result<> Write(const void* bytes, std::uint64_t count);
    Result<> Flush();
    // Waits until no other program holds the target (RenameOver's wait), so that a held target
    // fails a run before it has replaced anything; the commit may still meet a reader that came since.
    Result<> WaitReplaceable() const;
    // Moves the ".new" file over the target, which is replaced whatever its read-only attribute;
    // on failure it stays staged. Both go by handle: the target's attributes through a handle
    // checked to be the target, the rename relative to the checked folder's handle.
    Result<> Commit();

    const std::wstring& TargetPath() const { return target_; }
    // Empty once committed.
    const std::wstring& TemporaryPath() const { return temporary_; }
    std::uint64_t BytesWritten() const { return bytesWritten_; }

private:
    std::wstring target_;
    std::wstring temporary_;
    std::wstring folder_; // nothing below it is written through a link
    UniqueFile file_;
    std::uint64_t bytesWritten_ = 0;
};

// Staged files in creation order, which is the order of commit.
class StagedFiles
{
public:
    StagedFiles() = default;
    StagedFiles(StagedFiles&&) = default;
    StagedFiles& operator=(StagedFiles&& other) noexcept;
    // Drops every entry in order: the uncommitted ones delete their ".new" files.
    ~StagedFiles();

    void Add(std::unique_ptr<StagedFile> file);
    // Moves every entry of other, in order, to the end of this list.
    void Append(StagedFiles&& other);
    // WaitReplaceable for every entry in order, up to the first failure.
    Result<> WaitAllReplaceable() const;
    // Commits in order and stops at the first failure, whose entry and those after it stay
    // staged. After success the list is empty.
    Result<> CommitAll();
    // Whether any entry is committed (after a failed CommitAll: whether it replaced anything).
    bool AnyCommitted() const;

    std::size_t Size() const { return files_.size(); }
    const StagedFile& operator[](std::size_t index) const { return *files_[index]; }

private:
    void Clear() noexcept;

    std::vector<std::unique_ptr<StagedFile>> files_;
};

} // namespace Pd::Install
