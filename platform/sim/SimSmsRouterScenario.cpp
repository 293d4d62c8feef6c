#include "platform/sim/SimSmsRouterScenario.h"

#include "platform/sim/ScenarioReaders.h"

namespace Pd::Platform::Sim
{
namespace
{

Pd::Result<ScenarioSmsMessage> ReadSmsMessage(const Json::Value& entry)
{
    if (entry.kind != Json::Kind::Object)
        return Wrong(L"messages", L"an array of objects");
    ScenarioSmsMessage message;
    Pd::Result<> read;
    if (!(read = ReadSigned(entry, L"type", 0, 6, message.type)) ||
        !(read = ReadText(entry, L"from", message.from)) ||
        !(read = ReadText(entry, L"contentType", message.contentType)) ||
        !(read = ReadHexBytes(entry, L"hex", message.body)) ||
        !(read = ReadNumber(entry, L"timestamp", message.timestamp)) ||
        !(read = ReadNumber(entry, L"afterMs", message.afterMs)) ||
        !(read = ReadHresult(entry, L"readFails", message.readFails)))
        return std::unexpected(read.error());
    return message;
}

} // namespace

Pd::Result<> ReadSmsRouter(const Json::Value& router, ScenarioSmsRouter& target)
{
    if (router.kind == Json::Kind::Null)
        return {};
    if (router.kind != Json::Kind::Object)
        return Wrong(L"smsRouter", L"an object");
    target.present = true;
    if (auto read = ReadHresult(router, L"registerFails", target.registerFails); !read)
        return read;
    const Json::Value& registrations = router.Member(L"registrations");
    if (registrations.kind != Json::Kind::Null && registrations.kind != Json::Kind::Array)
        return Wrong(L"registrations", L"an array of texts");
    for (const Json::Value& id : registrations.Items())
    {
        if (id.kind != Json::Kind::String)
            return Wrong(L"registrations", L"an array of texts");
        target.registrations.push_back(id.text);
    }
    const Json::Value& messages = router.Member(L"messages");
    if (messages.kind != Json::Kind::Null && messages.kind != Json::Kind::Array)
        return Wrong(L"messages", L"an array of objects");
    for (const Json::Value& entry : messages.Items())
    {
        auto message = ReadSmsMessage(entry);
        if (!message)
            return std::unexpected(message.error());
        target.messages.push_back(std::move(*message));
    }
    return {};
}

} // namespace Pd::Platform::Sim
