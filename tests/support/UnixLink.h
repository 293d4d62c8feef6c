// Symbolic links for tests under Wine. Wine 8's CreateSymbolicLinkW reports success and creates
// nothing, so a test that needs a link makes a Unix one itself: the paths are turned into Unix
// paths by Wine's own kernel32 export and the link is made with the Linux symlink system call
// (x86-64), which Wine does not intercept. Wine then reports a link to a folder with the reparse
// and directory attributes, as Windows reports a directory link.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace PdTest
{

namespace Detail
{
// Wine's Unix path of a Windows path, allocated on the process heap; null when it has none.
inline char* UnixPath(const std::wstring& path)
{
    using UnixName = char*(__cdecl*)(const wchar_t*);
    auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    return unixName ? unixName(path.c_str()) : nullptr;
}

inline long LinuxSystemCall(long number, const char* first, const char* second)
{
    long result = -1;
    asm volatile("syscall" : "=a"(result) : "a"(number), "D"(first), "S"(second) : "rcx", "r11", "memory");
    return result;
}
} // namespace Detail

// Makes the link (symlink, 88); true on success.
inline bool MakeUnixLink(const std::wstring& target, const std::wstring& link)
{
    char* from = Detail::UnixPath(target);
    char* to = Detail::UnixPath(link);
    const long result = from && to ? Detail::LinuxSystemCall(88, from, to) : -1;
    ::HeapFree(::GetProcessHeap(), 0, from);
    ::HeapFree(::GetProcessHeap(), 0, to);
    return result == 0;
}

// Removes the link itself (unlink, 87), which no Windows call under Wine can do for a link to a
// folder; true when it was removed.
inline bool RemoveUnixLink(const std::wstring& link)
{
    char* path = Detail::UnixPath(link);
    const long result = path ? Detail::LinuxSystemCall(87, path, nullptr) : -1;
    ::HeapFree(::GetProcessHeap(), 0, path);
    return result == 0;
}

// Removes the links it was given when it goes, before a scratch folder is removed: the standard
// library's removal follows links to folders under Wine and never ends.
class UnixLinks
{
public:
    UnixLinks() = default;
    UnixLinks(const UnixLinks&) = delete;
    UnixLinks& operator=(const UnixLinks&) = delete;
    ~UnixLinks()
    {
        for (const std::wstring& link : links_)
            RemoveUnixLink(link);
    }

    bool Make(const std::wstring& target, const std::wstring& link)
    {
        links_.push_back(link);
        return MakeUnixLink(target, link);
    }

private:
    std::vector<std::wstring> links_;
};

} // namespace PdTest
