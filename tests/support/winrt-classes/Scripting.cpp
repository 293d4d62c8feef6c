#include "tests/support/winrt-classes/Scripting.h"

#include <winstring.h>

#include <mutex>
#include <sstream>

namespace Pd::TestClasses
{

std::wstring Script(const wchar_t* name)
{
    wchar_t value[4096];
    const DWORD length = ::GetEnvironmentVariableW(name, value, 4096);
    return length > 0 && length < 4096 ? std::wstring(value, length) : std::wstring();
}

namespace
{
std::mutex g_callsMutex;
}

void Note(const std::wstring& call)
{
    std::lock_guard lock(g_callsMutex);
    std::wstring calls = Script(L"PD_TEST_CALLS");
    calls += call + L"\n";
    ::SetEnvironmentVariableW(L"PD_TEST_CALLS", calls.c_str());
}

std::wstring TextOf(HSTRING value)
{
    UINT32 length = 0;
    const wchar_t* raw = ::WindowsGetStringRawBuffer(value, &length);
    return raw ? std::wstring(raw, length) : std::wstring();
}

HSTRING MakeString(const std::wstring& text)
{
    HSTRING result = nullptr;
    ::WindowsCreateString(text.c_str(), static_cast<UINT32>(text.size()), &result);
    return result;
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator)
{
    std::vector<std::wstring> parts;
    std::wstringstream stream(text);
    for (std::wstring part; std::getline(stream, part, separator);)
        parts.push_back(part);
    return parts;
}

Scripted ReadScript(const wchar_t* name)
{
    Scripted scripted;
    std::wistringstream words(Script(name));
    std::wstring verb;
    words >> verb;
    auto hex = [&] {
        std::wstring code;
        words >> code;
        return static_cast<HRESULT>(std::wcstoul(code.c_str(), nullptr, 16));
    };
    if (verb == L"thread")
        scripted.ending.when = Ending::When::OtherThread;
    else if (verb == L"hang")
        scripted.ending.when = Ending::When::OnCancelOnly;
    else if (verb == L"error")
        scripted.ending = {Ending::When::OtherThread, hex()};
    else if (verb == L"start")
        scripted.startFails = hex();
    else
        scripted.rest = verb;
    std::getline(words >> std::ws, scripted.rest, L'\0');
    if (scripted.rest.empty() && verb != L"error")
        scripted.rest = verb;
    return scripted;
}

std::vector<std::uint8_t> Bytes(const std::wstring& hex)
{
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::wcstoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    return bytes;
}

bool Unregistered(const std::wstring& className)
{
    return !className.empty() && Script(L"PD_TEST_UNREGISTERED") == className;
}

} // namespace Pd::TestClasses
