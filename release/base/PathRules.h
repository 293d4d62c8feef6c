// Which names Windows can use inside an install folder. Platform-free: the tar reader applies
// these rules to hostile archive entry names, and the manifest parser to component targets.
// Wide texts hold UTF-16 code units on every platform.
#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace Pd::Install
{

// True when Windows cannot use the single path component as a file or folder name: it ends in
// a dot or a blank, or names a device (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9 and
// the superscript-digit forms) before its first dot. Empty, "." and ".." give false.
bool IsReservedName(std::wstring_view component);

// True when the component holds one of :*?"<>| or a character below U+0020.
bool HasForbiddenCharacter(std::wstring_view component);

// The UTF-16 form of UTF-8 text; every byte that does not start a valid sequence becomes
// U+FFFD, as the Windows conversion does.
std::wstring Utf16FromUtf8(std::string_view utf8);

// The relative path an archive entry name stands for, with backslashes: empty and "."
// components vanish (so "./a//b/" is a\b and "/etc/x" is etc\x). A name with a "..", a
// component holding one of :*?"<>| or a character below U+0020, or a reserved component is
// refused; the error side is then the whole name converted, with backslashes.
std::expected<std::wstring, std::wstring> RelativeEntryPath(std::string_view utf8Name);

} // namespace Pd::Install
