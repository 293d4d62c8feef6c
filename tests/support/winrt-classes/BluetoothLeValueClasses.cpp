// The test LE device's values, events, session and pairing, as the test scripts them. Each
// operation script starts with how it ends (see ReadScript: "now", "thread", "hang",
// "error <hex>", "start <hex>"), then:
//   PD_TEST_GATT_READ    "<when> <status> <protocol error hex or -> <value hex>"
//   PD_TEST_GATT_WRITE   "<when> <status> <protocol error hex or ->"
//   PD_TEST_GATT_CONFIG  "<when> <status> <protocol error hex or -> <configuration>"
//   PD_TEST_GATT_NOTIFY  the value of every ValueChanged event (hex)
//   PD_TEST_LE_STATUS    the device's connection status (default 1, connected)
//   PD_TEST_GATT_SESSION "<when> <session status>"; its SessionStatusChanged reports the status
//                        in PD_TEST_GATT_SESSION_EVENT (default 0, Closed)
//   PD_TEST_PAIRING      "<is paired> <can pair>"; PD_TEST_PAIR "<when> <result status>"
// Windows.Storage.Streams.Buffer is answered here too: the writes need it.
#include "tests/support/winrt-classes/BluetoothLeValueClasses.h"
#include "platform/winrt/AbiConnectivity.h"
#include "tests/support/winrt-classes/Scripting.h"

#include <winstring.h>

#include <atomic>
#include <chrono>
#include <cwchar>
#include <new>

namespace Pd::TestClasses
{
namespace
{

std::vector<std::wstring> Words(const std::wstring& text)
{
    std::vector<std::wstring> words;
    for (const std::wstring& word : Split(text, L' '))
        if (!word.empty())
            words.push_back(word);
    return words;
}

std::wstring Word(const std::vector<std::wstring>& words, std::size_t index)
{
    return index < words.size() ? words[index] : std::wstring();
}

std::int32_t Int(const std::wstring& text)
{
    return static_cast<std::int32_t>(std::wcstol(text.c_str(), nullptr, 10));
}

class Reference final : public Inspectable<Abi::IReferenceUInt8>
{
public:
    explicit Reference(std::uint8_t value) : value_(value) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::Instances::ReferenceUInt8.iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_Value(std::uint8_t* v) override { return *v = value_, S_OK; }
    std::uint8_t value_;
};

// "-" or empty: none.
HRESULT HandProtocolError(const std::wstring& text, Abi::IReferenceUInt8** v)
{
    *v = text.empty() || text == L"-"
             ? nullptr
             : new Reference(static_cast<std::uint8_t>(std::wcstoul(text.c_str(), nullptr, 16)));
    return S_OK;
}

class WritableBuffer final : public Inspectable<Abi::IBuffer>, public Abi::IBufferByteAccess
{
public:
    explicit WritableBuffer(std::uint32_t capacity) : bytes_(capacity) {}
    ULONG STDMETHODCALLTYPE AddRef() override { return Inspectable::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return Inspectable::Release(); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return AnswerAlso<Abi::IBufferByteAccess>(this, asked, Abi::IBuffer::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_Capacity(std::uint32_t* v) override
    {
        return *v = static_cast<std::uint32_t>(bytes_.size()), S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Length(std::uint32_t* v) override { return *v = length_, S_OK; }
    HRESULT STDMETHODCALLTYPE put_Length(std::uint32_t length) override
    {
        if (length > bytes_.size())
            return E_INVALIDARG;
        length_ = length;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Buffer(BYTE** v) override { return *v = bytes_.data(), S_OK; }
    std::vector<std::uint8_t> bytes_;
    std::uint32_t length_ = 0;
};

WritableBuffer* BufferOf(const std::vector<std::uint8_t>& bytes)
{
    auto* buffer = new WritableBuffer(static_cast<std::uint32_t>(bytes.size()));
    buffer->bytes_ = bytes;
    buffer->length_ = static_cast<std::uint32_t>(bytes.size());
    return buffer;
}

class ReadResult final : public Inspectable<Abi::IGattReadResult>, public Abi::IGattReadResult2
{
public:
    explicit ReadResult(std::vector<std::wstring> words) : words_(std::move(words)) {}
    PD_TEST_FORWARD_INSPECTABLE(Abi::IGattReadResult)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return AnswerAlso<Abi::IGattReadResult2>(this, asked, Abi::IGattReadResult::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_Status(std::int32_t* v) override { return *v = Int(Word(words_, 0)), S_OK; }
    HRESULT STDMETHODCALLTYPE get_Value(Abi::IBuffer** v) override
    {
        *v = BufferOf(Bytes(Word(words_, 2)));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ProtocolError(Abi::IReferenceUInt8** v) override
    {
        return HandProtocolError(Word(words_, 1), v);
    }
    std::vector<std::wstring> words_;
};

class WriteResult final : public Inspectable<Abi::IGattWriteResult>
{
public:
    explicit WriteResult(std::vector<std::wstring> words) : words_(std::move(words)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::IGattWriteResult::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_Status(std::int32_t* v) override { return *v = Int(Word(words_, 0)), S_OK; }
    HRESULT STDMETHODCALLTYPE get_ProtocolError(Abi::IReferenceUInt8** v) override
    {
        return HandProtocolError(Word(words_, 1), v);
    }
    std::vector<std::wstring> words_;
};

using ConfigurationBase = Abi::IGattReadClientCharacteristicConfigurationDescriptorResult;
using ConfigurationBase2 = Abi::IGattReadClientCharacteristicConfigurationDescriptorResult2;

class ConfigurationResult final : public Inspectable<ConfigurationBase>, public ConfigurationBase2
{
public:
    explicit ConfigurationResult(std::vector<std::wstring> words) : words_(std::move(words)) {}
    PD_TEST_FORWARD_INSPECTABLE(ConfigurationBase)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return AnswerAlso<ConfigurationBase2>(this, asked, ConfigurationBase::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_Status(std::int32_t* v) override { return *v = Int(Word(words_, 0)), S_OK; }
    HRESULT STDMETHODCALLTYPE get_ClientCharacteristicConfigurationDescriptor(std::int32_t* v) override
    {
        return *v = Int(Word(words_, 2)), S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ProtocolError(Abi::IReferenceUInt8** v) override
    {
        return HandProtocolError(Word(words_, 1), v);
    }
    std::vector<std::wstring> words_;
};

// An operation ending as the script says, with a result made from the script's other words.
template <typename Result, typename Made>
HRESULT StartScripted(const wchar_t* script, const GUID& operationIid,
                      Abi::IAsyncOperation<Result*>** operation)
{
    *operation = nullptr;
    const Scripted scripted = ReadScript(script);
    if (FAILED(scripted.startFails))
        return scripted.startFails;
    auto* result = new Made(Words(scripted.rest));
    *operation = new Operation<Abi::IAsyncOperation<Result*>, Result*>(operationIid, result, scripted.ending);
    static_cast<Result*>(result)->Release();
    return S_OK;
}

// ---- the device's information and pairing ------------------------------------------------------

// The scripted status of a pairing, as Windows reports it once the user answered its prompt.
class PairingResult final : public Inspectable<Abi::IDevicePairingResult>
{
public:
    explicit PairingResult(std::vector<std::wstring> words) : words_(std::move(words)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::IDevicePairingResult::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_Status(std::int32_t* v) override { return *v = Int(Word(words_, 0)), S_OK; }
    HRESULT STDMETHODCALLTYPE get_ProtectionLevelUsed(std::int32_t* v) override { return *v = 1, S_OK; }
    std::vector<std::wstring> words_;
};

class Pairing final : public Inspectable<Abi::IDeviceInformationPairing>
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::IDeviceInformationPairing::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_IsPaired(Abi::Boolean* v) override
    {
        return *v = Word(Words(Script(L"PD_TEST_PAIRING")), 0) == L"1", S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_CanPair(Abi::Boolean* v) override
    {
        return *v = Word(Words(Script(L"PD_TEST_PAIRING")), 1) == L"1", S_OK;
    }
    HRESULT STDMETHODCALLTYPE PairAsync(Abi::PairingOperation** operation) override
    {
        Note(L"PairAsync");
        *operation = nullptr;
        Scripted scripted = ReadScript(L"PD_TEST_PAIR");
        if (FAILED(scripted.startFails))
            return scripted.startFails;
        auto* result = new PairingResult(Words(scripted.rest));
        *operation = new Operation<Abi::PairingOperation, Abi::IDevicePairingResult*>(
            Abi::Instances::PairingOperation.iid, result, scripted.ending);
        result->Release();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PairWithProtectionLevelAsync(std::int32_t, Abi::PairingOperation** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
};

class DeviceInformation final : public Inspectable<Abi::IDeviceInformation>, public Abi::IDeviceInformation2
{
public:
    PD_TEST_FORWARD_INSPECTABLE(Abi::IDeviceInformation)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return AnswerAlso<Abi::IDeviceInformation2>(this, asked, Abi::IDeviceInformation::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_Kind(std::int32_t* v) override { return *v = 5, S_OK; }
    HRESULT STDMETHODCALLTYPE get_Pairing(Abi::IDeviceInformationPairing** v) override
    {
        *v = new Pairing();
        return S_OK;
    }
};

// A BluetoothDeviceId naming its device by its class name, so that the session can tell.
class DeviceId final : public Inspectable<IInspectable>
{
public:
    explicit DeviceId(std::uint64_t address) : address_(address) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::IidInspectable, out);
    }
    HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* name) override
    {
        wchar_t text[32];
        std::swprintf(text, 32, L"device %012llX", static_cast<unsigned long long>(address_));
        *name = MakeString(text);
        return S_OK;
    }
    std::uint64_t address_;
};

// ---- the session ----------------------------------------------------------------------------

class SessionStatusArgs final : public Inspectable<Abi::IGattSessionStatusChangedEventArgs>
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::IGattSessionStatusChangedEventArgs::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_Error(std::int32_t* v) override { return *v = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE get_Status(std::int32_t* v) override // Closed unless scripted
    {
        return *v = Int(Script(L"PD_TEST_GATT_SESSION_EVENT")), S_OK;
    }
};

class Session final : public Inspectable<Abi::IGattSession>, public Abi::IClosable
{
public:
    explicit Session(std::int32_t status)
        : status_(status), changes_(L"SessionStatusChanged", Abi::Instances::SessionStatusChangedHandler.iid,
                                    static_cast<Abi::IGattSession*>(this),
                                    [] { return static_cast<IInspectable*>(new SessionStatusArgs()); })
    {
    }
    PD_TEST_FORWARD_INSPECTABLE(Abi::IGattSession)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return AnswerAlso<Abi::IClosable>(this, asked, Abi::IGattSession::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_DeviceId(IInspectable** v) override { return *v = nullptr, E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_CanMaintainConnection(Abi::Boolean* v) override { return *v = 1, S_OK; }
    HRESULT STDMETHODCALLTYPE put_MaintainConnection(Abi::Boolean value) override
    {
        Note(L"MaintainConnection " + std::to_wstring(value));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_MaintainConnection(Abi::Boolean* v) override { return *v = 1, S_OK; }
    HRESULT STDMETHODCALLTYPE get_MaxPduSize(std::uint16_t* v) override { return *v = 23, S_OK; }
    HRESULT STDMETHODCALLTYPE get_SessionStatus(std::int32_t* v) override { return *v = status_, S_OK; }
    HRESULT STDMETHODCALLTYPE add_MaxPduSizeChanged(Abi::ITypedEventHandler*, Abi::EventToken*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_MaxPduSizeChanged(Abi::EventToken) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_SessionStatusChanged(Abi::ITypedEventHandler* handler,
                                                       Abi::EventToken* token) override
    {
        return changes_.Add(handler, token);
    }
    HRESULT STDMETHODCALLTYPE remove_SessionStatusChanged(Abi::EventToken token) override
    {
        return changes_.Remove(token);
    }
    HRESULT STDMETHODCALLTYPE Close() override
    {
        Note(L"CloseSession");
        return S_OK;
    }

private:
    std::int32_t status_;
    EventSource changes_;
};

class SessionFactory final : public Inspectable<IActivationFactory>, public Abi::IGattSessionStatics
{
public:
    PD_TEST_FORWARD_INSPECTABLE(IActivationFactory)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return AnswerAlso<Abi::IGattSessionStatics>(this, asked, Abi::IidActivationFactory, out);
    }
    HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** v) override { return *v = nullptr, E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FromDeviceIdAsync(IInspectable* deviceId,
                                                Abi::GattSessionOperation** operation) override
    {
        HSTRING name = nullptr;
        if (!deviceId || FAILED(deviceId->GetRuntimeClassName(&name)))
            return E_INVALIDARG;
        Note(L"FromDeviceIdAsync " + TextOf(name));
        ::WindowsDeleteString(name);
        *operation = nullptr;
        const Scripted scripted = ReadScript(L"PD_TEST_GATT_SESSION");
        if (FAILED(scripted.startFails))
            return scripted.startFails;
        auto* session = new Session(Int(Word(Words(scripted.rest), 0)));
        *operation = new Operation<Abi::GattSessionOperation, Abi::IGattSession*>(
            Abi::Instances::GattSessionOperation.iid, session, scripted.ending);
        static_cast<Abi::IGattSession*>(session)->Release();
        return S_OK;
    }
};

class ValueChangedArgs final : public Inspectable<Abi::IGattValueChangedEventArgs>
{
public:
    explicit ValueChangedArgs(std::vector<std::uint8_t> value) : value_(std::move(value)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::IGattValueChangedEventArgs::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_CharacteristicValue(Abi::IBuffer** v) override
    {
        *v = BufferOf(value_);
        return S_OK;
    }
    std::vector<std::uint8_t> value_;
};

class BufferFactory final : public Inspectable<IActivationFactory>, public Abi::IBufferFactory
{
public:
    PD_TEST_FORWARD_INSPECTABLE(IActivationFactory)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return AnswerAlso<Abi::IBufferFactory>(this, asked, Abi::IidActivationFactory, out);
    }
    HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** v) override { return *v = nullptr, E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Create(std::uint32_t capacity, Abi::IBuffer** buffer) override
    {
        *buffer = new WritableBuffer(capacity);
        return S_OK;
    }
};

} // namespace

HRESULT EventSource::Add(Abi::ITypedEventHandler* handler, Abi::EventToken* token)
{
    return handlers_.Add(handler, token, [this](Abi::EventToken) {
        if (!thread_.joinable())
            thread_ = std::jthread([this](std::stop_token stop) { Fire(stop); });
    });
}

void EventSource::Fire(std::stop_token stop)
{
    while (!stop.stop_requested())
    {
        for (Abi::ITypedEventHandler* handler : handlers_.Current())
        {
            IInspectable* args = makeArgs_();
            EventHandlers::Invoke({handler}, sender_, args);
            if (args)
                args->Release();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

HRESULT StartRead(std::uint16_t handle, Abi::ReadOperation** operation)
{
    Note(L"ReadValue " + std::to_wstring(handle));
    return StartScripted<Abi::IGattReadResult, ReadResult>(L"PD_TEST_GATT_READ",
                                                           Abi::Instances::ReadOperation.iid, operation);
}

HRESULT StartWrite(const std::wstring& call, Abi::WriteOperation** operation)
{
    Note(call);
    return StartScripted<Abi::IGattWriteResult, WriteResult>(L"PD_TEST_GATT_WRITE",
                                                             Abi::Instances::WriteOperation.iid, operation);
}

HRESULT StartConfigurationRead(std::uint16_t handle, Abi::ConfigurationOperation** operation)
{
    Note(L"ReadConfiguration " + std::to_wstring(handle));
    return StartScripted<ConfigurationBase, ConfigurationResult>(
        L"PD_TEST_GATT_CONFIG", Abi::Instances::ConfigurationOperation.iid, operation);
}

std::wstring HexOf(Abi::IBuffer* buffer)
{
    auto* access = static_cast<Abi::IBufferByteAccess*>(nullptr);
    std::uint32_t length = 0;
    BYTE* bytes = nullptr;
    if (!buffer ||
        FAILED(buffer->QueryInterface(Abi::IBufferByteAccess::Iid, reinterpret_cast<void**>(&access))))
        return L"?";
    buffer->get_Length(&length);
    access->Buffer(&bytes);
    std::wstring hex;
    for (std::uint32_t i = 0; i < length; ++i)
    {
        wchar_t two[3];
        std::swprintf(two, 3, L"%02X", bytes[i]);
        hex += two;
    }
    access->Release();
    return hex;
}

IInspectable* MakeDeviceInformation()
{
    return static_cast<Abi::IDeviceInformation*>(new DeviceInformation());
}

IInspectable* MakeDeviceId(std::uint64_t address)
{
    return new DeviceId(address);
}

IInspectable* MakeValueChangedArgs()
{
    return new ValueChangedArgs(Bytes(Script(L"PD_TEST_GATT_NOTIFY")));
}

IActivationFactory* MakeGattValueFactory(const std::wstring& className)
{
    if (className == Abi::GattSessionClass)
        return new (std::nothrow) SessionFactory();
    if (className == L"Windows.Storage.Streams.Buffer")
        return new (std::nothrow) BufferFactory();
    return nullptr;
}

} // namespace Pd::TestClasses
