// How a request shows in the prompt: nothing Android sends can break or disguise the text. What
// the prompt shows is exactly what will run: every character that does not show as itself (a
// control, a blank other than a plain space, a filler, a combining mark, a format character, or
// anything outside the scripts listed below) is shown as its escape, runs are counted instead of
// repeated, and a cut says so.
#include "host/elevation/ElevationBridge.h"

#include "core/LogEscape.h"
#include "core/SecurityPrompt.h"
#include "core/Text.h"

#include <fmt/xchar.h>

#include <vector>

namespace Pd::Bio::Elevation
{
namespace
{

constexpr std::size_t MaxDisplayUnits = 300;
constexpr std::size_t MaxCallerBytes = 200;
constexpr std::size_t LongestPlainSpaceRun = 3;
constexpr std::uint32_t RootUid = 0;
constexpr std::uint32_t ShellUid = 2000;

bool CallerByteShown(char byte)
{
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
           byte == ',' || byte == '-' || byte == '.' || byte == ':' || byte == '_';
}

// Printable ASCII, and the letters and signs of Latin-1, Latin Extended-A and -B, Greek and
// Cyrillic that print visibly. The soft hyphen and the no-break space do not; the multiplication
// sign marks a run's count, so a literal one is escaped.
bool ShowsAsItself(char32_t c)
{
    return (c >= 0x21 && c <= 0x7E && c != U'\\') || (c >= 0xA1 && c <= 0x24F && c != 0xAD && c != 0xD7) ||
           (c >= 0x391 && c <= 0x3C9 && c != 0x3A2) || (c >= 0x400 && c <= 0x45F);
}

// One character as shown: itself, or its escape ("\x0A", "\u3000", "\\" for a backslash).
std::wstring Shown(char32_t c)
{
    if (ShowsAsItself(c) || c == U' ')
        return std::wstring(1, static_cast<wchar_t>(c));
    if (c == U'\\')
        return L"\\\\";
    return c < 0x80 ? fmt::format(L"\\x{:02X}", static_cast<unsigned>(c))
                    : fmt::format(L"\\u{:04X}", static_cast<unsigned>(c));
}

// One piece of the shown command: a character or an invalid byte, or a run of the same one.
struct Piece
{
    std::wstring text;
    std::size_t characters = 0; // of the command that it stands for
};

std::vector<Piece> Pieces(std::string_view utf8)
{
    std::vector<Piece> pieces;
    char32_t previous = 0;
    std::size_t run = 0; // how many of `previous` the last piece stands for; 0 after an invalid byte
    while (!utf8.empty())
    {
        auto [length, c] = Core::DecodeUtf8(utf8);
        if (length == 0)
        {
            pieces.push_back({fmt::format(L"\\x{:02X}", static_cast<unsigned char>(utf8.front())), 1});
            utf8.remove_prefix(1);
            run = 0;
            continue;
        }
        utf8.remove_prefix(length);
        const bool countable = c == U' ' || !ShowsAsItself(c);
        if (run > 0 && c == previous && countable)
        {
            ++run;
            if (c != U' ' || run > LongestPlainSpaceRun)
            {
                pieces.back().text = (c == U' ' ? L"\\x20" : Shown(c)) + L"\u00D7" + std::to_wstring(run);
                pieces.back().characters = run;
                continue;
            }
        }
        else
            run = 1;
        if (run > 1) // a plain space of a short run
        {
            pieces.back().text += L' ';
            ++pieces.back().characters;
        }
        else
            pieces.push_back({Shown(c), 1});
        previous = c;
    }
    return pieces;
}

} // namespace

ShownCommand SanitizeForDisplay(std::string_view utf8)
{
    ShownCommand shown;
    for (const Piece& piece : Pieces(utf8))
    {
        if (!shown.cut && shown.text.size() + piece.text.size() > MaxDisplayUnits)
        {
            shown.text += L'\u2026';
            shown.cut = true;
        }
        if (!shown.cut)
            shown.text += piece.text;
        shown.characters += piece.characters;
    }
    return shown;
}

std::wstring CutNote(const ShownCommand& shown, Core::Wording wording)
{
    return shown.cut ? L" " + Core::FormatText(wording, TextId::CutNote, shown.characters) : std::wstring();
}

std::wstring DescribeCaller(const Request& request, Core::Wording wording)
{
    if (request.uid == RootUid)
        return L"root";
    if (request.uid == ShellUid)
        return L"adb shell";
    if (request.app.empty())
        return Core::Text(TextId::UnknownApp, wording);
    std::wstring caller;
    for (char byte : std::string_view(request.app).substr(0, MaxCallerBytes))
        caller += CallerByteShown(byte) ? static_cast<wchar_t>(byte) : L'?';
    return caller;
}

std::wstring DescribeCommand(const Request& request, Core::Wording wording)
{
    if (request.command.empty())
        return Core::Text(TextId::InteractiveShell, wording);
    const ShownCommand shown = SanitizeForDisplay(request.command);
    return L"\u201C" + shown.text + L"\u201D" + CutNote(shown, wording);
}

std::wstring RootRequestText(const Request& request)
{
    const std::wstring uid = std::to_wstring(request.uid);
    return Core::SecurityPromptText([&](Core::Wording wording) {
        return Core::FormatText(wording, TextId::RootRequestPrompt, DescribeCaller(request, wording), uid,
                                DescribeCommand(request, wording));
    });
}

} // namespace Pd::Bio::Elevation
