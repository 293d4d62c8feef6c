#include "release/install/StagingJournal.h"

#include "core/ErrorText.h"
#include "core/Paths.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "release/folders/FileTree.h"
#include "release/folders/Folders.h"
#include "release/folders/FolderTrust.h"
#include "release/folders/NoLinks.h"
#include "release/install/InstallRecords.h"
#include "release/verify/ReleaseFiles.h"

#include <windows.h>

#include <algorithm>
#include <string_view>
#include <vector>

namespace Pd::Core
{
namespace
{

// A journal lists at most every file of an archive: far fewer bytes than this.
constexpr std::uint64_t MaxJournalBytes = 64u << 20;
constexpr std::wstring_view JournalSuffix = L".staged";

std::wstring DownloadsOf(const InstallFolder& installFolder)
{
    return installFolder.Join(L".download");
}

// Removes what one journal lists, then the journal; nothing when the folder or the journal could
// have been written by another account than administrators.
Result<> Undo(const InstallFolder& installFolder, const std::wstring& journal)
{
    const std::wstring& root = installFolder.Path();
    if (auto trusted = Install::CheckFolderTrust(root, journal); !trusted)
        return Fail(Install::NothingDeletedText(root, trusted.error()));
    const std::string bytes = ReadFileBytes(journal, MaxJournalBytes);
    std::vector<std::wstring> folders;
    for (std::size_t at = 0; at < bytes.size();)
    {
        const std::size_t end = std::min(bytes.find('\n', at), bytes.size());
        const std::wstring record = FromUtf8(std::string_view(bytes).substr(at, end - at));
        at = end + 1;
        if (!IsSafeRecord(record))
            continue;
        if (IsFolderRecord(record))
            folders.push_back(JoinPath(root, record.substr(0, record.size() - 1)));
        else if (record.ends_with(L".new")) // a journal names staged files only
            static_cast<void>(Install::DeleteBelow(root, JoinPath(root, record)));
    }
    Install::RemoveEmptyFolders(root, std::move(folders));
    static_cast<void>(Install::DeleteBelow(root, journal));
    return {};
}

} // namespace

Result<> StagingJournal::Open(const InstallFolder& installFolder, const std::wstring& componentId)
{
    installFolder_ = installFolder;
    path_ = JoinPath(DownloadsOf(installFolder_), componentId + std::wstring(JournalSuffix));
    if (PathExists(path_))
        if (auto undone = Undo(installFolder_, path_); !undone)
            return undone;
    auto file = Install::OpenBelow(installFolder_.Path(), path_, GENERIC_WRITE | WRITE_OWNER, FILE_SHARE_READ,
                                   OPEN_ALWAYS);
    if (!file)
        return std::unexpected(std::move(file.error()));
    if (auto owned = Install::OwnByAdministrators(file->Get(), path_); !owned)
        return owned;
    if (!::SetEndOfFile(file->Get()))
        return Fail(ErrorText(FormatText(TextId::WritingFile, path_), ::GetLastError()));
    file_ = std::move(*file);
    return {};
}

Result<> StagingJournal::Add(const std::wstring& path, bool folder)
{
    std::wstring record = RelativePath(NormalizeFolder(path), installFolder_.Path());
    if (folder)
        record += L"\\";
    const std::string line = ToUtf8(record) + "\n";
    DWORD written = 0;
    if (!::WriteFile(file_.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr))
        return Fail(ErrorText(FormatText(TextId::WritingFile, path_), ::GetLastError()));
    if (written != line.size())
        return Fail(FormatText(TextId::DiskFull, path_));
    return {};
}

void StagingJournal::Discard()
{
    if (!file_)
        return;
    FILE_DISPOSITION_INFO remove{TRUE};
    ::SetFileInformationByHandle(file_.Get(), FileDispositionInfo, &remove, sizeof(remove));
    file_.Reset();
}

Result<> UndoStagingJournals(const InstallFolder& installFolder)
{
    const std::wstring downloads = DownloadsOf(installFolder);
    std::vector<std::wstring> journals;
    WIN32_FIND_DATAW entry{};
    UniqueFind find(::FindFirstFileW(
        Install::LongPathForm(JoinPath(downloads, L"*") + std::wstring(JournalSuffix)).c_str(), &entry));
    if (!find)
        return {};
    do
        if (!(entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            journals.push_back(JoinPath(downloads, entry.cFileName));
    while (::FindNextFileW(find.Get(), &entry));
    find.Reset();
    Result<> outcome;
    for (const std::wstring& journal : journals)
        if (auto undone = Undo(installFolder, journal); !undone && outcome)
            outcome = std::move(undone);
    return outcome;
}

} // namespace Pd::Core
