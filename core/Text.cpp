#include "core/Text.h"

#include "core/LanguageState.h"
#include "core/Module.h"

#include <windows.h>

#include <algorithm>

namespace Pd::Core
{
namespace
{

// String-table resources hold 16 texts a block; block numbers are 16-bit resource ids, so ids
// from 1,048,560 on (block 65536 and above) cannot have a built-in text.
constexpr std::uint32_t TextsPerBlock = 16;
constexpr std::uint32_t LastBlock = 0xFFFF;
constexpr WORD BuiltinLanguage = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

BOOL CALLBACK CollectBlock(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR context)
{
    if (IS_INTRESOURCE(name))
        reinterpret_cast<std::vector<std::uint32_t>*>(context)->push_back(
            static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(name)));
    return TRUE;
}

std::vector<std::uint32_t> CollectBuiltinIds()
{
    std::vector<std::uint32_t> blocks;
    ::EnumResourceNamesW(ModuleHandle(), RT_STRING, &CollectBlock, reinterpret_cast<LONG_PTR>(&blocks));
    std::sort(blocks.begin(), blocks.end());
    blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());

    std::vector<std::uint32_t> ids;
    for (std::uint32_t block : blocks)
    {
        if (block == 0)
            continue;
        std::uint32_t first = (block - 1) * TextsPerBlock;
        for (std::uint32_t id = first; id < first + TextsPerBlock; ++id)
            if (!BuiltinText(id).empty())
                ids.push_back(id);
    }
    return ids;
}

} // namespace

std::wstring BuiltinText(std::uint32_t id)
{
    std::uint32_t block = id / TextsPerBlock + 1;
    if (block > LastBlock)
        return {};
    HMODULE module = ModuleHandle();
    HRSRC resource = ::FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(block), BuiltinLanguage);
    if (resource == nullptr)
        return {};
    HGLOBAL loaded = ::LoadResource(module, resource);
    auto* units = static_cast<const wchar_t*>(loaded != nullptr ? ::LockResource(loaded) : nullptr);
    if (units == nullptr)
        return {};
    std::size_t length = ::SizeofResource(module, resource) / sizeof(wchar_t);

    // Each entry is a count followed by that many units; skip to the id's position.
    std::size_t at = 0;
    for (std::uint32_t skip = id % TextsPerBlock; skip > 0; --skip)
    {
        if (at >= length)
            return {};
        at += 1 + static_cast<std::uint16_t>(units[at]);
    }
    if (at >= length)
        return {};
    std::size_t count = static_cast<std::uint16_t>(units[at]);
    if (count > length - at - 1)
        return {};
    return std::wstring(units + at + 1, count);
}

const std::vector<std::uint32_t>& BuiltinTextIds()
{
    static const std::vector<std::uint32_t> ids = CollectBuiltinIds();
    return ids;
}

std::wstring DefaultText(std::uint32_t id)
{
    std::wstring text = BuiltinText(id);
    if (!text.empty())
        return text;
    return L"#" + std::to_wstring(id);
}

std::wstring Text(std::uint32_t id)
{
    if (auto translated = LanguageState::Instance().Translation(id))
        return *std::move(translated);
    return DefaultText(id);
}

namespace Detail
{

std::wstring FormatTextWith(std::uint32_t id, Wording wording, fmt::wformat_args args)
{
    std::wstring text = wording == Wording::Builtin ? DefaultText(id) : Text(id);
    try
    {
        return fmt::vformat(fmt::wstring_view(text), args);
    }
    catch (const fmt::format_error&)
    {
    }
    // A translation whose fields do not fit: the English text, formatted the same way.
    try
    {
        return fmt::vformat(fmt::wstring_view(DefaultText(id)), args);
    }
    catch (const fmt::format_error&)
    {
    }
    return text;
}

} // namespace Detail
} // namespace Pd::Core
