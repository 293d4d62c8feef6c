// A test Mobile Broadband service: the interface manager class (classic COM, reached through
// DllGetClassObject), its modem interface with registration, signal and SMS parts, and the three
// event connection points. Scripted through the environment:
// - PD_TEST_MBN_MODEM: "imei|imsi|iccid|ready state|register state|provider id|provider name|
//   data class|signal|service centre|status flag|status index";
// - PD_TEST_MBN_INTERFACES: the array's elements, comma-separated: "modem", "other" (no
//   IMbnInterface), "null"; "none" for an empty array (default: one modem);
// - PD_TEST_MBN_FAIL: "<method> <hex>,..." methods that fail with the code;
// - PD_TEST_MBN_MISSING: "registration", "signal", "sms": parts the modem does not answer;
// - PD_TEST_MBN_STORE: "index:status:pdu;..." the message store ("cdma" is an element that is no
//   PDU message); PD_TEST_MBN_SEND: the hex status sends complete with;
// - PD_TEST_MBN_FIRE: on every Advise, the family's event from another thread; on every Unadvise,
//   a late one from another thread to the sink just removed (a call that took it before), noted
//   as "Late call <family>" once it returned;
// - PD_TEST_UNREGISTERED=MbnInterfaceManager: the class is refused as unregistered.
// Every call is noted in PD_TEST_CALLS.
#include "core/Handles.h"
#include "platform/mbn/AbiMbn.h"
#include "tests/support/winrt-classes/Scripting.h"

#include <ocidl.h>
#include <olectl.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace Pd::TestClasses
{
namespace
{

namespace Mbn = Platform::Mbn::Abi;

template <typename I> GUID IidOf()
{
    if constexpr (requires { I::Iid; })
        return I::Iid;
    else
        return __uuidof(I);
}

// Reference counting and QueryInterface for an object answering each of `Is`.
template <typename First, typename... Rest> class Object : public First, public Rest...
{
public:
    virtual ~Object() = default;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IidOf<First>())
            *out = static_cast<First*>(this);
        ((*out == nullptr && iid == IidOf<Rest>() && (*out = static_cast<Rest*>(this))), ...);
        if (*out)
            static_cast<IUnknown*>(*out)->AddRef();
        else if (!(*out = Other(iid)))
            return E_NOINTERFACE;
        return S_OK;
    }

protected:
    // Another object answering `iid`, with the caller's reference; or null.
    virtual void* Other(REFIID) { return nullptr; }

private:
    std::atomic<ULONG> references_{1};
};

std::wstring Field(std::size_t index)
{
    const std::vector<std::wstring> fields = Split(Script(L"PD_TEST_MBN_MODEM"), L'|');
    return index < fields.size() ? fields[index] : std::wstring();
}

std::uint32_t Number(std::size_t index, int base = 10)
{
    return static_cast<std::uint32_t>(std::wcstoul(Field(index).c_str(), nullptr, base));
}

// The failure PD_TEST_MBN_FAIL scripts for `method`, after noting the call.
HRESULT Call(const std::wstring& method, const std::wstring& detail = L"")
{
    Note(detail.empty() ? method : method + L" " + detail);
    for (const std::wstring& entry : Split(Script(L"PD_TEST_MBN_FAIL"), L','))
        if (entry.starts_with(method + L" "))
            return static_cast<HRESULT>(std::wcstoul(entry.c_str() + method.size() + 1, nullptr, 16));
    return S_OK;
}

bool Missing(const wchar_t* part)
{
    return Script(L"PD_TEST_MBN_MISSING").find(part) != std::wstring::npos;
}

HRESULT Text(const std::wstring& method, std::size_t field, BSTR* value)
{
    *value = nullptr;
    if (HRESULT hr = Call(method); FAILED(hr))
        return hr;
    *value = ::SysAllocString(Field(field).c_str());
    return S_OK;
}

template <typename T> HRESULT Value(const std::wstring& method, std::size_t field, T* value, int base = 10)
{
    *value = 0;
    if (HRESULT hr = Call(method); FAILED(hr))
        return hr;
    *value = static_cast<T>(Number(field, base));
    return S_OK;
}

// Runs `work` 20 ms from now on a thread of its own.
void Later(std::function<void()> work)
{
    std::thread([work = std::move(work)] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        work();
    }).detach();
}

// The sinks advised on one connection point.
class ConnectionPoint final : public Object<IConnectionPoint>
{
public:
    ConnectionPoint(GUID iid, const wchar_t* family) : iid_(iid), family_(family) {}

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override
    {
        *iid = iid_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override
    {
        *container = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override
    {
        *cookie = 0;
        if (HRESULT hr = Call(L"Advise", family_); FAILED(hr))
            return hr;
        IUnknown* events = nullptr;
        if (!sink || FAILED(sink->QueryInterface(iid_, reinterpret_cast<void**>(&events))))
            return CONNECT_E_CANNOTCONNECT;
        std::lock_guard lock(mutex_);
        *cookie = ++lastCookie_;
        sinks_.push_back({*cookie, events});
        if (!Script(L"PD_TEST_MBN_FIRE").empty())
            Later([self = Keep()] { self->Fire(self->fire_); });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override
    {
        Note(L"Unadvise " + family_);
        IUnknown* removed = nullptr;
        {
            std::lock_guard lock(mutex_);
            for (auto it = sinks_.begin(); it != sinks_.end(); ++it)
                if (it->first == cookie)
                {
                    removed = it->second;
                    sinks_.erase(it);
                    break;
                }
        }
        if (!removed)
            return CONNECT_E_NOCONNECTION;
        if (Script(L"PD_TEST_MBN_FIRE").empty())
            removed->Release();
        else // a call that took the sink before it was removed, arriving late
            std::thread([this, removed, self = Keep()] {
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
                fire_(removed);
                removed->Release();
                Note(L"Late call " + family_);
            }).detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override
    {
        *connections = nullptr;
        return E_NOTIMPL;
    }

    // Calls `event` on every sink advised now, on this thread.
    void Fire(const std::function<void(IUnknown*)>& event)
    {
        std::vector<IUnknown*> sinks;
        {
            std::lock_guard lock(mutex_);
            for (auto& [cookie, sink] : sinks_)
            {
                sink->AddRef();
                sinks.push_back(sink);
            }
        }
        for (IUnknown* sink : sinks)
        {
            event(sink);
            sink->Release();
        }
    }

    // The event a late call delivers.
    void SetLateEvent(std::function<void(IUnknown*)> fire) { fire_ = std::move(fire); }

    ComPtr<ConnectionPoint> Keep()
    {
        AddRef();
        return ComPtr<ConnectionPoint>::Attach(this);
    }

private:
    ~ConnectionPoint() override
    {
        for (auto& [cookie, sink] : sinks_)
            sink->Release();
    }

    GUID iid_;
    std::wstring family_;
    std::mutex mutex_;
    std::vector<std::pair<DWORD, IUnknown*>> sinks_;
    DWORD lastCookie_ = 0;
    std::function<void(IUnknown*)> fire_;
};

// What the parts of one manager share: its three connection points.
struct Hub
{
    ComPtr<ConnectionPoint> sms =
        ComPtr<ConnectionPoint>::Attach(new ConnectionPoint(Mbn::IMbnSmsEvents::Iid, L"sms"));
    ComPtr<ConnectionPoint> signal =
        ComPtr<ConnectionPoint>::Attach(new ConnectionPoint(Mbn::IMbnSignalEvents::Iid, L"signal"));
    ComPtr<ConnectionPoint> registration = ComPtr<ConnectionPoint>::Attach(
        new ConnectionPoint(Mbn::IMbnRegistrationEvents::Iid, L"registration"));
};

void SignalChanged(IUnknown* sink)
{
    static_cast<Mbn::IMbnSignalEvents*>(sink)->OnSignalStateChange(nullptr);
}

class SubscriberInformation final : public Object<Mbn::IMbnSubscriberInformation>
{
public:
    HRESULT STDMETHODCALLTYPE get_SubscriberID(BSTR* value) override
    {
        return Text(L"SubscriberID", 1, value);
    }
    HRESULT STDMETHODCALLTYPE get_SimIccID(BSTR* value) override { return Text(L"SimIccID", 2, value); }
};

class Registration final : public Object<Mbn::IMbnRegistration>
{
public:
    HRESULT STDMETHODCALLTYPE GetRegisterState(std::int32_t* state) override
    {
        return Value(L"GetRegisterState", 4, state);
    }
    HRESULT STDMETHODCALLTYPE GetRegisterMode(std::int32_t*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetProviderID(BSTR* value) override { return Text(L"GetProviderID", 5, value); }
    HRESULT STDMETHODCALLTYPE GetProviderName(BSTR* value) override
    {
        return Text(L"GetProviderName", 6, value);
    }
    HRESULT STDMETHODCALLTYPE GetRoamingText(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAvailableDataClasses(std::uint32_t*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentDataClass(std::uint32_t* value) override
    {
        return Value(L"GetCurrentDataClass", 7, value, 16);
    }
};

class Signal final : public Object<Mbn::IMbnSignal>
{
public:
    HRESULT STDMETHODCALLTYPE GetSignalStrength(std::uint32_t* value) override
    {
        return Value(L"GetSignalStrength", 8, value);
    }
};

class SmsConfiguration final : public Object<Mbn::IMbnSmsConfiguration>
{
public:
    HRESULT STDMETHODCALLTYPE get_ServiceCenterAddress(BSTR* value) override
    {
        return Text(L"ServiceCenterAddress", 9, value);
    }
};

class StoredMessage final : public Object<Mbn::IMbnSmsReadMsgPdu>
{
public:
    StoredMessage(std::uint32_t index, std::int32_t status, std::wstring pdu)
        : index_(index), status_(status), pdu_(std::move(pdu))
    {
    }
    HRESULT STDMETHODCALLTYPE get_Index(std::uint32_t* value) override
    {
        *value = index_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Status(std::int32_t* value) override
    {
        *value = status_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_PduData(BSTR* value) override
    {
        *value = ::SysAllocString(pdu_.c_str());
        return S_OK;
    }

private:
    std::uint32_t index_;
    std::int32_t status_;
    std::wstring pdu_;
};

// An element of a read that answers no message interface we read.
class OtherElement final : public Object<IUnknown>
{
};

// One array of the read's elements per part, filtered as the read asks.
std::vector<SAFEARRAY*> ReadParts(const Mbn::SmsFilter& filter)
{
    std::vector<SAFEARRAY*> parts;
    for (const std::wstring& entry : Split(Script(L"PD_TEST_MBN_STORE"), L';'))
    {
        const std::vector<std::wstring> fields = Split(entry, L':');
        IUnknown* element = nullptr;
        if (fields.size() == 3)
        {
            const auto index = static_cast<std::uint32_t>(std::wcstoul(fields[0].c_str(), nullptr, 10));
            if (filter.flag == 1 && index != filter.messageIndex)
                continue;
            element = new StoredMessage(index, std::wcstol(fields[1].c_str(), nullptr, 10), fields[2]);
        }
        else if (filter.flag != 1)
            element = new OtherElement;
        else
            continue;
        SAFEARRAY* part = ::SafeArrayCreateVector(VT_UNKNOWN, 0, 1);
        LONG at = 0;
        ::SafeArrayPutElement(part, &at, element); // takes its own reference
        element->Release();
        parts.push_back(part);
    }
    return parts;
}

class Sms final : public Object<Mbn::IMbnSms>
{
public:
    explicit Sms(std::shared_ptr<Hub> hub) : hub_(std::move(hub)) {}

    HRESULT STDMETHODCALLTYPE GetSmsConfiguration(Mbn::IMbnSmsConfiguration** value) override
    {
        *value = nullptr;
        if (HRESULT hr = Call(L"GetSmsConfiguration"); FAILED(hr))
            return hr;
        *value = new SmsConfiguration;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSmsConfiguration(Mbn::IMbnSmsConfiguration*, std::uint32_t*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SmsSendPdu(LPCWSTR pdu, std::uint8_t size, std::uint32_t* requestId) override
    {
        *requestId = 0;
        if (HRESULT hr = Call(L"SmsSendPdu", std::wstring(pdu) + L" " + std::to_wstring(size)); FAILED(hr))
            return hr;
        *requestId = ++lastRequest_;
        const auto status =
            static_cast<HRESULT>(std::wcstoul(Script(L"PD_TEST_MBN_SEND").c_str(), nullptr, 16));
        Later([self = Keep(), id = *requestId, status] {
            self->hub_->sms->Fire([&](IUnknown* sink) {
                static_cast<Mbn::IMbnSmsEvents*>(sink)->OnSmsSendComplete(self.Get(), id, status);
            });
        });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SmsSendCdma(LPCWSTR, std::int32_t, std::int32_t, std::uint32_t, SAFEARRAY*,
                                          std::uint32_t*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SmsSendCdmaPdu(SAFEARRAY*, std::uint32_t*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SmsRead(const Mbn::SmsFilter* filter, std::int32_t format,
                                      std::uint32_t* requestId) override
    {
        *requestId = 0;
        if (HRESULT hr =
                Call(L"SmsRead", std::to_wstring(filter->flag) + L" " +
                                     std::to_wstring(filter->messageIndex) + L" " + std::to_wstring(format));
            FAILED(hr))
            return hr;
        *requestId = ++lastRequest_;
        Later([self = Keep(), id = *requestId, format, parts = ReadParts(*filter)] {
            for (std::size_t i = 0; i < parts.size(); ++i)
            {
                const VARIANT_BOOL more = i + 1 < parts.size() ? VARIANT_TRUE : VARIANT_FALSE;
                self->hub_->sms->Fire([&](IUnknown* sink) {
                    static_cast<Mbn::IMbnSmsEvents*>(sink)->OnSmsReadComplete(self.Get(), format, parts[i],
                                                                              more, id, S_OK);
                });
                ::SafeArrayDestroy(parts[i]);
            }
        });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SmsDelete(const Mbn::SmsFilter* filter, std::uint32_t* requestId) override
    {
        *requestId = 0;
        if (HRESULT hr = Call(L"SmsDelete",
                              std::to_wstring(filter->flag) + L" " + std::to_wstring(filter->messageIndex));
            FAILED(hr))
            return hr;
        *requestId = ++lastRequest_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSmsStatus(Mbn::SmsStatusInfo* status) override
    {
        *status = {};
        if (HRESULT hr = Call(L"GetSmsStatus"); FAILED(hr))
            return hr;
        *status = {Number(10), Number(11)};
        return S_OK;
    }

private:
    ComPtr<Sms> Keep()
    {
        AddRef();
        return ComPtr<Sms>::Attach(this);
    }

    std::shared_ptr<Hub> hub_;
    std::atomic<std::uint32_t> lastRequest_{0};
};

class Modem final : public Object<Mbn::IMbnInterface>
{
public:
    explicit Modem(std::shared_ptr<Hub> hub) : hub_(std::move(hub)) {}

    HRESULT STDMETHODCALLTYPE get_InterfaceID(BSTR* value) override
    {
        *value = ::SysAllocString(L"{modem}");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetInterfaceCapability(Mbn::InterfaceCaps* caps) override
    {
        *caps = {};
        if (HRESULT hr = Call(L"GetInterfaceCapability"); FAILED(hr))
            return hr;
        caps->deviceId = ::SysAllocString(Field(0).c_str());
        caps->manufacturer = ::SysAllocString(L"Test");
        caps->model = ::SysAllocString(L"Modem");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSubscriberInformation(Mbn::IMbnSubscriberInformation** value) override
    {
        *value = nullptr;
        if (HRESULT hr = Call(L"GetSubscriberInformation"); FAILED(hr))
            return hr;
        *value = new SubscriberInformation;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetReadyState(std::int32_t* state) override
    {
        return Value(L"GetReadyState", 3, state);
    }

protected:
    void* Other(REFIID iid) override
    {
        IUnknown* part = nullptr;
        if (iid == Mbn::IMbnRegistration::Iid && !Missing(L"registration"))
            part = static_cast<Mbn::IMbnRegistration*>(new Registration);
        else if (iid == Mbn::IMbnSignal::Iid && !Missing(L"signal"))
            part = static_cast<Mbn::IMbnSignal*>(new Signal);
        else if (iid == Mbn::IMbnSms::Iid && !Missing(L"sms"))
            part = static_cast<Mbn::IMbnSms*>(new Sms(hub_));
        return part;
    }

private:
    std::shared_ptr<Hub> hub_;
};

class Manager final : public Object<Mbn::IMbnInterfaceManager, IConnectionPointContainer>
{
public:
    Manager()
    {
        hub_->signal->SetLateEvent(SignalChanged);
        hub_->sms->SetLateEvent(
            [](IUnknown* sink) { static_cast<Mbn::IMbnSmsEvents*>(sink)->OnSmsStatusChange(nullptr); });
        hub_->registration->SetLateEvent([](IUnknown* sink) {
            static_cast<Mbn::IMbnRegistrationEvents*>(sink)->OnRegisterStateChange(nullptr);
        });
    }

    HRESULT STDMETHODCALLTYPE GetInterface(LPCWSTR, Mbn::IMbnInterface** value) override
    {
        *value = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetInterfaces(SAFEARRAY** interfaces) override
    {
        *interfaces = nullptr;
        if (HRESULT hr = Call(L"GetInterfaces"); FAILED(hr))
            return hr;
        std::wstring script = Script(L"PD_TEST_MBN_INTERFACES");
        const std::vector<std::wstring> elements =
            script == L"none" ? std::vector<std::wstring>() : Split(script.empty() ? L"modem" : script, L',');
        *interfaces = ::SafeArrayCreateVector(VT_UNKNOWN, 0, static_cast<ULONG>(elements.size()));
        for (LONG i = 0; i < static_cast<LONG>(elements.size()); ++i)
        {
            IUnknown* element = nullptr;
            if (elements[i] == L"modem")
                element = new Modem(hub_);
            else if (elements[i] == L"other")
                element = new OtherElement;
            ::SafeArrayPutElement(*interfaces, &i, element);
            if (element)
                element->Release();
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override
    {
        *points = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** point) override
    {
        *point = nullptr;
        for (const auto& candidate : {hub_->sms, hub_->signal, hub_->registration})
        {
            IID events{};
            candidate->GetConnectionInterface(&events);
            if (events == iid)
            {
                candidate->AddRef();
                *point = candidate.Get();
                return S_OK;
            }
        }
        return CONNECT_E_NOCONNECTION;
    }

private:
    std::shared_ptr<Hub> hub_ = std::make_shared<Hub>();
};

class ClassFactory final : public Object<IClassFactory>
{
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        auto* manager = new (std::nothrow) Manager;
        if (!manager)
            return E_OUTOFMEMORY;
        const HRESULT hr = static_cast<Mbn::IMbnInterfaceManager*>(manager)->QueryInterface(iid, out);
        static_cast<Mbn::IMbnInterfaceManager*>(manager)->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

} // namespace
} // namespace Pd::TestClasses

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    using namespace Pd::TestClasses;
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (clsid != Pd::Platform::Mbn::Abi::ClsidInterfaceManager)
        return CLASS_E_CLASSNOTAVAILABLE;
    if (Unregistered(L"MbnInterfaceManager"))
        return REGDB_E_CLASSNOTREG;
    auto* factory = new (std::nothrow) ClassFactory;
    if (!factory)
        return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
}
