// Opening a path that comes from outside this process: typed by the user, stored in a setting or a
// file, or found in a folder. Such a path may name a pipe another program serves ("\\.\pipe\x",
// or a link to one), and the server of a pipe may act as the client that opened it unless the
// client says otherwise: every such open goes through here, so that no call forgets to say that
// the server may only identify this process.
#pragma once

#include "core/Handles.h"

#include <string>

namespace Pd::Install
{

// What every open of an outside path passes to CreateFileW beside its own flags.
inline constexpr DWORD IdentifyOnly = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

// CreateFileW of the path, without security attributes or a template, with IdentifyOnly added to
// the flags and attributes; Windows' error is left for GetLastError.
UniqueFile OpenPath(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags);

// The attributes of the entry at the path, a link read as itself, as GetFileAttributesW gives
// them (INVALID_FILE_ATTRIBUTES with Windows' error on failure), read through a handle opened as
// OpenPath opens it. A folder's listing adds what the handle does not show: the link attribute
// of an entry Wine shows as a link only there, and the attributes of a file that another
// program holds open without sharing.
DWORD EntryAttributes(const std::wstring& path);

} // namespace Pd::Install
