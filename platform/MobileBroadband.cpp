#include "platform/MobileBroadband.h"

#include "platform/mbn/AbiMbn.h"
#include "platform/mbn/ComValues.h"
#include "platform/mbn/EventSink.h"
#include "platform/RealServices.h"
#include "platform/winrt/Runtime.h"

#include <map>
#include <mutex>
#include <utility>

namespace Pd::Platform
{
namespace
{

using Mbn::TextOf;
using WinRt::Failed;
using WinRt::QueryAs;
namespace Abi = Mbn::Abi;

// A BSTR out of `object->*getter`, as text.
template <typename I>
Outcome<std::wstring> ReadText(I* object, HRESULT (STDMETHODCALLTYPE I::*getter)(BSTR*), const wchar_t* step)
{
    UniqueBstr value;
    if (HRESULT hr = (object->*getter)(value.Put()); FAILED(hr))
        return Failed(step, hr);
    return TextOf(value.Get());
}

template <typename T, typename I>
Outcome<T> ReadValue(I* object, HRESULT (STDMETHODCALLTYPE I::*getter)(T*), const wchar_t* step)
{
    T value{};
    if (HRESULT hr = (object->*getter)(&value); FAILED(hr))
        return Failed(step, hr);
    return value;
}

class ComRegistration final : public MbnRegistration
{
public:
    explicit ComRegistration(ComPtr<Abi::IMbnRegistration> registration)
        : registration_(std::move(registration))
    {
    }

    Outcome<std::uint32_t> GetRegisterState() override
    {
        auto state = ReadValue(registration_.Get(), &Abi::IMbnRegistration::GetRegisterState,
                               L"IMbnRegistration.GetRegisterState");
        if (!state)
            return std::unexpected(state.error());
        return static_cast<std::uint32_t>(*state);
    }
    Outcome<std::wstring> GetProviderId() override
    {
        return ReadText(registration_.Get(), &Abi::IMbnRegistration::GetProviderID,
                        L"IMbnRegistration.GetProviderID");
    }
    Outcome<std::wstring> GetProviderName() override
    {
        return ReadText(registration_.Get(), &Abi::IMbnRegistration::GetProviderName,
                        L"IMbnRegistration.GetProviderName");
    }
    Outcome<std::uint32_t> GetCurrentDataClass() override
    {
        return ReadValue(registration_.Get(), &Abi::IMbnRegistration::GetCurrentDataClass,
                         L"IMbnRegistration.GetCurrentDataClass");
    }

private:
    ComPtr<Abi::IMbnRegistration> registration_;
};

class ComSignal final : public MbnSignal
{
public:
    explicit ComSignal(ComPtr<Abi::IMbnSignal> signal) : signal_(std::move(signal)) {}

    Outcome<std::uint32_t> GetSignalStrength() override
    {
        return ReadValue(signal_.Get(), &Abi::IMbnSignal::GetSignalStrength, L"IMbnSignal.GetSignalStrength");
    }

private:
    ComPtr<Abi::IMbnSignal> signal_;
};

class ComSms final : public MbnSms
{
public:
    explicit ComSms(ComPtr<Abi::IMbnSms> sms) : sms_(std::move(sms)) {}

    Outcome<std::wstring> GetServiceCenterAddress() override
    {
        ComPtr<Abi::IMbnSmsConfiguration> configuration;
        if (HRESULT hr = sms_->GetSmsConfiguration(configuration.Put()); FAILED(hr))
            return Failed(L"IMbnSms.GetSmsConfiguration", hr);
        if (!configuration)
            return Failed(L"IMbnSms.GetSmsConfiguration", E_POINTER);
        return ReadText(configuration.Get(), &Abi::IMbnSmsConfiguration::get_ServiceCenterAddress,
                        L"IMbnSmsConfiguration.ServiceCenterAddress");
    }
    Outcome<std::uint32_t> SmsSendPdu(const std::wstring& pduData, std::uint8_t size) override
    {
        std::uint32_t requestId = 0;
        if (HRESULT hr = sms_->SmsSendPdu(pduData.c_str(), size, &requestId); FAILED(hr))
            return Failed(L"IMbnSms.SmsSendPdu", hr);
        return requestId;
    }
    Outcome<std::uint32_t> SmsRead(MbnSmsFilter filter, std::uint32_t format) override
    {
        const Abi::SmsFilter raw{static_cast<std::int32_t>(filter.flag), filter.messageIndex};
        std::uint32_t requestId = 0;
        if (HRESULT hr = sms_->SmsRead(&raw, static_cast<std::int32_t>(format), &requestId); FAILED(hr))
            return Failed(L"IMbnSms.SmsRead", hr);
        return requestId;
    }
    Outcome<std::uint32_t> SmsDelete(MbnSmsFilter filter) override
    {
        const Abi::SmsFilter raw{static_cast<std::int32_t>(filter.flag), filter.messageIndex};
        std::uint32_t requestId = 0;
        if (HRESULT hr = sms_->SmsDelete(&raw, &requestId); FAILED(hr))
            return Failed(L"IMbnSms.SmsDelete", hr);
        return requestId;
    }
    Outcome<MbnSmsStatus> GetSmsStatus() override
    {
        Abi::SmsStatusInfo status{};
        if (HRESULT hr = sms_->GetSmsStatus(&status); FAILED(hr))
            return Failed(L"IMbnSms.GetSmsStatus", hr);
        return MbnSmsStatus{status.flag, status.messageIndex};
    }

private:
    ComPtr<Abi::IMbnSms> sms_;
};

// Frees the texts a GetInterfaceCapability call gives.
struct InterfaceCapsOwner
{
    Abi::InterfaceCaps caps{};
    ~InterfaceCapsOwner()
    {
        for (BSTR text : {caps.customDataClass, caps.customBandClass, caps.deviceId, caps.manufacturer,
                          caps.model, caps.firmwareInfo})
            ::SysFreeString(text);
    }
};

class ComInterface final : public MbnInterface
{
public:
    explicit ComInterface(ComPtr<Abi::IMbnInterface> modem) : interface_(std::move(modem)) {}

    Outcome<std::uint32_t> GetReadyState() override
    {
        auto state =
            ReadValue(interface_.Get(), &Abi::IMbnInterface::GetReadyState, L"IMbnInterface.GetReadyState");
        if (!state)
            return std::unexpected(state.error());
        return static_cast<std::uint32_t>(*state);
    }
    Outcome<std::wstring> GetDeviceId() override
    {
        InterfaceCapsOwner owner;
        if (HRESULT hr = interface_->GetInterfaceCapability(&owner.caps); FAILED(hr))
            return Failed(L"IMbnInterface.GetInterfaceCapability", hr);
        return TextOf(owner.caps.deviceId);
    }
    Outcome<MbnSubscriberInformation> GetSubscriberInformation() override
    {
        ComPtr<Abi::IMbnSubscriberInformation> subscriber;
        if (HRESULT hr = interface_->GetSubscriberInformation(subscriber.Put()); FAILED(hr))
            return Failed(L"IMbnInterface.GetSubscriberInformation", hr);
        if (!subscriber)
            return Failed(L"IMbnInterface.GetSubscriberInformation", E_POINTER);
        MbnSubscriberInformation information;
        if (auto id = ReadText(subscriber.Get(), &Abi::IMbnSubscriberInformation::get_SubscriberID, L""))
            information.subscriberId = std::move(*id);
        if (auto iccid = ReadText(subscriber.Get(), &Abi::IMbnSubscriberInformation::get_SimIccID, L""))
            information.simIccId = std::move(*iccid);
        return information;
    }
    std::shared_ptr<MbnRegistration> Registration() override
    {
        auto registration = QueryAs<Abi::IMbnRegistration>(interface_.Get());
        return registration ? std::make_shared<ComRegistration>(std::move(registration)) : nullptr;
    }
    std::shared_ptr<MbnSignal> Signal() override
    {
        auto signal = QueryAs<Abi::IMbnSignal>(interface_.Get());
        return signal ? std::make_shared<ComSignal>(std::move(signal)) : nullptr;
    }
    std::shared_ptr<MbnSms> Sms() override
    {
        auto sms = QueryAs<Abi::IMbnSms>(interface_.Get());
        return sms ? std::make_shared<ComSms>(std::move(sms)) : nullptr;
    }

private:
    ComPtr<Abi::IMbnInterface> interface_;
};

class ComManager final : public MbnInterfaceManager
{
public:
    explicit ComManager(ComPtr<Abi::IMbnInterfaceManager> manager) : manager_(std::move(manager)) {}

    ~ComManager() override
    {
        std::map<Key, std::unique_ptr<Mbn::Advice>> left;
        {
            std::lock_guard lock(mutex_);
            left.swap(advices_);
        }
    }

    Outcome<std::vector<std::shared_ptr<MbnInterface>>> GetInterfaces() override
    {
        const wchar_t* step = L"IMbnInterfaceManager.GetInterfaces";
        Mbn::UniqueSafeArray array;
        if (HRESULT hr = manager_->GetInterfaces(array.Put()); FAILED(hr))
            return Failed(step, hr);
        auto elements = Mbn::InterfacesIn(array.Get(), step);
        if (!elements)
            return std::unexpected(elements.error());
        std::vector<std::shared_ptr<MbnInterface>> interfaces;
        for (const ComPtr<IUnknown>& element : *elements)
        {
            auto modem = QueryAs<Abi::IMbnInterface>(element.Get());
            interfaces.push_back(modem ? std::make_shared<ComInterface>(std::move(modem)) : nullptr);
        }
        return interfaces;
    }

    Outcome<std::uint32_t> Advise(MbnEventFamily family, std::shared_ptr<MbnEvents> sink) override
    {
        auto advice = Mbn::AdviseSink(manager_.Get(), family, std::move(sink));
        if (!advice)
            return std::unexpected(advice.error());
        const DWORD cookie = (*advice)->Cookie();
        std::unique_ptr<Mbn::Advice> replaced;
        std::lock_guard lock(mutex_);
        replaced = std::exchange(advices_[{family, cookie}], std::move(*advice));
        return cookie;
    }

    void Unadvise(MbnEventFamily family, std::uint32_t cookie) override
    {
        std::unique_ptr<Mbn::Advice> advice;
        {
            std::lock_guard lock(mutex_);
            auto found = advices_.find({family, cookie});
            if (found == advices_.end())
                return;
            advice = std::move(found->second);
            advices_.erase(found);
        }
        // Unadvised and detached here, outside the lock: an event running now may advise or
        // unadvise itself.
    }

private:
    using Key = std::pair<MbnEventFamily, std::uint32_t>;

    ComPtr<Abi::IMbnInterfaceManager> manager_;
    std::mutex mutex_;
    std::map<Key, std::unique_ptr<Mbn::Advice>> advices_;
};

} // namespace

Outcome<std::shared_ptr<MbnInterfaceManager>> Real::MobileBroadband()
{
    WinRt::EnsureApartment();
    ComPtr<Abi::IMbnInterfaceManager> manager;
    if (HRESULT hr = ::CoCreateInstance(Abi::ClsidInterfaceManager, nullptr, CLSCTX_ALL,
                                        Abi::IMbnInterfaceManager::Iid, manager.PutVoid());
        FAILED(hr))
        return Failed(L"CoCreateInstance(MbnInterfaceManager)", hr);
    if (!manager)
        return Failed(L"CoCreateInstance(MbnInterfaceManager)", E_POINTER);
    return std::make_shared<ComManager>(std::move(manager));
}

} // namespace Pd::Platform
