#include "release/base/InstallFolder.h"

#include "core/Paths.h"
#include "core/Strings.h"

namespace Pd::Core
{

InstallFolder InstallFolder::From(std::wstring_view path)
{
    InstallFolder folder;
    folder.path_ = NormalizeFolder(std::wstring(path));
    return folder;
}

std::wstring InstallFolder::Join(std::wstring_view name) const
{
    if (path_.empty())
        return {};
    if (path_.back() == L'\\')
        return path_ + std::wstring(name);
    return path_ + L"\\" + std::wstring(name);
}

bool operator==(const InstallFolder& a, const InstallFolder& b)
{
    return EqualsIgnoringCase(a.path_, b.path_);
}

} // namespace Pd::Core
