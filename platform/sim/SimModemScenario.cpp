#include "platform/sim/SimModemScenario.h"

#include "platform/sim/ScenarioReaders.h"

#include <fmt/xchar.h>

namespace Pd::Platform::Sim
{
namespace
{

// A result that is one of two words or a failure HRESULT.
Pd::Result<> ReadOutcome(const Json::Value& object, std::wstring_view name, std::wstring_view first,
                         std::wstring_view second, std::wstring& target)
{
    if (auto read = ReadText(object, name, target); !read)
        return read;
    if (target != first && target != second && !ParseFailureHresult(target))
        return Wrong(name, fmt::format(L"{}, {} or a failure HRESULT", first, second));
    return {};
}

Pd::Result<> ReadModemRadio(const Json::Value& object, ScenarioModemRadio& target)
{
    Pd::Result<> read;
    if (!(read = ReadText(object, L"imei", target.imei)) ||
        !(read = ReadBool(object, L"simReady", target.simReady)) ||
        !(read = ReadText(object, L"iccid", target.iccid)) ||
        !(read = ReadText(object, L"imsi", target.imsi)) ||
        !(read = ReadNumber(object, L"registerState", target.registerState)) ||
        !(read = ReadText(object, L"providerId", target.providerId)) ||
        !(read = ReadText(object, L"providerName", target.providerName)) ||
        !(read = ReadNumber(object, L"dataClass", target.dataClass)) ||
        !(read = ReadNumber(object, L"signal", target.signal)) ||
        !(read = ReadText(object, L"serviceCentre", target.serviceCentre)) ||
        !(read = ReadBool(object, L"gone", target.gone)))
        return read;
    return {};
}

} // namespace

Pd::Result<> ReadModem(const Json::Value& modem, ScenarioModem& target)
{
    if (modem.kind == Json::Kind::Null)
        return {};
    if (modem.kind != Json::Kind::Object)
        return Wrong(L"modem", L"an object");
    target.present = true;
    Pd::Result<> read;
    if (!(read = ReadModemRadio(modem, target.radio)) ||
        !(read = ReadBool(modem, L"registration", target.registration)) ||
        !(read = ReadBool(modem, L"signalInterface", target.signalInterface)) ||
        !(read = ReadBool(modem, L"smsInterface", target.smsInterface)) ||
        !(read = ReadNumber(modem, L"capacity", target.capacity)) ||
        !(read = ReadHresult(modem, L"sendCall", target.sendCall)) ||
        !(read = ReadOutcome(modem, L"send", L"sent", L"silent", target.send)) ||
        !(read = ReadNumber(modem, L"sendMs", target.sendMs)) ||
        !(read = ReadHresult(modem, L"readCall", target.readCall)) ||
        !(read = ReadOutcome(modem, L"read", L"answers", L"silent", target.read)) ||
        !(read = ReadNumber(modem, L"readParts", target.readParts)) ||
        !(read = ReadHresult(modem, L"deleteStatus", target.deleteStatus)))
        return read;
    if (target.readParts == 0 || target.readParts > 16)
        return Wrong(L"readParts", L"1 to 16");
    ScenarioModemRadio radio = target.radio;
    for (const Json::Value& entry : modem.Member(L"changes").Items())
    {
        ScenarioModemChange change;
        if (entry.kind != Json::Kind::Object)
            return Wrong(L"changes", L"an array of objects");
        if (!(read = ReadNumber(entry, L"afterMs", change.afterMs)) || !(read = ReadModemRadio(entry, radio)))
            return read;
        change.radio = radio;
        target.changes.push_back(std::move(change));
    }
    for (const Json::Value& entry : modem.Member(L"store").Items())
    {
        ScenarioStoredSms message;
        if (entry.kind != Json::Kind::Object)
            return Wrong(L"store", L"an array of objects");
        if (!(read = ReadNumber(entry, L"index", message.index)) ||
            !(read = ReadNumber(entry, L"status", message.status)) ||
            !(read = ReadText(entry, L"pdu", message.pdu)))
            return read;
        target.store.push_back(std::move(message));
    }
    for (const Json::Value& entry : modem.Member(L"incoming").Items())
    {
        ScenarioIncomingSms message;
        if (entry.kind != Json::Kind::Object)
            return Wrong(L"incoming", L"an array of objects");
        if (!(read = ReadText(entry, L"pdu", message.pdu)) ||
            !(read = ReadBool(entry, L"class0", message.class0)))
            return read;
        target.incoming.push_back(std::move(message));
    }
    return {};
}

} // namespace Pd::Platform::Sim
