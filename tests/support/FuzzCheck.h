// A fuzz target's assertion: any broken property ends the run as a finding.
#pragma once

#include <cstdlib>

namespace PdTest
{

inline void Check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace PdTest
