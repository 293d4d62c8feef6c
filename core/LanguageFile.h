// Language files: "<code>.lng" in the folder "language" beside the executable. UTF-8 lines
// "#name=", "#locale=" (a comma list) and "<id>=<text>" with the escapes \\ \n \r \t; other lines
// beginning with "#" are comments. English is built in and never read from a file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace Pd::Core
{

struct LanguageFile
{
    std::wstring code;                 // the file name without folder and extension, lower case
    std::wstring name;                 // the language's own name; the code when the file has none
    std::vector<std::wstring> locales; // lower case, "-" separated
    std::uint64_t translated = 0;      // left 0 by the reader
    std::uint64_t total = 0;           // left 0 by the reader
    std::wstring path;
    std::unordered_map<std::uint32_t, std::wstring> entries; // empty unless asked for

    // Reads the file at path into file; entries only when asked for (the header lines always).
    // False only when the file cannot be opened; file is then left unchanged.
    static bool Load(const std::wstring& path, LanguageFile& file, bool withEntries);
};

struct LanguageCheck
{
    std::wstring code;
    std::wstring name;
    std::vector<std::wstring> locales;
    std::uint64_t translated = 0; // total minus the missing ids
    std::uint64_t total = 0;      // ids with a built-in text
    std::wstring path;
    std::vector<std::uint32_t> missing;   // built-in ids the file lacks or leaves empty
    std::vector<std::uint32_t> extra;     // ids of the file without a built-in text
    std::vector<std::uint32_t> badFields; // ids whose translation breaks the field rule
};

// The folder texts are loaded from: "language" beside the executable, but for a process that may
// be elevated the one in the default install folder, where only administrators write.
std::wstring LanguageFolder();

// The folder "language" beside the executable; empty when the executable's path cannot be read.
std::wstring LanguageFolderBesideProgram();

// True for a usable language code: 1 to 16 letters, digits, "-" or "_", so that it names a file
// in the language folder and nothing else.
bool IsLanguageCode(const std::wstring& code);

// The language files of a folder in the order the folder lists them: regular files "*.lng" whose
// code is a usable language code other than "en". A missing or unreadable folder gives none.
std::vector<LanguageFile> ListLanguageFiles(const std::wstring& folder, bool withEntries);
std::vector<LanguageFile> ListLanguageFiles(bool withEntries);

// Writes the translator's template: a header and every built-in English text, escaped. True when
// the whole file was written.
bool ExportLanguageFile(const std::wstring& path);

// Checks one file (a path) or, with an empty path, every file of the language folder against the
// built-in texts. A path that cannot be opened gives an empty list.
std::vector<LanguageCheck> CheckLanguageFiles(const std::wstring& path);

} // namespace Pd::Core
