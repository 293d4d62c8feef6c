#include "platform/PackageManager.h"

#include "core/ErrorText.h"
#include "platform/RealServices.h"
#include "platform/winrt/AbiDeployment.h"
#include "platform/winrt/Async.h"
#include "platform/winrt/Collections.h"
#include "platform/winrt/HString.h"
#include "platform/winrt/Runtime.h"

#include <fmt/xchar.h>

#include <optional>

namespace Pd::Platform
{
namespace
{

using namespace WinRt;

std::wstring ArchitectureName(std::int32_t architecture)
{
    switch (architecture)
    {
    case 0:
        return L"x86";
    case 5:
        return L"arm";
    case 9:
        return L"x64";
    case 11:
        return L"neutral";
    case 12:
        return L"arm64";
    case 14:
        return L"x86a64";
    default:
        return L"unknown";
    }
}

// "file:///C:/a%20b/AppxManifest.xml" for a full path (or "file://server/share/..." for a UNC
// path): the package manager takes URIs, and a path's blanks, '#', '%' and '?' would end or
// change one.
std::wstring FileUri(const std::wstring& path)
{
    std::wstring uri = L"file://";
    std::wstring_view rest = path;
    if (rest.starts_with(L"\\\\"))
        rest.remove_prefix(2);
    else
        uri += L'/';
    for (wchar_t c : rest)
    {
        if (c == L'\\')
            uri += L'/';
        else if (c == L' ' || c == L'#' || c == L'%' || c == L'?' || c < 0x20)
            uri += fmt::format(L"%{:02X}", static_cast<unsigned>(c));
        else
            uri += c;
    }
    return uri;
}

Outcome<ComPtr<Abi::IUriRuntimeClass>> MakeUri(const std::wstring& path)
{
    auto factory = Factory<Abi::IUriRuntimeClassFactory>(Abi::UriClass);
    if (!factory)
        return std::unexpected(factory.error());
    auto text = HString::Make(FileUri(path));
    if (!text)
        return std::unexpected(text.error());
    ComPtr<Abi::IUriRuntimeClass> uri;
    if (HRESULT hr = (*factory)->CreateUri(text->Get(), uri.Put()); FAILED(hr))
        return Failed(L"Uri(" + path + L")", hr);
    return uri;
}

Outcome<Package> Describe(Abi::IPackage* package)
{
    const std::wstring step = L"Package.Id";
    ComPtr<Abi::IPackageId> id;
    if (HRESULT hr = package->get_Id(id.Put()); FAILED(hr))
        return Failed(step, hr);
    Package result;
    HString name, fullName, familyName;
    Abi::PackageVersion version{};
    std::int32_t architecture = 0;
    for (HRESULT hr :
         {id->get_Name(name.Put()), id->get_Version(&version), id->get_Architecture(&architecture),
          id->get_FullName(fullName.Put()), id->get_FamilyName(familyName.Put())})
        if (FAILED(hr))
            return Failed(step, hr);
    result.name = name.Text();
    result.fullName = fullName.Text();
    result.familyName = familyName.Text();
    result.version = {version.major, version.minor, version.build, version.revision};
    result.architecture = ArchitectureName(architecture);
    if (auto package8 = QueryAs<Abi::IPackage8>(package))
    {
        HString path;
        if (SUCCEEDED(package8->get_InstalledPath(path.Put())) && path.Get())
            result.installLocation = path.Text();
    }
    if (auto package2 = QueryAs<Abi::IPackage2>(package))
    {
        Abi::Boolean development = 0;
        if (SUCCEEDED(package2->get_IsDevelopmentMode(&development)))
            result.developmentMode = development != 0;
    }
    return result;
}

PackageWalk Walk(Outcome<ComPtr<Abi::PackageIterable>> found, const std::wstring& step)
{
    PackageWalk walk;
    if (!found)
    {
        walk.stoppedBy = found.error();
        return walk;
    }
    auto walked = WalkIterable<Abi::IPackage*>(
        found->Get(),
        [&](ComPtr<Abi::IPackage> package) {
            if (walk.stoppedBy)
                return;
            if (!package)
                walk.stoppedBy =
                    Error{E_POINTER, Core::ErrorText(step, static_cast<std::uint32_t>(E_POINTER))};
            else if (auto described = Describe(package.Get()))
                walk.packages.push_back(std::move(*described));
            else
                walk.stoppedBy = described.error();
        },
        step);
    if (!walked && !walk.stoppedBy)
        walk.stoppedBy = walked.error();
    return walk;
}

// Waits for a deployment. A failed one is described by its result: the extended error code
// (or the operation's own) and Windows' error text after ours.
Outcome<> FinishDeployment(HRESULT started, Abi::DeploymentOperation* operation, const std::wstring& step)
{
    if (FAILED(started))
        return Failed(step, started);
    if (!operation)
        return Failed(step, E_POINTER);
    auto ended = AwaitCompletion(
        operation, Abi::Instances::DeploymentCompletedHandler.iid,
        [&](Abi::IAsyncCompletedHandler* handler) { return operation->put_Completed(handler); }, {}, step);
    if (ended)
        return {};
    ComPtr<Abi::IDeploymentResult> result;
    if (ended.error().code == HRESULT_FROM_WIN32(ERROR_CANCELLED) ||
        FAILED(operation->GetResults(result.Put())) || !result)
        return ended;
    HRESULT code = ended.error().code;
    if (HRESULT extended = S_OK; SUCCEEDED(result->get_ExtendedErrorCode(&extended)) && FAILED(extended))
        code = extended;
    Error error{code, Core::ErrorText(step, static_cast<std::uint32_t>(code))};
    if (HString text; SUCCEEDED(result->get_ErrorText(text.Put())) && text.Get())
    {
        error.detail = text.Text();
        error.text += L" " + error.detail;
    }
    return std::unexpected(std::move(error));
}

class WinRtPackageManager final : public PackageManager
{
public:
    PackageWalk FindPackagesForCurrentUser() override
    {
        const std::wstring step = L"PackageManager.FindPackagesByUserSecurityId";
        return Walk(Find(step,
                         [](Abi::IPackageManager* manager, Abi::PackageIterable** found) {
                             return manager->FindPackagesByUserSecurityId(nullptr,
                                                                          found); // the current account
                         }),
                    step);
    }

    PackageWalk FindPackagesByFamilyName(const std::wstring& familyName) override
    {
        const std::wstring step = L"PackageManager.FindPackagesByPackageFamilyName";
        auto family = HString::Make(familyName);
        if (!family)
            return {{}, family.error()};
        return Walk(Find(step,
                         [&](Abi::IPackageManager* manager, Abi::PackageIterable** found) {
                             return manager->FindPackagesByPackageFamilyName(family->Get(), found);
                         }),
                    step);
    }

    Outcome<std::vector<std::wstring>> FindUsers(const std::wstring& packageFullName) override
    {
        const std::wstring step = L"PackageManager.FindUsers";
        auto name = HString::Make(packageFullName);
        if (!name)
            return std::unexpected(name.error());
        auto found = Find<Abi::PackageUserIterable>(
            step, [&](Abi::IPackageManager* manager, Abi::PackageUserIterable** users) {
                return manager->FindUsers(name->Get(), users);
            });
        if (!found)
            return std::unexpected(found.error());
        std::vector<std::wstring> users;
        std::optional<Error> broken;
        auto walked = WalkIterable<Abi::IPackageUserInformation*>(
            found->Get(),
            [&](ComPtr<Abi::IPackageUserInformation> user) {
                if (broken)
                    return;
                HString sid;
                HRESULT hr = user ? user->get_UserSecurityId(sid.Put()) : E_POINTER;
                if (SUCCEEDED(hr) && !sid.Get())
                    hr = E_UNEXPECTED; // a user without an identifier cannot be told apart
                if (FAILED(hr))
                    broken = Failed(step, hr).error();
                else
                    users.push_back(sid.Text());
            },
            step);
        if (broken)
            return std::unexpected(std::move(*broken));
        if (!walked)
            return std::unexpected(walked.error());
        return users;
    }

    Outcome<> AddPackage(const std::wstring& packagePath, std::uint32_t options) override
    {
        return Deploy(
            L"PackageManager.AddPackageAsync", packagePath,
            [&](Abi::IPackageManager* manager, Abi::IUriRuntimeClass* uri, Abi::DeploymentOperation** op) {
                return manager->AddPackageAsync(uri, nullptr, options, op);
            });
    }

    Outcome<> RegisterPackage(const std::wstring& manifestPath, std::uint32_t options) override
    {
        return Deploy(
            L"PackageManager.RegisterPackageAsync", manifestPath,
            [&](Abi::IPackageManager* manager, Abi::IUriRuntimeClass* uri, Abi::DeploymentOperation** op) {
                return manager->RegisterPackageAsync(uri, nullptr, options, op);
            });
    }

    Outcome<> RemovePackage(const std::wstring& packageFullName, std::uint32_t options) override
    {
        const std::wstring step = L"PackageManager.RemovePackageWithOptionsAsync";
        auto manager = Activate<Abi::IPackageManager2>(Abi::PackageManagerClass);
        if (!manager)
            return std::unexpected(manager.error());
        auto name = HString::Make(packageFullName);
        if (!name)
            return std::unexpected(name.error());
        ComPtr<Abi::DeploymentOperation> operation;
        const HRESULT started =
            (*manager)->RemovePackageWithOptionsAsync(name->Get(), options, operation.Put());
        return FinishDeployment(started, operation.Get(), step);
    }

    Outcome<bool> HasSettingValue(const std::wstring& familyName, const std::wstring& name) override
    {
        auto values = SettingsOf(familyName);
        if (!values)
            return std::unexpected(values.error());
        auto key = HString::Make(name);
        if (!key)
            return std::unexpected(key.error());
        Abi::Boolean found = 0;
        if (HRESULT hr = (*values)->HasKey(key->Get(), &found); FAILED(hr))
            return Failed(L"ApplicationDataContainer.Values.HasKey", hr);
        return found != 0;
    }

    Outcome<> InsertSettingValue(const std::wstring& familyName, const std::wstring& name,
                                 bool value) override
    {
        auto values = SettingsOf(familyName);
        if (!values)
            return std::unexpected(values.error());
        auto statics = Factory<Abi::IPropertyValueStatics>(Abi::PropertyValueClass);
        if (!statics)
            return std::unexpected(statics.error());
        ComPtr<IInspectable> boxed;
        if (HRESULT hr = (*statics)->CreateBoolean(value ? 1 : 0, boxed.Put()); FAILED(hr))
            return Failed(L"PropertyValue.CreateBoolean", hr);
        auto key = HString::Make(name);
        if (!key)
            return std::unexpected(key.error());
        Abi::Boolean replaced = 0;
        if (HRESULT hr = (*values)->Insert(key->Get(), boxed.Get(), &replaced); FAILED(hr))
            return Failed(L"ApplicationDataContainer.Values.Insert", hr);
        return {};
    }

private:
    template <typename Iterable = Abi::PackageIterable, typename Call>
    static Outcome<ComPtr<Iterable>> Find(const std::wstring& step, Call&& call)
    {
        auto manager = Activate<Abi::IPackageManager>(Abi::PackageManagerClass);
        if (!manager)
            return std::unexpected(manager.error());
        ComPtr<Iterable> found;
        if (HRESULT hr = call(manager->Get(), found.Put()); FAILED(hr))
            return Failed(step, hr);
        if (!found)
            return Failed(step, E_POINTER);
        return found;
    }

    template <typename Start>
    static Outcome<> Deploy(const std::wstring& step, const std::wstring& path, Start&& start)
    {
        auto manager = Activate<Abi::IPackageManager>(Abi::PackageManagerClass);
        if (!manager)
            return std::unexpected(manager.error());
        auto uri = MakeUri(path);
        if (!uri)
            return std::unexpected(uri.error());
        ComPtr<Abi::DeploymentOperation> operation;
        const HRESULT started = start(manager->Get(), uri->Get(), operation.Put());
        return FinishDeployment(started, operation.Get(), step);
    }

    // LocalSettings.Values of the family's application data, as IMap<String, Object>.
    static Outcome<ComPtr<Abi::SettingsMap>> SettingsOf(const std::wstring& familyName)
    {
        auto statics = Factory<Abi::IApplicationDataManagerStatics>(Abi::ApplicationDataManagerClass);
        if (!statics)
            return std::unexpected(statics.error());
        auto family = HString::Make(familyName);
        if (!family)
            return std::unexpected(family.error());
        ComPtr<Abi::IApplicationData> data;
        if (HRESULT hr = (*statics)->CreateForPackageFamily(family->Get(), data.Put()); FAILED(hr) || !data)
            return Failed(L"ApplicationDataManager.CreateForPackageFamily(" + familyName + L")",
                          FAILED(hr) ? hr : E_POINTER);
        ComPtr<Abi::IApplicationDataContainer> local;
        if (HRESULT hr = data->get_LocalSettings(local.Put()); FAILED(hr) || !local)
            return Failed(L"ApplicationData.LocalSettings", FAILED(hr) ? hr : E_POINTER);
        ComPtr<IInspectable> values;
        if (HRESULT hr = local->get_Values(values.Put()); FAILED(hr) || !values)
            return Failed(L"ApplicationDataContainer.Values", FAILED(hr) ? hr : E_POINTER);
        auto map = QueryAs<Abi::SettingsMap>(values.Get(), Abi::Instances::MapStringObject.iid);
        if (!map)
            return Failed(L"ApplicationDataContainer.Values", E_NOINTERFACE);
        return map;
    }
};

} // namespace

std::shared_ptr<PackageManager> Real::Packages()
{
    static const auto manager = std::make_shared<WinRtPackageManager>();
    return manager;
}

} // namespace Pd::Platform
