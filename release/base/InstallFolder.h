// The install folder as every part of the release management takes it: a full, lexically normal
// path, made once where the folder enters (the command line, the window, a stored setting or
// record), so that two spellings of one folder compare equal and no part normalises again.
#pragma once

#include <string>
#include <string_view>

namespace Pd::Core
{

class InstallFolder
{
public:
    // No folder: what a path that cannot be made full gives.
    InstallFolder() = default;

    // The folder in its normal form (NormalizeFolder): full, backslashes, no "." or ".." and no
    // trailing separator except a drive root's. Empty when the path is empty or cannot be made
    // full.
    static InstallFolder From(std::wstring_view path);

    const std::wstring& Path() const noexcept { return path_; }
    bool empty() const noexcept { return path_.empty(); }

    // The path of a name (or relative path) in the folder. Empty for no folder: a bare name
    // would be read in whatever folder the process runs in.
    std::wstring Join(std::wstring_view name) const;

    // Windows compares paths without regard to case.
    friend bool operator==(const InstallFolder& a, const InstallFolder& b);

private:
    std::wstring path_;
};

// The folder (full, in normal form) with the part of it that exists in the long form Windows
// keeps for its names (C:\PROGRA~1\Tovik becomes C:\Program Files\Tovik) and the rest as it is. A
// short (8.3) name is one more spelling of a folder, which a check comparing the path Windows
// resolves for a handle with the folder's text takes for a link: a folder is made long once
// where it enters, and only that form is stored and used. The folder as it is when Windows cannot
// tell.
std::wstring LongFolderPath(const std::wstring& folder);

} // namespace Pd::Core
