// How a request shows in the prompt: nothing Android sends can break or disguise the text.
#include "host/elevation/ElevationBridge.h"

#include "core/LogEscape.h"
#include "core/Strings.h"
#include "core/Text.h"

namespace Pd::Bio::Elevation
{
namespace
{

constexpr std::size_t MaxDisplayUnits = 300;
constexpr std::size_t MaxCallerBytes = 200;
constexpr std::uint32_t RootUid = 0;
constexpr std::uint32_t ShellUid = 2000;

bool IsHighSurrogate(wchar_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool CallerByteShown(char byte)
{
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
           byte == ',' || byte == '-' || byte == '.' || byte == ':' || byte == '_';
}

} // namespace

std::wstring SanitizeForDisplay(std::string_view utf8)
{
    std::wstring out;
    for (wchar_t unit : Core::FromUtf8(utf8))
    {
        out += Core::IsHiddenCharacter(static_cast<char32_t>(unit)) ? L'?' : unit;
        if (out.size() == MaxDisplayUnits)
        {
            // A pair cut in two would leave half a character in front of the mark.
            if (IsHighSurrogate(out.back()))
                out.pop_back();
            return out + L'\u2026';
        }
    }
    return out;
}

std::wstring DescribeCaller(const Request& request)
{
    if (request.uid == RootUid)
        return L"root";
    if (request.uid == ShellUid)
        return L"adb shell";
    if (request.app.empty())
        return Core::Text(19003);
    std::wstring caller;
    for (char byte : std::string_view(request.app).substr(0, MaxCallerBytes))
        caller += CallerByteShown(byte) ? static_cast<wchar_t>(byte) : L'?';
    return caller;
}

} // namespace Pd::Bio::Elevation
