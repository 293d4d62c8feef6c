// Our Mobile Broadband event sink: one COM object answering IMbnSmsEvents, IMbnSignalEvents and
// IMbnRegistrationEvents, which forwards each event to an MbnEvents on the service's thread; and
// the owner of one advice of it on a family's connection point.
#pragma once

#include "core/CallbackGate.h"
#include "core/Handles.h"
#include "platform/mbn/AbiMbn.h"
#include "platform/MobileBroadband.h"

#include <ocidl.h>

#include <atomic>
#include <memory>

namespace Pd::Platform::Mbn
{

class EventSink final : public Abi::IMbnSmsEvents,
                        public Abi::IMbnSignalEvents,
                        public Abi::IMbnRegistrationEvents
{
public:
    static ComPtr<EventSink> Make(std::shared_ptr<MbnEvents> events);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE OnSmsConfigurationChange(Abi::IMbnSms*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnSetSmsConfigurationComplete(Abi::IMbnSms*, std::uint32_t, HRESULT) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnSmsSendComplete(Abi::IMbnSms*, std::uint32_t requestId,
                                                HRESULT status) override;
    HRESULT STDMETHODCALLTYPE OnSmsReadComplete(Abi::IMbnSms*, std::int32_t format, SAFEARRAY* messages,
                                                VARIANT_BOOL moreMessages, std::uint32_t requestId,
                                                HRESULT status) override;
    HRESULT STDMETHODCALLTYPE OnSmsNewClass0Message(Abi::IMbnSms*, std::int32_t format,
                                                    SAFEARRAY* messages) override;
    HRESULT STDMETHODCALLTYPE OnSmsDeleteComplete(Abi::IMbnSms*, std::uint32_t requestId,
                                                  HRESULT status) override;
    HRESULT STDMETHODCALLTYPE OnSmsStatusChange(Abi::IMbnSms*) override;

    HRESULT STDMETHODCALLTYPE OnSignalStateChange(Abi::IMbnSignal*) override;

    HRESULT STDMETHODCALLTYPE OnRegisterModeAvailable(Abi::IMbnRegistration*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnRegisterStateChange(Abi::IMbnRegistration*) override;
    HRESULT STDMETHODCALLTYPE OnPacketServiceStateChange(Abi::IMbnRegistration*) override;
    HRESULT STDMETHODCALLTYPE OnSetRegisterModeComplete(Abi::IMbnRegistration*, std::uint32_t,
                                                        HRESULT) override
    {
        return S_OK;
    }

    // No event reaches the MbnEvents once this returns: one running on another thread is waited
    // for (one running on this thread, which is detaching from inside it, is not). Then the sink
    // lets go of the MbnEvents.
    void Detach();

private:
    explicit EventSink(std::shared_ptr<MbnEvents> events) : events_(std::move(events)) {}
    ~EventSink() = default;

    // Runs `forward` with the MbnEvents unless detached; never lets an exception out.
    template <typename Forward> HRESULT Deliver(Forward&& forward);

    std::atomic<ULONG> references_{1};
    std::shared_ptr<MbnEvents> events_; // let go by Detach once the gate is closed
    Core::CallbackGate gate_;
};

// One advice of a sink on a connection point. Destroying it unadvises (by its cookie) and then
// detaches the sink, so that no event reaches the sink's MbnEvents afterwards.
class Advice
{
public:
    Advice(ComPtr<IConnectionPoint> point, DWORD cookie, ComPtr<EventSink> sink)
        : point_(std::move(point)), cookie_(cookie), sink_(std::move(sink))
    {
    }
    Advice(const Advice&) = delete;
    Advice& operator=(const Advice&) = delete;
    ~Advice();

    DWORD Cookie() const noexcept { return cookie_; }

private:
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_;
    ComPtr<EventSink> sink_;
};

// Advises a new sink forwarding to `events` on the connection point of `family` that `container`
// (the interface manager) gives.
Outcome<std::unique_ptr<Advice>> AdviseSink(IUnknown* container, MbnEventFamily family,
                                            std::shared_ptr<MbnEvents> events);

} // namespace Pd::Platform::Mbn
