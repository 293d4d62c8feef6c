#include "core/LanguageFile.h"
#include "core/DefaultInstallFolder.h"
#include "core/Elevation.h"

#include "core/Module.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "core/TextFields.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <filesystem>
#include <memory>
#include <string_view>

namespace Pd::Core
{
namespace
{

using UniqueStdFile = std::unique_ptr<std::FILE, decltype(&std::fclose)>;

UniqueStdFile OpenFile(const std::wstring& path, const wchar_t* mode)
{
    return UniqueStdFile(::_wfopen(path.c_str(), mode), &std::fclose);
}

bool StartsWith(std::string_view line, std::string_view prefix)
{
    return line.substr(0, prefix.size()) == prefix;
}

std::wstring Unescape(std::wstring_view text)
{
    std::wstring result;
    result.reserve(text.size());
    for (std::size_t at = 0; at < text.size(); ++at)
    {
        wchar_t unit = text[at];
        if (unit == L'\\' && at + 1 < text.size())
        {
            wchar_t next = text[at + 1];
            wchar_t replaced = next == L'\\'  ? L'\\'
                               : next == L'n' ? L'\n'
                               : next == L'r' ? L'\r'
                               : next == L't' ? L'\t'
                                              : 0;
            if (replaced != 0)
            {
                result.push_back(replaced);
                ++at;
                continue;
            }
        }
        result.push_back(unit);
    }
    return result;
}

std::string Escape(std::wstring_view text)
{
    std::wstring escaped;
    escaped.reserve(text.size());
    for (wchar_t unit : text)
    {
        switch (unit)
        {
        case L'\t':
            escaped += L"\\t";
            break;
        case L'\n':
            escaped += L"\\n";
            break;
        case L'\r':
            escaped += L"\\r";
            break;
        case L'\\':
            escaped += L"\\\\";
            break;
        default:
            escaped.push_back(unit);
        }
    }
    return ToUtf8(escaped);
}

void AddLocales(std::string_view list, std::vector<std::wstring>& locales)
{
    std::wstring lower = ToLower(FromUtf8(list));
    std::size_t start = 0;
    for (;;)
    {
        std::size_t comma = lower.find(L',', start);
        std::wstring piece;
        for (wchar_t unit : std::wstring_view(lower).substr(start, comma - start))
            if (!std::iswspace(unit))
                piece.push_back(unit == L'_' ? L'-' : unit);
        if (!piece.empty())
            locales.push_back(std::move(piece));
        if (comma == std::wstring::npos)
            break;
        start = comma + 1;
    }
}

// "<1 to 9 digits>=<text>": the id, or nothing for any other line.
bool ParseEntry(std::string_view line, std::uint32_t& id, std::string_view& text)
{
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || equals < 1 || equals > 9)
        return false;
    std::uint32_t value = 0;
    for (char digit : line.substr(0, equals))
    {
        if (digit < '0' || digit > '9')
            return false;
        value = value * 10 + static_cast<std::uint32_t>(digit - '0');
    }
    id = value;
    text = line.substr(equals + 1);
    return true;
}

// The first line of contents without its line end; contents keeps what follows it.
std::string_view TakeLine(std::string_view& contents)
{
    const std::size_t end = contents.find('\n');
    std::string_view line = contents.substr(0, end);
    contents = end == std::string_view::npos ? std::string_view() : contents.substr(end + 1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

void ReadLines(std::string_view contents, LanguageFile& file, bool withEntries)
{
    bool first = true;
    while (!contents.empty())
    {
        std::string_view line = TakeLine(contents);
        if (first && line.size() >= 3 && StartsWith(line, "\xEF\xBB\xBF"))
            line.remove_prefix(3);
        first = false;

        if (StartsWith(line, "#name="))
        {
            file.name = FromUtf8(line.substr(6));
        }
        else if (StartsWith(line, "#locale="))
        {
            AddLocales(line.substr(8), file.locales);
        }
        else if (withEntries && !StartsWith(line, "#"))
        {
            std::uint32_t id = 0;
            std::string_view text;
            if (ParseEntry(line, id, text))
                file.entries[id] = Unescape(FromUtf8(text));
        }
    }
}

bool ReadWholeFile(std::FILE* stream, std::string& contents)
{
    char buffer[64 * 1024];
    for (;;)
    {
        std::size_t got = std::fread(buffer, 1, sizeof(buffer), stream);
        contents.append(buffer, got);
        if (got < sizeof(buffer))
            return std::ferror(stream) == 0;
    }
}

} // namespace

bool LanguageFile::Load(const std::wstring& path, LanguageFile& file, bool withEntries)
{
    UniqueStdFile stream = OpenFile(path, L"rb");
    if (!stream)
        return false;
    std::string contents;
    ReadWholeFile(stream.get(), contents); // what could be read counts, as the format says

    LanguageFile loaded;
    loaded.path = path;
    loaded.code = ToLower(std::filesystem::path(path).stem().wstring());
    ReadLines(contents, loaded, withEntries);
    if (loaded.name.empty())
        loaded.name = loaded.code;
    file = std::move(loaded);
    return true;
}

std::wstring LanguageFolder()
{
    // The folder a program runs from is the user's to change (Downloads, say): a process that may
    // hold administrator rights takes its texts only from the installed program's folder.
    if (MayBeElevated())
        return (std::filesystem::path(DefaultInstallFolder()) / L"language").wstring();
    return LanguageFolderBesideProgram();
}

std::wstring LanguageFolderBesideProgram()
{
    std::wstring executable = ModulePath();
    if (executable.empty())
        return {};
    std::filesystem::path folder = std::filesystem::path(executable).parent_path();
    return (folder / L"language").wstring();
}

bool IsLanguageCode(const std::wstring& code)
{
    if (code.empty() || code.size() > 16)
        return false;
    return std::all_of(code.begin(), code.end(),
                       [](wchar_t unit) { return std::iswalnum(unit) || unit == L'-' || unit == L'_'; });
}

std::vector<LanguageFile> ListLanguageFiles(const std::wstring& folder, bool withEntries)
{
    std::vector<LanguageFile> files;
    if (folder.empty())
        return files;
    namespace fs = std::filesystem;
    std::error_code error;
    fs::directory_iterator entry(folder, error);
    // A folder that changes or vanishes while it is listed ends the listing with what was found.
    for (; !error && entry != fs::directory_iterator(); entry.increment(error))
    {
        std::error_code typeError;
        if (!entry->is_regular_file(typeError) || typeError)
            continue;
        const fs::path& path = entry->path();
        if (ToLower(path.extension().wstring()) != L".lng")
            continue;
        std::wstring code = ToLower(path.stem().wstring());
        if (!IsLanguageCode(code) || code == L"en")
            continue;
        LanguageFile file;
        if (LanguageFile::Load(path.wstring(), file, withEntries))
            files.push_back(std::move(file));
    }
    return files;
}

std::vector<LanguageFile> ListLanguageFiles(bool withEntries)
{
    return ListLanguageFiles(LanguageFolder(), withEntries);
}

bool ExportLanguageFile(const std::wstring& path)
{
    UniqueStdFile stream = OpenFile(path, L"wb");
    if (!stream)
        return false;
    // A Peldra that may run elevated reads only the installed program's folder (LanguageFolder):
    // the file goes there.
    const std::string example =
        ToUtf8((std::filesystem::path(DefaultInstallFolder()) / L"language").wstring()) + "\\de.lng";
    const std::string header =
        "# Peldra language file. Translate the text after '=', keep the numbers and the {...} fields:\n"
        "# they may move or be left out, never add new ones. In numbered patterns {0} is a name in lower "
        "case\n"
        "# and {1} the same name capitalised (\"image\" / \"Image\") - use the one your grammar needs.\n"
        "# UTF-8. Escapes: \\n \\r \\t \\\\\n"
        "# Save as <code>.lng in the language folder of the installed program, e.g. " +
        example +
        ", and check it with\n"
        "#   Peldra.exe lng-check \"" +
        example +
        "\"\n"
        "# #name   = the language's own name for the menu, e.g. Deutsch\n"
        "# #locale = the Windows display languages this file is for, e.g. de or pt-BR,pt\n"
        "#name=English\n"
        "#locale=en\n"
        "\n";
    std::fwrite(header.data(), 1, header.size(), stream.get());
    for (std::uint32_t id : BuiltinTextIds())
    {
        std::string line = std::to_string(id) + "=" + Escape(BuiltinText(id)) + "\n";
        std::fwrite(line.data(), 1, line.size(), stream.get());
    }
    bool written = std::ferror(stream.get()) == 0;
    return std::fclose(stream.release()) == 0 && written;
}

std::vector<LanguageCheck> CheckLanguageFiles(const std::wstring& path)
{
    std::vector<LanguageFile> files;
    if (path.empty())
    {
        // A check only reads and counts: it looks at the files a translator put beside the program.
        files = ListLanguageFiles(LanguageFolderBesideProgram(), true);
    }
    else
    {
        LanguageFile file;
        if (!LanguageFile::Load(path, file, true))
            return {};
        files.push_back(std::move(file));
    }

    const std::vector<std::uint32_t>& builtin = BuiltinTextIds();
    std::vector<LanguageCheck> checks;
    for (const LanguageFile& file : files)
    {
        LanguageCheck check{file.code, file.name, file.locales, 0, builtin.size(), file.path, {}, {}, {}};
        for (std::uint32_t id : builtin)
        {
            auto found = file.entries.find(id);
            if (found == file.entries.end() || found->second.empty())
                check.missing.push_back(id);
            else if (BreaksFieldRule(BuiltinText(id), found->second))
                check.badFields.push_back(id);
        }
        for (const auto& [id, text] : file.entries)
            if (BuiltinText(id).empty())
                check.extra.push_back(id);
        std::sort(check.extra.begin(), check.extra.end());
        check.translated = check.total - check.missing.size();
        checks.push_back(std::move(check));
    }
    return checks;
}

} // namespace Pd::Core
