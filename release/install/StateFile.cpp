#include "release/base/InstallState.h"

#include "core/Json.h"
#include "core/Strings.h"
#include "release/folders/FolderTrust.h"
#include "release/folders/NoLinks.h"
#include "release/verify/ReleaseFiles.h"

#include <algorithm>

namespace Pd::Core
{
namespace
{

// A state lists every file of the release: far more than any release holds.
constexpr std::uint64_t MaxStateBytes = 64u << 20;

std::wstring StatePath(const InstallFolder& installFolder)
{
    return installFolder.Join(L"peldra.json");
}

using Lists = std::map<std::wstring, std::vector<std::wstring>>;

Json::Value ListsToJson(const Lists& lists)
{
    Json::Value object = Json::Value::MakeObject();
    for (const auto& [key, names] : lists)
    {
        Json::Value list = Json::Value::MakeArray();
        for (const std::wstring& name : names)
            list.items->push_back(Json::Value::MakeString(name));
        (*object.members)[key] = std::move(list);
    }
    return object;
}

// Every member becomes a key; a value that is no array gives an empty list, and elements that
// are no strings are skipped.
Lists ListsFromJson(const Json::Value& object)
{
    Lists lists;
    if (object.kind == Json::Kind::Object)
        for (const auto& [key, names] : *object.members)
        {
            auto& list = lists[key];
            for (const Json::Value& name : names.Items())
                if (name.kind == Json::Kind::String)
                    list.push_back(name.text);
        }
    return lists;
}

Json::Value ToJson(const InstallState& state)
{
    Json::Value components = Json::Value::MakeObject();
    for (const auto& [id, digest] : state.components)
        (*components.members)[id] = Json::Value::MakeString(digest);
    Json::Value root = Json::Value::MakeObject();
    (*root.members)[L"components"] = std::move(components);
    if (state.createdFolders)
        (*root.members)[L"createdFolders"] = Json::Value::MakeNumber(*state.createdFolders);
    (*root.members)[L"entries"] = ListsToJson(state.entries);
    (*root.members)[L"format"] = Json::Value::MakeNumber(1);
    (*root.members)[L"placed"] = ListsToJson(state.placed);
    (*root.members)[L"source"] = Json::Value::MakeString(state.source);
    (*root.members)[L"version"] = Json::Value::MakeString(state.version);
    if (!state.staging.empty())
    {
        Json::Value staging = Json::Value::MakeArray();
        for (const std::wstring& folder : state.staging)
            staging.items->push_back(Json::Value::MakeString(folder));
        (*root.members)[L"staging"] = std::move(staging);
    }
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

Result<> WriteState(const InstallFolder& installFolder, const InstallState& state)
{
    std::wstring text;
    Json::Write(ToJson(state), 0, text);
    text.push_back(L'\n');
    const std::wstring path = StatePath(installFolder);
    if (auto written = WriteFileReplacing(path, ToUtf8(text)); !written)
        return written;
    // Its names are acted on only while administrators own it (release/folders/FolderTrust.h).
    auto file = Install::OpenBelow(installFolder.Path(), path, READ_CONTROL | WRITE_OWNER,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    if (!file)
        return std::unexpected(std::move(file.error()));
    return Install::OwnByAdministrators(file->Get(), path);
}

InstallState ReadState(const InstallFolder& installFolder)
{
    InstallState state;
    // Read past a writer that renames a new state over it (delete sharing), bounded in size.
    const std::string bytes = ReadFileBytes(StatePath(installFolder), MaxStateBytes);
    if (bytes.empty())
        return state;
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
    if (const auto created = root->Member(L"createdFolders").AsUInt64(); created && *created <= UINT32_MAX)
        state.createdFolders = static_cast<std::uint32_t>(*created);
    const Json::Value& components = root->Member(L"components");
    if (components.kind == Json::Kind::Object)
        for (const auto& [id, digest] : *components.members)
            if (digest.kind == Json::Kind::String)
                state.components[id] = digest.text;
    state.entries = ListsFromJson(root->Member(L"entries"));
    state.placed = ListsFromJson(root->Member(L"placed"));
    for (const Json::Value& folder : root->Member(L"staging").Items())
        if (folder.kind == Json::Kind::String)
            state.staging.push_back(folder.text);
    return state;
}

} // namespace Pd::Core
