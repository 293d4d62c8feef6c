// Process exit codes of the command line; the usage text lists them too.
#pragma once

namespace Pd::Cli
{

enum class ExitCode : int
{
    Ok = 0,
    Failed = 1,
    Usage = 2,
    Unavailable = 3, // missing administrator rights, a release that cannot be read, a missing service
    Canceled = 4,    // a question answered no, or an operation that was cancelled
    Restart = 5,     // restart Windows to finish
};

} // namespace Pd::Cli
