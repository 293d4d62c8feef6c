// The real LE device's GATT session (GattSession.FromDeviceIdAsync) and its pairing through
// DeviceInformation.Pairing, Windows' ordinary pairing with its own prompt to the user.
#include "platform/BluetoothGattWinRt.h"
#include "platform/RealServices.h"
#include "platform/winrt/AbiConnectivity.h"
#include "platform/winrt/Async.h"
#include "platform/winrt/Runtime.h"

namespace Pd::Platform::Real::Gatt
{
namespace
{

using namespace WinRt;

class WinRtSession final : public GattSession
{
public:
    explicit WinRtSession(ComPtr<Abi::IGattSession> session) : session_(std::move(session)) {}

    ~WinRtSession() override
    {
        subscriptions_.reset(); // no handler outlives the session
        if (auto closable = QueryAs<Abi::IClosable>(session_.Get()))
            closable->Close();
    }

    Outcome<> SetMaintainConnection(bool maintain) override
    {
        if (HRESULT hr = session_->put_MaintainConnection(maintain ? 1 : 0); FAILED(hr))
            return Failed(L"GattSession.MaintainConnection", hr);
        return {};
    }

    Outcome<GattSessionStatus> SessionStatus() override
    {
        std::int32_t status = 0;
        if (HRESULT hr = session_->get_SessionStatus(&status); FAILED(hr))
            return Failed(L"GattSession.SessionStatus", hr);
        return static_cast<GattSessionStatus>(status);
    }

    Outcome<std::int64_t> AddSessionStatusChanged(GattSessionStatusHandler handler) override
    {
        const std::wstring step = L"GattSession.SessionStatusChanged";
        return subscriptions_->Keep(Subscribe(
            Abi::Instances::SessionStatusChangedHandler.iid,
            [handler = std::move(handler)](IInspectable*, IInspectable* args) {
                auto changed = QueryAs<Abi::IGattSessionStatusChangedEventArgs>(args);
                std::int32_t status = 0;
                if (changed && SUCCEEDED(changed->get_Status(&status)))
                    handler(static_cast<GattSessionStatus>(status));
            },
            [&](Abi::ITypedEventHandler* typed, Abi::EventToken* token) {
                return session_->add_SessionStatusChanged(typed, token);
            },
            [session = session_.Get()](Abi::EventToken token) {
                return session->remove_SessionStatusChanged(token);
            },
            step));
    }

    void RemoveSessionStatusChanged(std::int64_t token) override { subscriptions_->Remove(token); }

private:
    ComPtr<Abi::IGattSession> session_;
    // Destroyed first: each removal calls the session.
    std::unique_ptr<Subscriptions> subscriptions_ = std::make_unique<Subscriptions>();
};

class WinRtPairing final : public DeviceInformationPairing
{
public:
    explicit WinRtPairing(ComPtr<Abi::IDeviceInformationPairing> pairing) : pairing_(std::move(pairing)) {}

    Outcome<bool> IsPaired() override
    {
        return Flag(&Abi::IDeviceInformationPairing::get_IsPaired, L"IsPaired");
    }
    Outcome<bool> CanPair() override
    {
        return Flag(&Abi::IDeviceInformationPairing::get_CanPair, L"CanPair");
    }

    // Windows' ordinary pairing: Windows shows its own prompt and the user confirms the device.
    // Nothing here accepts a pairing on the user's behalf.
    Outcome<std::int32_t> PairAsync(std::stop_token stop) override
    {
        const std::wstring step = L"DeviceInformationPairing.PairAsync";
        ComPtr<Abi::PairingOperation> operation;
        if (HRESULT hr = pairing_->PairAsync(operation.Put()); FAILED(hr) || !operation)
            return Failed(step, FAILED(hr) ? hr : E_POINTER);
        ComPtr<Abi::IDevicePairingResult> result;
        if (auto ended =
                Await(operation.Get(), Abi::Instances::PairingCompletedHandler.iid, result.Put(), stop, step);
            !ended)
            return std::unexpected(ended.error());
        std::int32_t status = 0;
        if (!result)
            return Failed(step, E_POINTER);
        if (HRESULT hr = result->get_Status(&status); FAILED(hr))
            return Failed(step, hr);
        return status;
    }

private:
    Outcome<bool> Flag(HRESULT (STDMETHODCALLTYPE Abi::IDeviceInformationPairing::*get)(Abi::Boolean*),
                       const wchar_t* name)
    {
        Abi::Boolean value = 0;
        if (HRESULT hr = (pairing_.Get()->*get)(&value); FAILED(hr))
            return Failed(std::wstring(L"DeviceInformationPairing.") + name, hr);
        return value != 0;
    }

    ComPtr<Abi::IDeviceInformationPairing> pairing_;
};

} // namespace

Outcome<std::shared_ptr<GattSession>> OpenSession(IInspectable* deviceId, std::stop_token stop)
{
    const std::wstring step = L"GattSession.FromDeviceIdAsync";
    auto statics = Factory<Abi::IGattSessionStatics>(Abi::GattSessionClass);
    if (!statics)
        return std::unexpected(statics.error());
    ComPtr<Abi::GattSessionOperation> operation;
    if (HRESULT hr = (*statics)->FromDeviceIdAsync(deviceId, operation.Put()); FAILED(hr) || !operation)
        return Failed(step, FAILED(hr) ? hr : E_POINTER);
    ComPtr<Abi::IGattSession> session;
    if (auto ended = Await(operation.Get(), Abi::Instances::GattSessionCompletedHandler.iid, session.Put(),
                           stop, step);
        !ended)
        return std::unexpected(ended.error());
    if (!session)
        return Failed(step, E_POINTER);
    return std::make_shared<WinRtSession>(std::move(session));
}

Outcome<std::shared_ptr<DeviceInformationPairing>> PairingOf(WinRt::Abi::IBluetoothLEDevice2* device)
{
    const std::wstring step = L"DeviceInformation.Pairing";
    ComPtr<Abi::IDeviceInformation> information;
    if (HRESULT hr = device->get_DeviceInformation(information.Put()); FAILED(hr) || !information)
        return Failed(step, FAILED(hr) ? hr : E_POINTER);
    auto information2 = QueryAs<Abi::IDeviceInformation2>(information.Get());
    if (!information2)
        return Failed(step, E_NOINTERFACE);
    ComPtr<Abi::IDeviceInformationPairing> pairing;
    if (HRESULT hr = information2->get_Pairing(pairing.Put()); FAILED(hr) || !pairing)
        return Failed(step, FAILED(hr) ? hr : E_POINTER);
    return std::make_shared<WinRtPairing>(std::move(pairing));
}

} // namespace Pd::Platform::Real::Gatt
