#include "release/program/RunningImage.h"

#include "core/ErrorText.h"
#include "core/Text.h"
#include "release/base/OpenPath.h"

#include <windows.h>

namespace Pd::Core
{
namespace
{

using AreMappedFilesTheSameFunction = LONG(NTAPI*)(PVOID, PVOID);
constexpr LONG StatusSuccess = 0;

AreMappedFilesTheSameFunction AreMappedFilesTheSame()
{
    static const auto function = [] {
        const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
        return ntdll ? reinterpret_cast<AreMappedFilesTheSameFunction>(
                           reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtAreMappedFilesTheSame")))
                     : nullptr;
    }();
    return function;
}

std::unexpected<std::wstring> CannotOpen(const std::wstring& path, DWORD error)
{
    return Pd::Fail(ErrorText(FormatText(TextId::OpeningRunningProgram, path), error));
}

} // namespace

namespace Detail
{

Pd::Result<UniqueFile> OpenImageFile(const void* image, const std::wstring& path)
{
    UniqueFile file(
        Install::OpenPath(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
    if (!file)
        return CannotOpen(path, ::GetLastError());
    const AreMappedFilesTheSameFunction same = AreMappedFilesTheSame();
    if (!same)
        return CannotOpen(path, ERROR_PROC_NOT_FOUND);

    // Windows compares the files behind the two mappings, not their names: the image's file still
    // counts after a rename, and a file put at its path since, even a byte-for-byte copy, does not.
    UniqueHandle mapping(::CreateFileMappingW(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping)
        return CannotOpen(path, ::GetLastError());
    UniqueView view(::MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0));
    if (!view)
        return CannotOpen(path, ::GetLastError());
    if (same(const_cast<void*>(image), view.Get()) != StatusSuccess)
        return Pd::Fail(FormatText(TextId::ProgramReplacedSinceStart, path));
    return file;
}

} // namespace Detail

Pd::Result<UniqueFile> OpenRunningProgram(const std::wstring& path)
{
    return Detail::OpenImageFile(::GetModuleHandleW(nullptr), path);
}

} // namespace Pd::Core
