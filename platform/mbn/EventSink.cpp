#include "platform/mbn/EventSink.h"

#include "platform/mbn/ComValues.h"
#include "platform/winrt/Runtime.h"

#include <new>

namespace Pd::Platform::Mbn
{
namespace
{

// The elements of a read's message array, as IMbnSmsReadMsgPdu answers for each.
std::vector<MbnSmsMessage> MessagesIn(SAFEARRAY* array)
{
    std::vector<MbnSmsMessage> messages;
    auto elements = InterfacesIn(array, L"IMbnSmsEvents message array");
    if (!elements)
        return messages;
    for (const ComPtr<IUnknown>& element : *elements)
    {
        MbnSmsMessage& message = messages.emplace_back();
        auto pdu = WinRt::QueryAs<Abi::IMbnSmsReadMsgPdu>(element.Get());
        if (!pdu)
        {
            message.isPdu = false;
            continue;
        }
        if (std::uint32_t index = 0; SUCCEEDED(pdu->get_Index(&index)))
            message.index = index;
        if (std::int32_t status = 0; SUCCEEDED(pdu->get_Status(&status)))
            message.status = static_cast<std::uint32_t>(status);
        UniqueBstr data;
        if (SUCCEEDED(pdu->get_PduData(data.Put())))
            message.pduData = TextOf(data.Get());
    }
    return messages;
}

const GUID& IidOf(MbnEventFamily family)
{
    switch (family)
    {
    case MbnEventFamily::Sms:
        return Abi::IMbnSmsEvents::Iid;
    case MbnEventFamily::Signal:
        return Abi::IMbnSignalEvents::Iid;
    case MbnEventFamily::Registration:
        break;
    }
    return Abi::IMbnRegistrationEvents::Iid;
}

} // namespace

ComPtr<EventSink> EventSink::Make(std::shared_ptr<MbnEvents> events)
{
    return ComPtr<EventSink>::Attach(new (std::nothrow) EventSink(std::move(events)));
}

HRESULT STDMETHODCALLTYPE EventSink::QueryInterface(REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == Abi::IMbnSmsEvents::Iid)
        *out = static_cast<Abi::IMbnSmsEvents*>(this);
    else if (iid == Abi::IMbnSignalEvents::Iid)
        *out = static_cast<Abi::IMbnSignalEvents*>(this);
    else if (iid == Abi::IMbnRegistrationEvents::Iid)
        *out = static_cast<Abi::IMbnRegistrationEvents*>(this);
    else
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE EventSink::AddRef()
{
    return ++references_;
}

ULONG STDMETHODCALLTYPE EventSink::Release()
{
    const ULONG left = --references_;
    if (left == 0)
        delete this;
    return left;
}

template <typename Forward> HRESULT EventSink::Deliver(Forward&& forward)
{
    gate_.Run([&] {
        // Held while the event is forwarded, even when it detaches this sink from inside.
        if (std::shared_ptr<MbnEvents> events = events_)
            forward(*events);
    });
    return S_OK;
}

void EventSink::Detach()
{
    gate_.Close();
    // A callback still running (on this thread, detaching from inside) holds its own reference.
    events_.reset();
}

HRESULT STDMETHODCALLTYPE EventSink::OnSmsSendComplete(Abi::IMbnSms*, std::uint32_t requestId, HRESULT status)
{
    return Deliver([&](MbnEvents& events) { events.OnSmsSendComplete(requestId, status); });
}

HRESULT STDMETHODCALLTYPE EventSink::OnSmsReadComplete(Abi::IMbnSms*, std::int32_t format,
                                                       SAFEARRAY* messages, VARIANT_BOOL moreMessages,
                                                       std::uint32_t requestId, HRESULT status)
{
    return Deliver([&](MbnEvents& events) {
        events.OnSmsReadComplete(static_cast<std::uint32_t>(format), MessagesIn(messages),
                                 moreMessages != VARIANT_FALSE, requestId, status);
    });
}

HRESULT STDMETHODCALLTYPE EventSink::OnSmsNewClass0Message(Abi::IMbnSms*, std::int32_t format,
                                                           SAFEARRAY* messages)
{
    return Deliver([&](MbnEvents& events) {
        events.OnSmsNewClass0Message(static_cast<std::uint32_t>(format), MessagesIn(messages));
    });
}

HRESULT STDMETHODCALLTYPE EventSink::OnSmsDeleteComplete(Abi::IMbnSms*, std::uint32_t requestId,
                                                         HRESULT status)
{
    return Deliver([&](MbnEvents& events) { events.OnSmsDeleteComplete(requestId, status); });
}

HRESULT STDMETHODCALLTYPE EventSink::OnSmsStatusChange(Abi::IMbnSms*)
{
    return Deliver([](MbnEvents& events) { events.OnSmsStatusChange(); });
}

HRESULT STDMETHODCALLTYPE EventSink::OnSignalStateChange(Abi::IMbnSignal*)
{
    return Deliver([](MbnEvents& events) { events.OnSignalStateChange(); });
}

HRESULT STDMETHODCALLTYPE EventSink::OnRegisterStateChange(Abi::IMbnRegistration*)
{
    return Deliver([](MbnEvents& events) { events.OnRegisterStateChange(); });
}

HRESULT STDMETHODCALLTYPE EventSink::OnPacketServiceStateChange(Abi::IMbnRegistration*)
{
    return Deliver([](MbnEvents& events) { events.OnPacketServiceStateChange(); });
}

Advice::~Advice()
{
    point_->Unadvise(cookie_);
    sink_->Detach();
}

Outcome<std::unique_ptr<Advice>> AdviseSink(IUnknown* container, MbnEventFamily family,
                                            std::shared_ptr<MbnEvents> events)
{
    const std::wstring step = L"IConnectionPoint.Advise";
    auto points = WinRt::QueryAs<IConnectionPointContainer>(container, IID_IConnectionPointContainer);
    if (!points)
        return WinRt::Failed(step, E_NOINTERFACE);
    ComPtr<IConnectionPoint> point;
    if (HRESULT hr = points->FindConnectionPoint(IidOf(family), point.Put()); FAILED(hr))
        return WinRt::Failed(L"IConnectionPointContainer.FindConnectionPoint", hr);
    if (!point)
        return WinRt::Failed(L"IConnectionPointContainer.FindConnectionPoint", E_POINTER);
    ComPtr<EventSink> sink = EventSink::Make(std::move(events));
    if (!sink)
        return WinRt::Failed(step, E_OUTOFMEMORY);
    DWORD cookie = 0;
    if (HRESULT hr = point->Advise(static_cast<Abi::IMbnSmsEvents*>(sink.Get()), &cookie); FAILED(hr))
    {
        sink->Detach();
        return WinRt::Failed(step, hr);
    }
    return std::make_unique<Advice>(std::move(point), cookie, std::move(sink));
}

} // namespace Pd::Platform::Mbn
