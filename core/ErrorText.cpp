#include "core/ErrorText.h"

#include "core/Handles.h"
#include "core/LanguageState.h"
#include "core/Text.h"

#include <windows.h>

#include <optional>

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

// WinHTTP's codes have their messages in winhttp.dll, where Windows has them at all.
HMODULE WinHttpMessages()
{
    static const UniqueModule module(
        ::LoadLibraryExW(L"winhttp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_AS_DATAFILE));
    return module.Get();
}

bool IsWinHttpCode(std::uint32_t code)
{
    return code >= 12000 && code <= 12999;
}

// Our own words for the network failures a user meets, for systems without a message for them.
std::optional<TextId> NetworkTextId(std::uint32_t code)
{
    switch (code)
    {
    case 12029: // cannot connect
        return TextId::ConnectionRefused;
    case 12007: // name not resolved
        return TextId::ServerNameNotResolved;
    case 12002: // timeout
        return TextId::ServerDidNotAnswerInTime;
    case 12030: // connection error
        return TextId::ConnectionBroken;
    case 12157: // secure channel error
    case 12175: // secure failure
        return TextId::TlsNotSetUp;
    case 12038: // certificate for another name
        return TextId::CertificateForAnotherName;
    case 12037: // certificate date
        return TextId::CertificateExpired;
    case 12045: // unknown certificate authority
        return TextId::CertificateNotTrusted;
    case 12169: // invalid certificate
    case 12170: // revoked certificate
    case 12179: // wrong certificate usage
        return TextId::CertificateInvalid;
    case 12044: // client certificate needed
        return TextId::ClientCertificateRequested;
    case 12152: // invalid server response
        return TextId::AnswerNotUnderstood;
    default:
        return std::nullopt;
    }
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
    if (message.empty() && IsWinHttpCode(code))
        if (HMODULE winHttp = WinHttpMessages())
            message = Message(FORMAT_MESSAGE_FROM_HMODULE, winHttp, code, 0);
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
        if (std::optional<TextId> id = NetworkTextId(code))
            message = Text(*id);
    if (message.empty())
        message = Text(TextId::UnknownError);
    std::wstring number = code < 0x80000000u ? fmt::format(L"{}", code) : fmt::format(L"0x{:08X}", code);
    return FormatText(TextId::ErrorWithCode, step, message, number);
}

} // namespace Pd::Core
