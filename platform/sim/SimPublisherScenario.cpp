#include "platform/sim/SimPublisherScenario.h"

#include "platform/sim/ScenarioReaders.h"

namespace Pd::Platform::Sim
{

Pd::Result<> ReadTrust(const Json::Value& trust, ScenarioTrust& target)
{
    Pd::Result<> read;
    if (!(read = ReadText(trust, L"publisher", target.publisher)) ||
        !(read = ReadText(trust, L"rootPrefix", target.rootPrefix)) ||
        !(read = ReadTexts(trust, L"rootKeys", target.rootKeys)))
        return read;
    return {};
}

} // namespace Pd::Platform::Sim
