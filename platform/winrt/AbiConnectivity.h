// Our declarations of the cellular access point connection: the APN context, the connectivity
// manager that acquires a connection with it, and the session's profile and network adapter
// (see AbiFoundation.h for what is declared and how it is checked).
#pragma once

#include "platform/winrt/AbiFoundation.h"

namespace Pd::Platform::WinRt::Abi
{

struct IClosable : IInspectable
{
    static constexpr GUID Iid = GuidOf("30d5a829-7fa4-4026-83bb-d75bae4ea99e");
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};

struct ICellularApnContext : IInspectable
{
    static constexpr GUID Iid = GuidOf("6fa529f4-effd-4542-9ab2-705bbf94943a");
    virtual HRESULT STDMETHODCALLTYPE get_ProviderId(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ProviderId(HSTRING value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_AccessPointName(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_AccessPointName(HSTRING value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_UserName(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_UserName(HSTRING value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Password(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Password(HSTRING value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsCompressionEnabled(Boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsCompressionEnabled(Boolean value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_AuthenticationType(std::int32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_AuthenticationType(std::int32_t value) = 0;
};

struct INetworkAdapter : IInspectable
{
    static constexpr GUID Iid = GuidOf("3b542e03-5388-496c-a8a3-affd39aec2e6");
    virtual HRESULT STDMETHODCALLTYPE get_OutboundMaxBitsPerSecond(std::uint64_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_InboundMaxBitsPerSecond(std::uint64_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IanaInterfaceType(std::uint32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NetworkItem(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NetworkAdapterId(GUID* value) = 0;
};

struct IConnectionProfile : IInspectable
{
    static constexpr GUID Iid = GuidOf("71ba143c-598e-49d0-84eb-8febaedcc195");
    virtual HRESULT STDMETHODCALLTYPE get_ProfileName(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNetworkConnectivityLevel(std::int32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNetworkNames(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetConnectionCost(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDataPlanStatus(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NetworkAdapter(INetworkAdapter** value) = 0;
};

struct IConnectionSession : IInspectable
{
    static constexpr GUID Iid = GuidOf("ff905d4c-f83b-41b0-8a0c-1462d9c56b73");
    virtual HRESULT STDMETHODCALLTYPE get_ConnectionProfile(IConnectionProfile** value) = 0;
};

using SessionOperation = IAsyncOperation<IConnectionSession*>;

struct IConnectivityManagerStatics : IInspectable
{
    static constexpr GUID Iid = GuidOf("5120d4b1-4fb1-48b0-afc9-42e0092a8164");
    virtual HRESULT STDMETHODCALLTYPE AcquireConnectionAsync(ICellularApnContext* context,
                                                             SessionOperation** operation) = 0;
};

namespace Instances
{
inline constexpr TypeInstance SessionOperation =
    Instance("pinterface({9fc2b0bb-e446-44e2-aa61-9cab8f636af2};"
             "rc(Windows.Networking.Connectivity.ConnectionSession;{ff905d4c-f83b-41b0-8a0c-1462d9c56b73}))");
inline constexpr TypeInstance SessionCompletedHandler =
    Instance("pinterface({fcdcf02c-e5d8-4478-915a-4d90b74b83a5};"
             "rc(Windows.Networking.Connectivity.ConnectionSession;{ff905d4c-f83b-41b0-8a0c-1462d9c56b73}))");
} // namespace Instances

inline constexpr wchar_t ApnContextClass[] = L"Windows.Networking.Connectivity.CellularApnContext";
inline constexpr wchar_t ConnectivityManagerClass[] = L"Windows.Networking.Connectivity.ConnectivityManager";

} // namespace Pd::Platform::WinRt::Abi
