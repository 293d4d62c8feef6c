#include "tel/modem/WindowsModem.h"

#include "core/Strings.h"
#include "tel/modem/Sink.h"
#include "tel/modem/StateMapping.h"

namespace Pd::Tel
{

std::unique_ptr<Modem> Modem::Open()
{
    return WindowsModem::OpenFirst();
}

std::unique_ptr<WindowsModem> WindowsModem::OpenFirst()
{
    auto manager = Platform::MobileBroadband();
    if (!manager || !*manager)
        return nullptr;
    auto interfaces = (*manager)->GetInterfaces();
    if (!interfaces)
        return nullptr;
    std::shared_ptr<Platform::MbnInterface> first;
    for (auto& candidate : *interfaces)
        if (candidate)
        {
            first = std::move(candidate);
            break;
        }
    if (!first)
        return nullptr;
    std::shared_ptr<Platform::MbnSms> sms = first->Sms();
    if (!sms)
        return nullptr;
    return std::make_unique<WindowsModem>(std::move(*manager), std::move(first), std::move(sms));
}

WindowsModem::WindowsModem(std::shared_ptr<Platform::MbnInterfaceManager> manager,
                           std::shared_ptr<Platform::MbnInterface> modemInterface,
                           std::shared_ptr<Platform::MbnSms> sms)
    : manager_(std::move(manager)), interface_(std::move(modemInterface)),
      registration_(interface_->Registration()), signal_(interface_->Signal()), sms_(std::move(sms))
{
}

WindowsModem::~WindowsModem()
{
    Close();
}

void WindowsModem::Close()
{
    if (!manager_)
        return;
    {
        std::lock_guard lock(shared_->lock);
        shared_->closed = true;
    }
    DisconnectSinks();
    if (routerRegistration_)
        (void)routerRegistration_->Unregister(); // a failure leaves nothing to do
    routerRegistration_.reset();
    advices_.clear();
    sink_.reset();
    shared_.reset();
    sms_.reset();
    signal_.reset();
    registration_.reset();
    interface_.reset();
    manager_.reset();
}

ModemState WindowsModem::ReadState()
{
    ModemState state;
    if (!interface_)
        return state;
    if (auto ready = interface_->GetReadyState())
        state.simReady = *ready == Platform::MbnReadyStateInitialized;
    if (auto deviceId = interface_->GetDeviceId())
        state.imei = Core::ToUtf8(*deviceId);
    if (state.simReady)
        if (auto subscriber = interface_->GetSubscriberInformation())
        {
            state.imsi = Core::ToUtf8(subscriber->subscriberId.value_or(L""));
            state.iccid = Core::ToUtf8(subscriber->simIccId.value_or(L""));
        }
    if (registration_)
    {
        if (auto registerState = registration_->GetRegisterState())
            state.registration = RegistrationStatus(*registerState);
        if (auto id = registration_->GetProviderId())
            state.providerId = Core::ToUtf8(*id);
        if (auto name = registration_->GetProviderName())
            state.providerName = Core::ToUtf8(*name);
        if (auto dataClass = registration_->GetCurrentDataClass())
            state.accessTechnology = AccessTechnology(*dataClass);
    }
    if (signal_)
        if (auto strength = signal_->GetSignalStrength())
            state.signal = SignalQuality(*strength);
    if (auto centre = sms_->GetServiceCenterAddress())
        state.serviceCentre = Core::ToUtf8(*centre);
    return state;
}

void WindowsModem::SetMessageHandler(Handlers handlers)
{
    if (!manager_)
        return;
    {
        std::lock_guard lock(shared_->lock);
        shared_->messageHandler = std::move(handlers.onMessage);
        shared_->changeHandler = std::move(handlers.onChange);
        shared_->handed.clear();
        for (KeptNotice& notice : shared_->keptNotices)
            notice.delivered = false;
    }
    sink_ = std::make_shared<Sink>(shared_, sms_);
    for (auto family : {Platform::MbnEventFamily::Sms, Platform::MbnEventFamily::Signal,
                        Platform::MbnEventFamily::Registration})
        if (auto cookie = manager_->Advise(family, sink_))
            advices_.push_back({family, *cookie});
}

void WindowsModem::DisconnectSinks()
{
    if (!manager_)
        return;
    for (const Advice& advice : advices_)
        manager_->Unadvise(advice.family, advice.cookie);
    advices_.clear();
    sink_.reset();
    // An event that took a handler before this point may still be running it: wait, so that no
    // handler runs once the session that gave it has gone.
    std::unique_lock lock(shared_->lock);
    shared_->messageHandler = nullptr;
    shared_->changeHandler = nullptr;
    shared_->handlerDone.wait(lock, [this] { return shared_->handlerCalls == 0; });
}

} // namespace Pd::Tel
