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
    Pd::Result<> read;
    if (!(read = ReadHresult(router, L"registerFails", target.registerFails)) ||
        !(read = ReadTexts(router, L"registrations", target.registrations)))
        return read;
    const Json::Value& messages = router.Member(L"messages");
    if (messages.kind != Json::Kind::Null && messages.kind != Json::Kind::Array)
        return Wrong(L"messages", L"an array of objects");
    return ReadEach(messages, target.messages, ReadSmsMessage);
}

} // namespace Pd::Platform::Sim
