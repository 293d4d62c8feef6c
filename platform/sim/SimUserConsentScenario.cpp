#include "platform/sim/SimUserConsentScenario.h"

#include "platform/sim/ScenarioReaders.h"

namespace Pd::Platform::Sim
{
namespace
{

// Each answer a whole number or "fails".
Pd::Result<> ReadHelloAnswer(const Json::Value& hello, std::wstring_view name, ScenarioHelloAnswer& target)
{
    const Json::Value& value = hello.Member(name);
    if (value.kind == Json::Kind::String && value.text == L"fails")
    {
        target.fails = true;
        return {};
    }
    if (value.kind != Json::Kind::Null && value.kind != Json::Kind::Number)
        return Wrong(name, L"a whole number or \"fails\"");
    return ReadNumber(hello, name, target.value);
}

} // namespace

Pd::Result<> ReadHello(const Json::Value& hello, ScenarioHello& target)
{
    if (hello.kind != Json::Kind::Null && hello.kind != Json::Kind::Object)
        return Wrong(L"hello", L"an object");
    if (hello.kind == Json::Kind::Null)
        return {};
    // A PC with a "hello" key has a working Windows Hello unless the key says otherwise.
    target = ScenarioHello{{0}, {0}, 0};
    Pd::Result<> read;
    if (!(read = ReadHelloAnswer(hello, L"availability", target.availability)) ||
        !(read = ReadHelloAnswer(hello, L"result", target.result)) ||
        !(read = ReadNumber(hello, L"promptMs", target.promptMs)) ||
        !(read = ReadNumber(hello, L"readers", target.readers)))
        return read;
    return {};
}

} // namespace Pd::Platform::Sim
