#include "platform/sim/SimPublisherScenario.h"

#include "platform/sim/ScenarioReaders.h"

namespace Pd::Platform::Sim
{

Pd::Result<> ReadTrust(const Json::Value& trust, ScenarioTrust& target)
{
    Pd::Result<> read;
    if (!(read = ReadText(trust, L"publisher", target.publisher)) ||
        !(read = ReadText(trust, L"rootPrefix", target.rootPrefix)))
        return read;
    const Json::Value& keys = trust.Member(L"rootKeys");
    if (keys.kind != Json::Kind::Null && keys.kind != Json::Kind::Array)
        return Wrong(L"rootKeys", L"an array of texts");
    for (const Json::Value& key : keys.Items())
    {
        if (key.kind != Json::Kind::String)
            return Wrong(L"rootKeys", L"an array of texts");
        target.rootKeys.push_back(key.text);
    }
    return {};
}

} // namespace Pd::Platform::Sim
