// A fuzz target's assertion: any broken property ends the run as a finding.
#pragma once

#include <cstdlib>

namespace Pd::Tel::Testing
{

inline void Check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace Pd::Tel::Testing
