#include "core/release/StagedFiles.h"

#include "core/ErrorText.h"
#include "core/Text.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <vector>

namespace Pd::Install
{
namespace
{

// Renames by handle need a full path: a relative one would resolve against the current folder.
std::wstring FullPath(const std::wstring& path)
{
    DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return path;
    std::wstring full(needed, L'\0');
    DWORD length = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed)
        return path;
    full.resize(length);
    return full;
}

HANDLE CreateTemporary(const std::wstring& path, DWORD disposition)
{
    return ::CreateFileW(path.c_str(), GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

StagedFile::~StagedFile()
{
    file_.Reset();
    if (!temporary_.empty())
        ::DeleteFileW(temporary_.c_str());
}

Result<> StagedFile::Open(const std::wstring& target)
{
    target_ = FullPath(target);
    temporary_ = target_ + L".new";
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(target_).parent_path(), ignored);

    // An older ".new" file is removed first and the new one created fresh: Wine truncates a file
    // created over an existing one when it is closed, which costs time for large files.
    ::DeleteFileW(temporary_.c_str());
    HANDLE file = CreateTemporary(temporary_, CREATE_NEW);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_EXISTS)
        file = CreateTemporary(temporary_, CREATE_ALWAYS);
    if (file == INVALID_HANDLE_VALUE)
    {
        DWORD error = ::GetLastError();
        std::wstring failed = temporary_;
        temporary_.clear(); // nothing of ours to delete
        return Fail(Core::ErrorText(Core::FormatText(18017, failed), error));
    }
    file_.Reset(file);
    bytesWritten_ = 0;
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
            return Fail(Core::ErrorText(Core::FormatText(18018, temporary_), ::GetLastError()));
        // A write that succeeds with fewer bytes has run out of room on the volume.
        if (written != piece)
            return Fail(Core::FormatText(16074, temporary_));
        bytesWritten_ += piece;
        next += piece;
        count -= piece;
    }
    return {};
}

Result<> StagedFile::Flush()
{
    if (!::FlushFileBuffers(file_.Get()))
        return Fail(Core::ErrorText(Core::FormatText(18018, temporary_), ::GetLastError()));
    return {};
}

Result<> StagedFile::Commit()
{
    ::SetFileAttributesW(target_.c_str(), FILE_ATTRIBUTE_NORMAL);

    std::size_t nameBytes = target_.size() * sizeof(wchar_t);
    std::vector<std::uint8_t> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    std::copy(target_.begin(), target_.end(), rename->FileName);
    if (!::SetFileInformationByHandle(file_.Get(), FileRenameInfo, rename, static_cast<DWORD>(buffer.size())))
        return Fail(Core::ErrorText(Core::FormatText(18019, target_), ::GetLastError()));
    temporary_.clear();
    return {};
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
