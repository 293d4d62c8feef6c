// Links the user's own programs made are not followed by the elevated program where Windows can
// refuse them (the redirection trust mitigation of Windows 11 22H2 and later): a symbolic link,
// junction or mount point that a process without administrator rights created then stops every
// open of this process that would go through it, whatever code makes the open. Links that an
// administrator or Windows made are followed as before. The program's own checks of where a
// handle leads still hold everywhere: older Windows has no such mitigation.
#pragma once

#include <windows.h>

#include <functional>

namespace Pd::Cli
{

enum class LinkTrust
{
    On,           // links made without administrator rights are refused from now on
    NotElevated,  // nothing to protect: the process runs with the user's own rights
    NotSupported, // this Windows (or Wine) has no such mitigation
    Failed,       // Windows knows it and refused to turn it on (logged)
};

// Turns the mitigation on in an elevated process; called once at process start.
LinkTrust TrustOnlyAdministratorsLinks();

namespace Detail
{
// Sets a mitigation policy of this process; the Windows error, 0 on success.
using SetMitigation = std::function<DWORD(PROCESS_MITIGATION_POLICY, const void* policy, SIZE_T size)>;
LinkTrust TrustOnlyAdministratorsLinksWith(bool elevated, const SetMitigation& set);
} // namespace Detail

} // namespace Pd::Cli
