#include "core/release/InstallState.h"

#include "core/ErrorText.h"
#include "core/Json.h"
#include "core/Strings.h"
#include "core/Text.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace Pd::Core
{
namespace
{

std::wstring StatePath(const std::wstring& installFolder)
{
    std::wstring path = installFolder;
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/')
        path.push_back(L'\\');
    return path + L"peldra.json";
}

Json::Value ToJson(const InstallState& state)
{
    Json::Value components = Json::Value::MakeObject();
    for (const auto& [id, digest] : state.components)
        (*components.members)[id] = Json::Value::MakeString(digest);
    Json::Value entries = Json::Value::MakeObject();
    for (const auto& [key, names] : state.entries)
    {
        Json::Value list = Json::Value::MakeArray();
        for (const std::wstring& name : names)
            list.items->push_back(Json::Value::MakeString(name));
        (*entries.members)[key] = std::move(list);
    }
    Json::Value root = Json::Value::MakeObject();
    (*root.members)[L"components"] = std::move(components);
    (*root.members)[L"entries"] = std::move(entries);
    (*root.members)[L"format"] = Json::Value::MakeNumber(1);
    (*root.members)[L"source"] = Json::Value::MakeString(state.source);
    (*root.members)[L"version"] = Json::Value::MakeString(state.version);
    if (!state.unfinished.empty())
        (*root.members)[L"unfinished"] = Json::Value::MakeString(state.unfinished);
    return root;
}

} // namespace

bool InstallState::HasAllEntries() const
{
    return std::ranges::all_of(components,
                               [this](const auto& component) { return entries.contains(component.first); });
}

Result<> WriteState(const std::wstring& installFolder, const InstallState& state)
{
    std::wstring text;
    Json::Write(ToJson(state), 0, text);
    text.push_back(L'\n');
    std::string bytes = ToUtf8(text);

    std::wstring path = StatePath(installFolder);
    std::wstring temporary = path + L".new";
    {
        std::ofstream file(std::filesystem::path(temporary), std::ios::binary | std::ios::trunc);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        file.close();
        if (file.fail())
            return Fail(FormatText(18007, temporary));
    }
    if (!::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return Fail(ErrorText(FormatText(18019, path), ::GetLastError()));
    return {};
}

InstallState ReadState(const std::wstring& installFolder)
{
    InstallState state;
    std::ifstream file(std::filesystem::path(StatePath(installFolder)), std::ios::binary);
    if (!file)
        return state;
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::string_view body = bytes;
    if (body.starts_with("\xEF\xBB\xBF"))
        body.remove_prefix(3);
    std::wstring text = FromUtf8(body);
    auto root = Json::Parser(text).Parse();
    if (!root || root->kind != Json::Kind::Object)
        return state;

    state.version = root->TextOr(L"version", L"");
    state.source = root->TextOr(L"source", L"");
    state.unfinished = root->TextOr(L"unfinished", L"");
    const Json::Value& components = root->Member(L"components");
    if (components.kind == Json::Kind::Object)
        for (const auto& [id, digest] : *components.members)
            if (digest.kind == Json::Kind::String)
                state.components[id] = digest.text;
    const Json::Value& entries = root->Member(L"entries");
    if (entries.kind == Json::Kind::Object)
        for (const auto& [key, names] : *entries.members)
        {
            auto& list = state.entries[key];
            for (const Json::Value& name : names.Items())
                if (name.kind == Json::Kind::String)
                    list.push_back(name.text);
        }
    return state;
}

} // namespace Pd::Core
