// Level of a log line or a console row.
#pragma once

#include <cstdint>

namespace Pd
{

enum class Level : std::int32_t
{
    Info = 0,
    Success = 1,
    Warning = 2,
    Error = 3,
};

} // namespace Pd
