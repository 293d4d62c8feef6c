// The native build has no per-user data folder: its lines go to the sink or standard output only.
#include "core/LogFile.h"

namespace Pd::Core::Detail
{

std::FILE* OpenLogFile()
{
    return nullptr;
}

} // namespace Pd::Core::Detail
