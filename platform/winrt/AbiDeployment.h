// Our declarations of the package manager, package and application data interfaces this
// program calls (see AbiFoundation.h for what is declared and how it is checked).
#pragma once

#include "platform/winrt/AbiFoundation.h"

namespace Pd::Platform::WinRt::Abi
{

struct PackageVersion
{
    std::uint16_t major;
    std::uint16_t minor;
    std::uint16_t build;
    std::uint16_t revision;
};

struct IPackageId : IInspectable
{
    static constexpr GUID Iid = GuidOf("1adb665e-37c7-4790-9980-dd7ae74e8bb2");
    virtual HRESULT STDMETHODCALLTYPE get_Name(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Version(PackageVersion* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Architecture(std::int32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ResourceId(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Publisher(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_PublisherId(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_FullName(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_FamilyName(HSTRING* value) = 0;
};

struct IPackage : IInspectable
{
    static constexpr GUID Iid = GuidOf("163c792f-bd75-413c-bf23-b1fe7b95d825");
    virtual HRESULT STDMETHODCALLTYPE get_Id(IPackageId** value) = 0;
};

struct IPackage2 : IInspectable
{
    static constexpr GUID Iid = GuidOf("a6612fb6-7688-4ace-95fb-359538e7aa01");
    virtual HRESULT STDMETHODCALLTYPE get_DisplayName(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_PublisherDisplayName(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Description(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Logo(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsResourcePackage(Boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsBundle(Boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsDevelopmentMode(Boolean* value) = 0;
};

struct IPackage8 : IInspectable
{
    static constexpr GUID Iid = GuidOf("2c584f7b-ce2a-4be6-a093-77cfbb2a7ea1");
    virtual HRESULT STDMETHODCALLTYPE get_EffectiveExternalLocation(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MachineExternalLocation(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_UserExternalLocation(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_InstalledPath(HSTRING* value) = 0;
};

struct IDeploymentResult : IInspectable
{
    static constexpr GUID Iid = GuidOf("2563b9ae-b77d-4c1f-8a7b-20e6ad515ef3");
    virtual HRESULT STDMETHODCALLTYPE get_ErrorText(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ActivityId(GUID* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ExtendedErrorCode(HRESULT* value) = 0;
};

struct IPackageUserInformation : IInspectable
{
    static constexpr GUID Iid = GuidOf("f6383423-fa09-4cbc-9055-15ca275e2e7e");
    virtual HRESULT STDMETHODCALLTYPE get_UserSecurityId(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_InstallState(std::int32_t* value) = 0;
};

using DeploymentOperation = IAsyncOperationWithProgress<IDeploymentResult*>;
using PackageIterable = IIterable<IPackage*>;
using PackageUserIterable = IIterable<IPackageUserInformation*>;

struct IPackageManager : IInspectable
{
    static constexpr GUID Iid = GuidOf("9a7d4b65-5e8f-4fc7-a2e5-7f6925cb8b53");
    virtual HRESULT STDMETHODCALLTYPE AddPackageAsync(IUriRuntimeClass* packageUri,
                                                      IInspectable* dependencyUris, std::uint32_t options,
                                                      DeploymentOperation** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE UpdatePackageAsync(IUriRuntimeClass* packageUri,
                                                         IInspectable* dependencyUris, std::uint32_t options,
                                                         DeploymentOperation** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemovePackageAsync(HSTRING packageFullName,
                                                         DeploymentOperation** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE StagePackageAsync(IUriRuntimeClass* packageUri,
                                                        IInspectable* dependencyUris,
                                                        DeploymentOperation** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterPackageAsync(IUriRuntimeClass* manifestUri,
                                                           IInspectable* dependencyUris,
                                                           std::uint32_t options,
                                                           DeploymentOperation** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindPackages(PackageIterable** packages) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindPackagesByUserSecurityId(HSTRING userSecurityId,
                                                                   PackageIterable** packages) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindPackagesByNamePublisher(HSTRING name, HSTRING publisher,
                                                                  PackageIterable** packages) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindPackagesByUserSecurityIdNamePublisher(
        HSTRING userSecurityId, HSTRING name, HSTRING publisher, PackageIterable** packages) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindUsers(HSTRING packageFullName, PackageUserIterable** users) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPackageState(HSTRING packageFullName, std::int32_t state) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindPackageByPackageFullName(HSTRING packageFullName,
                                                                   IPackage** package) = 0;
    virtual HRESULT STDMETHODCALLTYPE CleanupPackageForUserAsync(HSTRING packageName, HSTRING userSecurityId,
                                                                 DeploymentOperation** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindPackagesByPackageFamilyName(HSTRING familyName,
                                                                      PackageIterable** packages) = 0;
};

struct IPackageManager2 : IInspectable
{
    static constexpr GUID Iid = GuidOf("f7aad08d-0840-46f2-b5d8-cad47693a095");
    virtual HRESULT STDMETHODCALLTYPE RemovePackageWithOptionsAsync(HSTRING packageFullName,
                                                                    std::uint32_t options,
                                                                    DeploymentOperation** operation) = 0;
};

struct IApplicationDataContainer : IInspectable
{
    static constexpr GUID Iid = GuidOf("c5aefd1e-f467-40ba-8566-ab640a441e1d");
    virtual HRESULT STDMETHODCALLTYPE get_Name(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Locality(std::int32_t* value) = 0;
    // IPropertySet; QueryInterface it for IMap<String, Object>.
    virtual HRESULT STDMETHODCALLTYPE get_Values(IInspectable** value) = 0;
};

struct IApplicationData : IInspectable
{
    static constexpr GUID Iid = GuidOf("c3da6fb7-b744-4b45-b0b8-223a0938d0dc");
    virtual HRESULT STDMETHODCALLTYPE get_Version(std::uint32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetVersionAsync(std::uint32_t version, IUnknown* handler,
                                                      IAsyncAction** action) = 0;
    virtual HRESULT STDMETHODCALLTYPE ClearAllAsync(IAsyncAction** action) = 0;
    virtual HRESULT STDMETHODCALLTYPE ClearAsync(std::int32_t locality, IAsyncAction** action) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LocalSettings(IApplicationDataContainer** value) = 0;
};

struct IApplicationDataManagerStatics : IInspectable
{
    static constexpr GUID Iid = GuidOf("1e1862e3-698e-49a1-9752-dee94925b9b3");
    virtual HRESULT STDMETHODCALLTYPE CreateForPackageFamily(HSTRING familyName, IApplicationData** data) = 0;
};

using SettingsMap = IMap<HSTRING, IInspectable*>;

namespace Instances
{
inline constexpr TypeInstance DeploymentOperation =
    Instance("pinterface({b5d036d7-e297-498f-ba60-0289e76e23dd};"
             "rc(Windows.Management.Deployment.DeploymentResult;{2563b9ae-b77d-4c1f-8a7b-20e6ad515ef3});"
             "struct(Windows.Management.Deployment.DeploymentProgress;"
             "enum(Windows.Management.Deployment.DeploymentProgressState;i4);u4))");
inline constexpr TypeInstance DeploymentCompletedHandler =
    Instance("pinterface({e85df41d-6aa7-46e3-a8e2-f009d840c627};"
             "rc(Windows.Management.Deployment.DeploymentResult;{2563b9ae-b77d-4c1f-8a7b-20e6ad515ef3});"
             "struct(Windows.Management.Deployment.DeploymentProgress;"
             "enum(Windows.Management.Deployment.DeploymentProgressState;i4);u4))");
inline constexpr TypeInstance PackageIterable =
    Instance("pinterface({faa585ea-6214-4217-afda-7f46de5869b3};"
             "rc(Windows.ApplicationModel.Package;{163c792f-bd75-413c-bf23-b1fe7b95d825}))");
inline constexpr TypeInstance PackageIterator =
    Instance("pinterface({6a79e863-4300-459a-9966-cbb660963ee1};"
             "rc(Windows.ApplicationModel.Package;{163c792f-bd75-413c-bf23-b1fe7b95d825}))");
inline constexpr TypeInstance PackageUserIterable = Instance(
    "pinterface({faa585ea-6214-4217-afda-7f46de5869b3};"
    "rc(Windows.Management.Deployment.PackageUserInformation;{f6383423-fa09-4cbc-9055-15ca275e2e7e}))");
inline constexpr TypeInstance PackageUserIterator = Instance(
    "pinterface({6a79e863-4300-459a-9966-cbb660963ee1};"
    "rc(Windows.Management.Deployment.PackageUserInformation;{f6383423-fa09-4cbc-9055-15ca275e2e7e}))");
} // namespace Instances

inline constexpr wchar_t PackageManagerClass[] = L"Windows.Management.Deployment.PackageManager";
inline constexpr wchar_t ApplicationDataManagerClass[] = L"Windows.Management.Core.ApplicationDataManager";
inline constexpr wchar_t UriClass[] = L"Windows.Foundation.Uri";
inline constexpr wchar_t PropertyValueClass[] = L"Windows.Foundation.PropertyValue";

} // namespace Pd::Platform::WinRt::Abi
