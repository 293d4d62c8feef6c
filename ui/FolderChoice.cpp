#include "ui/FolderChoice.h"

#include "core/Text.h"
#include "platform/WebPage.h"
#include "release/folders/Folders.h"

#include <filesystem>

namespace Pd::Ui
{
namespace
{

bool EmptyFolder(const std::filesystem::path& folder)
{
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    if (error)
        return false;
    return entries == std::filesystem::directory_iterator();
}

} // namespace

Pd::Result<> OpenInstallFolder(const std::wstring& folder)
{
    if (folder.empty() || !Pd::Core::IsFolder(folder))
        return Pd::Fail(Pd::Core::FormatText(TextId::InstallFolderIsNotFolder, folder));
    if (auto opened = Pd::Platform::OpenAsUser({folder, {}, {}}); !opened)
        return Pd::Fail(Pd::Core::FormatText(TextId::OpeningFile, folder) + L": " + opened.error().text);
    return {};
}

std::wstring InstallFolderForChoice(const std::wstring& picked)
{
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::path(Pd::Core::JoinPath(picked, L"peldra.json")), error))
        return picked;
    if (!error && EmptyFolder(picked))
        return picked;
    return Pd::Core::JoinPath(picked, L"Peldra");
}

std::wstring ParentFolder(const std::wstring& path)
{
    auto last = path.find_last_of(L"\\/");
    if (last == std::wstring::npos)
        return std::wstring();
    std::wstring parent = path.substr(0, last);
    while (!parent.empty() && (parent.back() == L'\\' || parent.back() == L'/'))
        parent.pop_back();
    return parent;
}

std::optional<std::wstring> ValidateManifestUrl(const std::vector<std::wstring>& values)
{
    const std::wstring address = values.empty() ? std::wstring() : values.front();
    if (address.starts_with(L"https://"))
        return std::nullopt;
    if (address.size() > 17 &&
        (address.starts_with(L"http://localhost/") || address.starts_with(L"http://127.0.0.1/")))
        return std::nullopt;
    return Pd::Core::Text(TextId::EnterHttpsAddress);
}

} // namespace Pd::Ui
