#include "platform/sim/SimCellularApnScenario.h"

#include "platform/Guid.h"
#include "platform/sim/ScenarioReaders.h"

namespace Pd::Platform::Sim
{

Pd::Result<> ReadCellular(const Json::Value& cellular, ScenarioCellular& target)
{
    if (cellular.kind == Json::Kind::Null)
        return {};
    if (cellular.kind != Json::Kind::Object)
        return Wrong(L"cellular", L"an object");
    target.present = true;
    Pd::Result<> read;
    if (!(read = ReadText(cellular, L"acquire", target.acquire)) ||
        !(read = ReadNumber(cellular, L"acquireMs", target.acquireMs)) ||
        !(read = ReadBool(cellular, L"closeFails", target.closeFails)))
        return read;
    const std::wstring& acquire = target.acquire;
    if (acquire != L"opens" && acquire != L"noSession" && acquire != L"noAdapter" && acquire != L"canceled" &&
        !(acquire.size() == 10 && acquire.starts_with(L"0x") &&
          acquire.find_first_not_of(L"0123456789abcdefABCDEF", 2) == std::wstring::npos))
        return Wrong(L"acquire",
                     L"opens, noSession, noAdapter, canceled or an HRESULT as 0x and 8 hex digits");
    std::wstring adapter = L"loopback";
    if (!(read = ReadText(cellular, L"adapter", adapter)))
        return read;
    if (adapter != L"loopback" && !(target.adapter = ParseGuid(adapter)))
        return Wrong(L"adapter", L"loopback or a GUID in braces");
    const Json::Value& names = cellular.Member(L"names");
    if (names.kind == Json::Kind::Null)
        return {};
    if (names.kind != Json::Kind::Object)
        return Wrong(L"names", L"an object of address lists");
    for (const auto& [host, addresses] : *names.members)
    {
        if (addresses.kind != Json::Kind::Array)
            return Wrong(L"names", L"an object of address lists");
        for (const Json::Value& address : addresses.Items())
        {
            if (address.kind != Json::Kind::String)
                return Wrong(L"names", L"an object of address lists");
            target.names[host].push_back(address.text);
        }
    }
    return {};
}

} // namespace Pd::Platform::Sim
