#include "core/ErrorText.h"

#include "core/Handles.h"
#include "core/LanguageState.h"
#include "core/Text.h"

#include <windows.h>

namespace Pd::Core
{
namespace
{

LANGID MessageLanguage()
{
    std::wstring code = LanguageState::Instance().Code();
    if (code == L"en")
        return MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    LCID locale = ::LocaleNameToLCID(code.c_str(), 0);
    return LANGIDFROMLCID(locale); // 0, the neutral search, when Windows does not know the name
}

// WMI's status codes have their messages in wmiutils.dll: loaded once, as data, from System32.
HMODULE WmiMessages()
{
    static const UniqueModule module(
        ::LoadLibraryExW(L"wmiutils.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_AS_DATAFILE));
    return module.Get();
}

std::wstring Message(DWORD flags, HMODULE source, std::uint32_t code, LANGID language)
{
    wchar_t* buffer = nullptr;
    DWORD length = ::FormatMessageW(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                                    source, code, language, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    UniqueLocal owner(buffer);
    if (length == 0 || buffer == nullptr)
        return {};
    return std::wstring(buffer, length);
}

std::wstring SystemMessage(std::uint32_t code)
{
    LANGID language = MessageLanguage();
    std::wstring message = Message(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, language);
    if (message.empty() && language != 0)
        message = Message(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0);
    if (message.empty())
        if (HMODULE wmi = WmiMessages())
            message = Message(FORMAT_MESSAGE_FROM_HMODULE, wmi, code, 0);
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' '))
        message.pop_back();
    return message;
}

} // namespace

std::wstring ErrorText(const std::wstring& step, std::uint32_t code)
{
    std::wstring message = SystemMessage(code);
    if (message.empty())
        message = Text(10010);
    std::wstring number = code < 0x80000000u ? fmt::format(L"{}", code) : fmt::format(L"0x{:08X}", code);
    return FormatText(10009, step, message, number);
}

} // namespace Pd::Core
