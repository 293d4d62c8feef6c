// The LE device class and its GATT database, as the test scripts them:
//   PD_TEST_LE_OPEN      how FromBluetoothAddressAsync ends (see ReadScript); "none": no device
//   PD_TEST_GATT         the database, ';'-separated: "s:<handle>:<uuid16 hex>:<characteristics
//                        status>" starts a service, "c:<handle>:<uuid16>:<properties>:<descriptors
//                        status>" a characteristic of it, "d:<handle>:<uuid16>" a descriptor of that
//   PD_TEST_GATT_STATUS  the services listing's status; PD_TEST_GATT_LIST how every listing ends
//   PD_TEST_WALK=break   the services list breaks at its second entry
// Values, events, session and pairing: see BluetoothLeValueClasses.cpp.
#include "platform/winrt/AbiBluetoothLe.h"
#include "tests/support/winrt-classes/BluetoothLeValueClasses.h"
#include "tests/support/winrt-classes/Scripting.h"

#include <cwchar>
#include <new>

namespace Pd::TestClasses
{
namespace
{

struct DescriptorFacts
{
    std::uint16_t handle = 0;
    GUID uuid{};
};

struct CharacteristicFacts
{
    std::uint16_t handle = 0;
    GUID uuid{};
    std::uint32_t properties = 0;
    std::int32_t status = 0;
    std::vector<DescriptorFacts> descriptors;
};

struct ServiceFacts
{
    std::uint16_t handle = 0;
    GUID uuid{};
    std::int32_t status = 0;
    std::vector<CharacteristicFacts> characteristics;
};

// A 16-bit UUID on the Bluetooth base UUID.
GUID ShortUuid(const std::wstring& hex)
{
    return GUID{static_cast<unsigned long>(std::wcstoul(hex.c_str(), nullptr, 16)),
                0x0000,
                0x1000,
                {0x80, 0x00, 0x00, 0x80, 0x5f, 0x9b, 0x34, 0xfb}};
}

std::uint32_t Number(const std::wstring& text)
{
    return static_cast<std::uint32_t>(std::wcstoul(text.c_str(), nullptr, 10));
}

std::vector<ServiceFacts> ScriptedDatabase()
{
    std::vector<ServiceFacts> services;
    for (const std::wstring& entry : Split(Script(L"PD_TEST_GATT"), L';'))
    {
        std::vector<std::wstring> f = Split(entry, L':');
        if (f.size() == 4 && f[0] == L"s")
            services.push_back({static_cast<std::uint16_t>(Number(f[1])),
                                ShortUuid(f[2]),
                                static_cast<std::int32_t>(Number(f[3])),
                                {}});
        else if (f.size() == 5 && f[0] == L"c" && !services.empty())
            services.back().characteristics.push_back({static_cast<std::uint16_t>(Number(f[1])),
                                                       ShortUuid(f[2]),
                                                       Number(f[3]),
                                                       static_cast<std::int32_t>(Number(f[4])),
                                                       {}});
        else if (f.size() == 3 && f[0] == L"d" && !services.empty() &&
                 !services.back().characteristics.empty())
            services.back().characteristics.back().descriptors.push_back(
                {static_cast<std::uint16_t>(Number(f[1])), ShortUuid(f[2])});
    }
    return services;
}

template <typename Result, typename Item> class ListingResult final : public Inspectable<Result>
{
public:
    ListingResult(std::int32_t status, const GUID& viewIid, Items<Item> items)
        : status_(status), viewIid_(viewIid), items_(std::move(items))
    {
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return this->Answer(asked, Result::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_Status(std::int32_t* v) override { return *v = status_, S_OK; }
    HRESULT STDMETHODCALLTYPE get_ProtocolError(IInspectable** v) override { return *v = nullptr, S_OK; }
    HRESULT STDMETHODCALLTYPE get_Items(Abi::IVectorView<Item*>** v) override
    {
        *v = new VectorView<Item>(viewIid_, items_);
        return S_OK;
    }

private:
    std::int32_t status_;
    GUID viewIid_;
    Items<Item> items_;
};

// A listing operation ending as PD_TEST_GATT_LIST scripts it, with this status and these items.
template <typename Result, typename Item>
HRESULT StartListing(const std::wstring& call, const GUID& operationIid, const GUID& viewIid,
                     std::int32_t status, Items<Item> items, Abi::IAsyncOperation<Result*>** operation)
{
    Note(call);
    *operation = nullptr;
    const Scripted scripted = ReadScript(L"PD_TEST_GATT_LIST");
    if (FAILED(scripted.startFails))
        return scripted.startFails;
    auto* result = new ListingResult<Result, Item>(status, viewIid, std::move(items));
    *operation = new Operation<Abi::IAsyncOperation<Result*>, Result*>(operationIid, result, scripted.ending);
    result->Release();
    return S_OK;
}

class Descriptor final : public Inspectable<Abi::IGattDescriptor>, public Abi::IGattDescriptor2
{
public:
    explicit Descriptor(DescriptorFacts facts) : facts_(facts) {}
    PD_TEST_FORWARD_INSPECTABLE(Abi::IGattDescriptor)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return AnswerAlso<Abi::IGattDescriptor2>(this, asked, Abi::IGattDescriptor::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE ReadValueAsync(Abi::ReadOperation** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReadValueWithCacheModeAsync(std::int32_t mode, Abi::ReadOperation** v) override
    {
        return mode == Abi::CacheModeUncached ? StartRead(facts_.handle, v) : (*v = nullptr, E_INVALIDARG);
    }
    HRESULT STDMETHODCALLTYPE WriteValueAsync(Abi::IBuffer*, IInspectable** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE WriteValueWithResultAsync(Abi::IBuffer* value, Abi::WriteOperation** v) override
    {
        return StartWrite(L"WriteValue " + std::to_wstring(facts_.handle) + L" " + HexOf(value), v);
    }
    HRESULT STDMETHODCALLTYPE get_ProtectionLevel(std::int32_t* v) override { return *v = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE put_ProtectionLevel(std::int32_t) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Uuid(GUID* v) override { return *v = facts_.uuid, S_OK; }
    HRESULT STDMETHODCALLTYPE get_AttributeHandle(std::uint16_t* v) override
    {
        return *v = facts_.handle, S_OK;
    }
    DescriptorFacts facts_;
};

class Characteristic final : public Inspectable<Abi::IGattCharacteristic>, public Abi::IGattCharacteristic3
{
public:
    explicit Characteristic(CharacteristicFacts facts)
        : facts_(std::move(facts)),
          changes_(L"ValueChanged", Abi::Instances::ValueChangedHandler.iid,
                   static_cast<Abi::IGattCharacteristic*>(this), MakeValueChangedArgs)
    {
    }
    PD_TEST_FORWARD_INSPECTABLE(Abi::IGattCharacteristic)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return AnswerAlso<Abi::IGattCharacteristic3>(this, asked, Abi::IGattCharacteristic::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE GetDescriptors(GUID, IInspectable** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_CharacteristicProperties(std::uint32_t* v) override
    {
        return *v = facts_.properties, S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ProtectionLevel(std::int32_t* v) override { return *v = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE put_ProtectionLevel(std::int32_t) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_UserDescription(HSTRING* v) override { return *v = nullptr, S_OK; }
    HRESULT STDMETHODCALLTYPE get_Uuid(GUID* v) override { return *v = facts_.uuid, S_OK; }
    HRESULT STDMETHODCALLTYPE get_AttributeHandle(std::uint16_t* v) override
    {
        return *v = facts_.handle, S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDescriptorsAsync(Abi::DescriptorsOperation** v) override
    {
        return GetDescriptorsWithCacheModeAsync(0, v);
    }
    HRESULT STDMETHODCALLTYPE GetDescriptorsWithCacheModeAsync(std::int32_t mode,
                                                               Abi::DescriptorsOperation** v) override
    {
        std::vector<Abi::IGattDescriptor*> descriptors;
        for (const DescriptorFacts& facts : facts_.descriptors)
            descriptors.push_back(new Descriptor(facts));
        return StartListing<Abi::IGattDescriptorsResult, Abi::IGattDescriptor>(
            L"GetDescriptors " + std::to_wstring(facts_.handle) + L" " + std::to_wstring(mode),
            Abi::Instances::DescriptorsOperation.iid, Abi::Instances::DescriptorVectorView.iid, facts_.status,
            {std::move(descriptors), SIZE_MAX}, v);
    }
    HRESULT STDMETHODCALLTYPE get_PresentationFormats(IInspectable** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReadValueAsync(Abi::ReadOperation** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReadValueWithCacheModeAsync(std::int32_t mode, Abi::ReadOperation** v) override
    {
        return mode == Abi::CacheModeUncached ? StartRead(facts_.handle, v) : (*v = nullptr, E_INVALIDARG);
    }
    HRESULT STDMETHODCALLTYPE WriteValueAsync(Abi::IBuffer*, IInspectable** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE WriteValueWithOptionAsync(Abi::IBuffer*, std::int32_t,
                                                        IInspectable** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE
    ReadClientCharacteristicConfigurationDescriptorAsync(Abi::ConfigurationOperation** v) override
    {
        return StartConfigurationRead(facts_.handle, v);
    }
    HRESULT STDMETHODCALLTYPE WriteClientCharacteristicConfigurationDescriptorAsync(std::int32_t,
                                                                                    IInspectable** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE add_ValueChanged(Abi::ITypedEventHandler* handler,
                                               Abi::EventToken* token) override
    {
        return changes_.Add(handler, token);
    }
    HRESULT STDMETHODCALLTYPE remove_ValueChanged(Abi::EventToken token) override
    {
        return changes_.Remove(token);
    }
    HRESULT STDMETHODCALLTYPE GetDescriptorsForUuidAsync(GUID, Abi::DescriptorsOperation** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDescriptorsForUuidWithCacheModeAsync(GUID, std::int32_t,
                                                                      Abi::DescriptorsOperation** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE WriteValueWithResultAsync(Abi::IBuffer*, Abi::WriteOperation** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE WriteValueWithResultAndOptionAsync(Abi::IBuffer* value, std::int32_t option,
                                                                 Abi::WriteOperation** v) override
    {
        return StartWrite(L"WriteValue " + std::to_wstring(facts_.handle) + L" " + HexOf(value) +
                              L" option " + std::to_wstring(option),
                          v);
    }
    HRESULT STDMETHODCALLTYPE WriteClientCharacteristicConfigurationDescriptorWithResultAsync(
        std::int32_t value, Abi::WriteOperation** v) override
    {
        return StartWrite(
            L"WriteConfiguration " + std::to_wstring(facts_.handle) + L" " + std::to_wstring(value), v);
    }
    CharacteristicFacts facts_;
    EventSource changes_; // fires the scripted PD_TEST_GATT_NOTIFY value
};

class Service final : public Inspectable<Abi::IGattDeviceService>, public Abi::IGattDeviceService3
{
public:
    explicit Service(ServiceFacts facts) : facts_(std::move(facts)) {}
    PD_TEST_FORWARD_INSPECTABLE(Abi::IGattDeviceService)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return AnswerAlso<Abi::IGattDeviceService3>(this, asked, Abi::IGattDeviceService::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE GetCharacteristics(GUID, IInspectable** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIncludedServices(GUID, IInspectable** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_DeviceId(HSTRING* v) override { return *v = nullptr, S_OK; }
    HRESULT STDMETHODCALLTYPE get_Uuid(GUID* v) override { return *v = facts_.uuid, S_OK; }
    HRESULT STDMETHODCALLTYPE get_AttributeHandle(std::uint16_t* v) override
    {
        return *v = facts_.handle, S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_DeviceAccessInformation(IInspectable** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_Session(IInspectable** v) override { return *v = nullptr, E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_SharingMode(std::int32_t* v) override { return *v = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE RequestAccessAsync(IInspectable** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE OpenAsync(std::int32_t, IInspectable** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetCharacteristicsAsync(Abi::CharacteristicsOperation** v) override
    {
        return GetCharacteristicsWithCacheModeAsync(0, v);
    }
    HRESULT STDMETHODCALLTYPE GetCharacteristicsWithCacheModeAsync(std::int32_t mode,
                                                                   Abi::CharacteristicsOperation** v) override
    {
        std::vector<Abi::IGattCharacteristic*> characteristics;
        for (const CharacteristicFacts& facts : facts_.characteristics)
            characteristics.push_back(new Characteristic(facts));
        return StartListing<Abi::IGattCharacteristicsResult, Abi::IGattCharacteristic>(
            L"GetCharacteristics " + std::to_wstring(facts_.handle) + L" " + std::to_wstring(mode),
            Abi::Instances::CharacteristicsOperation.iid, Abi::Instances::CharacteristicVectorView.iid,
            facts_.status, {std::move(characteristics), SIZE_MAX}, v);
    }
    ServiceFacts facts_;
};

// The connection status comes from PD_TEST_LE_STATUS; ConnectionStatusChanged fires while
// registered, the sender carrying the status.
class Device final : public Inspectable<Abi::IBluetoothLEDevice>,
                     public Abi::IBluetoothLEDevice2,
                     public Abi::IBluetoothLEDevice3,
                     public Abi::IBluetoothLEDevice4
{
public:
    explicit Device(std::uint64_t address)
        : address_(address),
          changes_(L"ConnectionStatusChanged", Abi::Instances::ConnectionStatusChangedHandler.iid,
                   static_cast<Abi::IBluetoothLEDevice*>(this), [] { return nullptr; })
    {
    }
    PD_TEST_FORWARD_INSPECTABLE(Abi::IBluetoothLEDevice)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        if (asked == Abi::IBluetoothLEDevice2::Iid)
            *out = static_cast<Abi::IBluetoothLEDevice2*>(this);
        else if (asked == Abi::IBluetoothLEDevice3::Iid)
            *out = static_cast<Abi::IBluetoothLEDevice3*>(this);
        else if (asked == Abi::IBluetoothLEDevice4::Iid)
            *out = static_cast<Abi::IBluetoothLEDevice4*>(this);
        else
            return Answer(asked, Abi::IBluetoothLEDevice::Iid, out);
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_DeviceId(HSTRING* v) override { return *v = nullptr, S_OK; }
    HRESULT STDMETHODCALLTYPE get_Name(HSTRING* v) override { return *v = nullptr, S_OK; }
    HRESULT STDMETHODCALLTYPE get_GattServices(IInspectable** v) override { return *v = nullptr, E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ConnectionStatus(std::int32_t* v) override
    {
        const std::wstring status = Script(L"PD_TEST_LE_STATUS");
        *v = status.empty() ? 1 : static_cast<std::int32_t>(Number(status));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_BluetoothAddress(std::uint64_t* v) override { return *v = address_, S_OK; }
    HRESULT STDMETHODCALLTYPE GetGattService(GUID, IInspectable** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE add_NameChanged(Abi::ITypedEventHandler*, Abi::EventToken*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_NameChanged(Abi::EventToken) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_GattServicesChanged(Abi::ITypedEventHandler*, Abi::EventToken*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_GattServicesChanged(Abi::EventToken) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE add_ConnectionStatusChanged(Abi::ITypedEventHandler* handler,
                                                          Abi::EventToken* token) override
    {
        return changes_.Add(handler, token);
    }
    HRESULT STDMETHODCALLTYPE remove_ConnectionStatusChanged(Abi::EventToken token) override
    {
        return changes_.Remove(token);
    }
    HRESULT STDMETHODCALLTYPE get_DeviceInformation(Abi::IDeviceInformation** v) override
    {
        *v = reinterpret_cast<Abi::IDeviceInformation*>(MakeDeviceInformation());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_BluetoothDeviceId(IInspectable** v) override
    {
        *v = MakeDeviceId(address_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_DeviceAccessInformation(IInspectable** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RequestAccessAsync(IInspectable** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetGattServicesAsync(Abi::ServicesOperation** v) override
    {
        return GetGattServicesWithCacheModeAsync(0, v);
    }
    HRESULT STDMETHODCALLTYPE GetGattServicesWithCacheModeAsync(std::int32_t mode,
                                                                Abi::ServicesOperation** v) override
    {
        std::vector<Abi::IGattDeviceService*> services;
        for (const ServiceFacts& facts : ScriptedDatabase())
            services.push_back(new Service(facts));
        return StartListing<Abi::IGattDeviceServicesResult, Abi::IGattDeviceService>(
            L"GetGattServices " + std::to_wstring(mode), Abi::Instances::ServicesOperation.iid,
            Abi::Instances::ServiceVectorView.iid,
            static_cast<std::int32_t>(Number(Script(L"PD_TEST_GATT_STATUS"))),
            {std::move(services), Script(L"PD_TEST_WALK") == L"break" ? 1 : SIZE_MAX}, v);
    }

private:
    std::uint64_t address_;
    EventSource changes_;
};

using DeviceOperation = Operation<Abi::DeviceOperation, Abi::IBluetoothLEDevice*>;

class DeviceFactory final : public Inspectable<IActivationFactory>, public Abi::IBluetoothLEDeviceStatics2
{
public:
    PD_TEST_FORWARD_INSPECTABLE(IActivationFactory)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return AnswerAlso<Abi::IBluetoothLEDeviceStatics2>(this, asked, Abi::IidActivationFactory, out);
    }
    HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** v) override { return *v = nullptr, E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDeviceSelectorFromPairingState(Abi::Boolean, HSTRING*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDeviceSelectorFromConnectionStatus(std::int32_t, HSTRING*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDeviceSelectorFromDeviceName(HSTRING, HSTRING*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDeviceSelectorFromBluetoothAddress(std::uint64_t, HSTRING*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDeviceSelectorFromBluetoothAddressWithBluetoothAddressType(std::uint64_t,
                                                                                            std::int32_t,
                                                                                            HSTRING*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDeviceSelectorFromAppearance(IInspectable*, HSTRING*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FromBluetoothAddressWithBluetoothAddressTypeAsync(
        std::uint64_t address, std::int32_t addressType, Abi::DeviceOperation** operation) override
    {
        wchar_t call[64];
        std::swprintf(call, 64, L"FromBluetoothAddress %012llX %d", static_cast<unsigned long long>(address),
                      addressType);
        Note(call);
        *operation = nullptr;
        const Scripted scripted = ReadScript(L"PD_TEST_LE_OPEN");
        if (FAILED(scripted.startFails))
            return scripted.startFails;
        Device* device = scripted.rest == L"none" ? nullptr : new Device(address);
        *operation = new DeviceOperation(Abi::Instances::DeviceOperation.iid, device, scripted.ending);
        if (device)
            device->Release();
        return S_OK;
    }
};

} // namespace

IActivationFactory* MakeBluetoothLeFactory(const std::wstring& className)
{
    if (className != Abi::LeDeviceClass)
        return MakeGattValueFactory(className);
    return new (std::nothrow) DeviceFactory();
}

} // namespace Pd::TestClasses
