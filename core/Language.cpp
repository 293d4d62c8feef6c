#include "core/Language.h"

#include "core/LanguageState.h"
#include "core/Settings.h"
#include "core/Strings.h"
#include "core/Text.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <optional>

namespace Pd::Core
{
namespace
{

std::vector<std::wstring> PreferredUiLanguages()
{
    ULONG count = 0;
    ULONG size = 0;
    if (!::GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, nullptr, &size) || size == 0)
        return {};
    std::vector<wchar_t> buffer(size, L'\0');
    if (!::GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, buffer.data(), &size))
        return {};
    // A list of zero-terminated names ended by an empty one.
    std::vector<std::wstring> names;
    for (std::size_t at = 0; at < buffer.size() && buffer[at] != L'\0';)
    {
        std::wstring name(buffer.data() + at);
        at += name.size() + 1;
        names.push_back(std::move(name));
    }
    return names;
}

std::wstring LocaleText(const std::wstring& locale, LCTYPE type)
{
    wchar_t buffer[16] = {};
    if (::GetLocaleInfoEx(locale.c_str(), type, buffer, 16) == 0)
        return {};
    return ToLower(buffer);
}

const LanguageFile* WithLocale(const std::vector<LanguageFile>& files, const std::wstring& locale)
{
    auto found = std::find_if(files.begin(), files.end(), [&](const LanguageFile& file) {
        return std::find(file.locales.begin(), file.locales.end(), locale) != file.locales.end();
    });
    return found == files.end() ? nullptr : &*found;
}

const LanguageFile* WithCode(const std::vector<LanguageFile>& files, const std::wstring& code)
{
    if (code.empty())
        return nullptr;
    auto found =
        std::find_if(files.begin(), files.end(), [&](const LanguageFile& file) { return file.code == code; });
    return found == files.end() ? nullptr : &*found;
}

std::optional<std::wstring> Match(const std::wstring& name, const std::vector<LanguageFile>& files)
{
    std::wstring full = ToLower(name);
    std::wstring part = full.substr(0, full.find(L'-'));
    if (part == L"en")
        return L"en"; // any English variant picks the built-in language
    for (auto* file : {WithLocale(files, full), WithCode(files, full), WithLocale(files, part),
                       WithCode(files, part), WithCode(files, LocaleText(name, LOCALE_SISO639LANGNAME2)),
                       WithCode(files, LocaleText(name, LOCALE_SABBREVLANGNAME))})
        if (file != nullptr)
            return file->code;
    return std::nullopt;
}

} // namespace

std::wstring AutoLanguageFor(const std::vector<std::wstring>& preferred,
                             const std::vector<LanguageFile>& files)
{
    for (const std::wstring& name : preferred)
        if (auto code = Match(name, files))
            return *code;
    return L"en";
}

std::wstring AutoLanguage()
{
    std::vector<std::wstring> preferred = PreferredUiLanguages();
    if (preferred.empty())
        return L"en";
    return AutoLanguageFor(preferred, ListLanguageFiles(false));
}

bool SetLanguage(const std::wstring& choice, bool store)
{
    std::wstring code = ToLower(choice);
    bool automatic = code.empty() || code == L"auto";
    if (automatic)
        code = AutoLanguage();

    bool ok = code == L"en";
    TextMap texts;
    if (!ok && IsLanguageCode(code))
    {
        std::wstring folder = LanguageFolder();
        LanguageFile file;
        if (!folder.empty() &&
            LanguageFile::Load((std::filesystem::path(folder) / (code + L".lng")).wstring(), file, true))
        {
            texts = std::move(file.entries);
            ok = true;
        }
    }
    if (!ok)
    {
        code = L"en";
        texts.clear();
    }
    LanguageState::Instance().Replace(code, automatic, std::move(texts));

    if (store && ok)
        WriteUserString(L"Language", automatic ? L"auto" : code);
    return ok;
}

void ApplyLanguageSetting()
{
    if (!SetLanguage(ReadUserString(L"Language", L"auto"), false))
        SetLanguage(L"auto", false);
}

std::vector<LanguageMenuItem> LanguageMenuItems()
{
    const std::vector<std::uint32_t>& builtin = BuiltinTextIds();
    std::uint64_t total = builtin.size();

    std::vector<LanguageMenuItem> items;
    for (LanguageFile& file : ListLanguageFiles(true))
    {
        std::uint64_t translated = std::count_if(builtin.begin(), builtin.end(), [&](std::uint32_t id) {
            auto found = file.entries.find(id);
            return found != file.entries.end() && !found->second.empty();
        });
        items.push_back(
            {std::move(file.code), std::move(file.name), std::move(file.locales), translated, total});
    }
    std::stable_sort(items.begin(), items.end(), [](const LanguageMenuItem& a, const LanguageMenuItem& b) {
        return ::CompareStringEx(L"", LINGUISTIC_IGNORECASE, a.name.c_str(), static_cast<int>(a.name.size()),
                                 b.name.c_str(), static_cast<int>(b.name.size()), nullptr, nullptr,
                                 0) == CSTR_LESS_THAN;
    });
    items.insert(items.begin(), LanguageMenuItem{L"en", L"English", {L"en"}, total, total});
    return items;
}

} // namespace Pd::Core
