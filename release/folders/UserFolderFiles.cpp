#include "release/folders/UserFolderFiles.h"

#include "core/DataFolder.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "core/UserFolders.h"
#include "release/folders/NoLinks.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <filesystem>

namespace Pd::Install
{
namespace
{

bool StartsWithFolder(const std::wstring& path, const std::wstring& folder)
{
    return !folder.empty() && path.size() > folder.size() &&
           Core::EqualsIgnoringCase(std::wstring_view(path).substr(0, folder.size()), folder) &&
           (path[folder.size()] == L'\\' || folder.back() == L'\\');
}

void ReportToEventLog(const std::wstring& text)
{
    HANDLE source = ::RegisterEventSourceW(nullptr, L"Peldra");
    if (source == nullptr)
        return;
    const wchar_t* strings[] = {text.c_str()};
    ::ReportEventW(source, EVENTLOG_WARNING_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
    ::DeregisterEventSource(source);
}

} // namespace

std::wstring UserFolderRoot(const std::wstring& knownFolder)
{
    const std::wstring full = FullPath(knownFolder);
    const std::wstring profile = FullPath(Core::UserProfileFolder());
    return StartsWithFolder(full, profile) ? profile : full;
}

std::FILE* OpenLogBelow(const std::wstring& root, const std::wstring& logFolder, std::string& problem)
{
    const std::wstring path = logFolder + L"\\bluetooth.log";
    Result<UniqueFile> file = Fail(L"");
    if (auto made = CreateFoldersBelow(root, logFolder); !made)
        file = std::unexpected(std::move(made.error()));
    else // appends only, shared with the other processes that log (the host and a console bridge)
        file = OpenBelow(root, path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_ALWAYS);
    // Another name of the same file could be anywhere on the volume (a file of Windows, say): a
    // file with more than one is not written.
    FILE_STANDARD_INFO standard{};
    if (file &&
        (!::GetFileInformationByHandleEx(file->Get(), FileStandardInfo, &standard, sizeof(standard)) ||
         standard.NumberOfLinks != 1))
        file = Fail(Core::Text(TextId::FileHasHardLinks));
    if (!file)
    {
        problem = "not written to " + Core::ToUtf8(path) + ": " + Core::ToUtf8(file.error());
        return nullptr;
    }
    const int descriptor = ::_open_osfhandle(reinterpret_cast<intptr_t>(file->Get()), _O_APPEND | _O_BINARY);
    if (descriptor == -1)
        return nullptr;
    static_cast<void>(file->Release()); // the descriptor owns it now
    std::FILE* stream = ::_fdopen(descriptor, "ab");
    if (stream == nullptr)
        ::_close(descriptor);
    return stream;
}

std::FILE* OpenDataFolderLog(std::string& problem)
{
    Result<std::wstring> folder = Core::FindDataFolder();
    std::FILE* file = nullptr;
    if (!folder)
        problem = "not written: " + Core::ToUtf8(folder.error());
    else
        file = OpenLogBelow(UserFolderRoot(std::filesystem::path(*folder).parent_path().wstring()), *folder,
                            problem);
    if (!problem.empty())
        ReportToEventLog(L"Peldra: the program log is " + Core::FromUtf8(problem));
    return file;
}

} // namespace Pd::Install
