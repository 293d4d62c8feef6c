#include "platform/CellularApn.h"

#include "platform/RealServices.h"
#include "platform/winrt/AbiConnectivity.h"
#include "platform/winrt/Async.h"
#include "platform/winrt/HString.h"
#include "platform/winrt/Runtime.h"

namespace Pd::Platform
{
namespace
{

using namespace WinRt;

class WinRtSession final : public ConnectionSession
{
public:
    explicit WinRtSession(ComPtr<Abi::IConnectionSession> session) : session_(std::move(session)) {}

    Outcome<std::optional<GUID>> NetworkAdapterId() override
    {
        ComPtr<Abi::IConnectionProfile> profile;
        if (HRESULT hr = session_->get_ConnectionProfile(profile.Put()); FAILED(hr))
            return Failed(L"ConnectionSession.ConnectionProfile", hr);
        if (!profile)
            return std::optional<GUID>();
        ComPtr<Abi::INetworkAdapter> adapter;
        if (HRESULT hr = profile->get_NetworkAdapter(adapter.Put()); FAILED(hr))
            return Failed(L"ConnectionProfile.NetworkAdapter", hr);
        if (!adapter)
            return std::optional<GUID>();
        GUID id{};
        if (HRESULT hr = adapter->get_NetworkAdapterId(&id); FAILED(hr))
            return Failed(L"NetworkAdapter.NetworkAdapterId", hr);
        return id;
    }

    Outcome<> Close() override
    {
        auto closable = QueryAs<Abi::IClosable>(session_.Get());
        if (!closable)
            return Failed(L"ConnectionSession.Close", E_NOINTERFACE);
        if (HRESULT hr = closable->Close(); FAILED(hr))
            return Failed(L"ConnectionSession.Close", hr);
        return {};
    }

private:
    ComPtr<Abi::IConnectionSession> session_;
};

// The context with the properties this program sets, in the order Windows is given them.
Outcome<ComPtr<Abi::ICellularApnContext>> MakeContext(const ApnContext& settings)
{
    auto context = Activate<Abi::ICellularApnContext>(Abi::ApnContextClass);
    if (!context)
        return std::unexpected(context.error());
    Abi::ICellularApnContext* raw = context->Get();
    const struct
    {
        const wchar_t* step;
        const std::wstring& text;
        HRESULT (STDMETHODCALLTYPE Abi::ICellularApnContext::*put)(HSTRING);
    } texts[] = {
        {L"CellularApnContext.AccessPointName", settings.accessPointName,
         &Abi::ICellularApnContext::put_AccessPointName},
        {L"CellularApnContext.UserName", settings.userName, &Abi::ICellularApnContext::put_UserName},
        {L"CellularApnContext.Password", settings.password, &Abi::ICellularApnContext::put_Password},
    };
    for (const auto& text : texts)
    {
        auto value = HString::Make(text.text);
        if (!value)
            return std::unexpected(value.error());
        if (HRESULT hr = (raw->*text.put)(value->Get()); FAILED(hr))
            return Failed(text.step, hr);
    }
    if (HRESULT hr = raw->put_AuthenticationType(static_cast<std::int32_t>(settings.authenticationType));
        FAILED(hr))
        return Failed(L"CellularApnContext.AuthenticationType", hr);
    return context;
}

class WinRtConnectivity final : public CellularConnectivity
{
public:
    Outcome<std::unique_ptr<ConnectionSession>> AcquireConnection(const ApnContext& settings,
                                                                  std::stop_token stop) override
    {
        const std::wstring step = L"ConnectivityManager.AcquireConnectionAsync";
        auto context = MakeContext(settings);
        if (!context)
            return std::unexpected(context.error());
        auto statics = Factory<Abi::IConnectivityManagerStatics>(Abi::ConnectivityManagerClass);
        if (!statics)
            return std::unexpected(statics.error());
        ComPtr<Abi::SessionOperation> operation;
        if (HRESULT hr = (*statics)->AcquireConnectionAsync(context->Get(), operation.Put());
            FAILED(hr) || !operation)
            return Failed(step, FAILED(hr) ? hr : E_POINTER);
        ComPtr<Abi::IConnectionSession> session;
        if (auto ended = Await(operation.Get(), Abi::Instances::SessionCompletedHandler.iid, session.Put(),
                               stop, step);
            !ended)
            return std::unexpected(ended.error());
        if (!session)
            return std::unique_ptr<ConnectionSession>();
        return std::make_unique<WinRtSession>(std::move(session));
    }
};

} // namespace

std::shared_ptr<CellularConnectivity> Real::CellularConnections()
{
    static const auto connections = std::make_shared<WinRtConnectivity>();
    return connections;
}

} // namespace Pd::Platform
