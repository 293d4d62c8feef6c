// Our declarations of Bluetooth LE devices and the GATT database walk: opening a device by its
// address, its services, their characteristics and their descriptors, their values and
// subscriptions, the device's GATT session, connection status and pairing (see AbiFoundation.h for
// what is declared and how it is checked).
#pragma once

#include "platform/winrt/AbiFoundation.h"

namespace Pd::Platform::WinRt::Abi
{

inline constexpr std::int32_t CacheModeUncached = 1; // BluetoothCacheMode
inline constexpr std::int32_t AddressPublic = 0;     // BluetoothAddressType
inline constexpr std::int32_t AddressRandom = 1;

// IReference<UInt8>: the device's ATT error byte, when Windows has one.
struct IReferenceUInt8 : IInspectable
{
    virtual HRESULT STDMETHODCALLTYPE get_Value(std::uint8_t* value) = 0;
};

struct IGattReadResult : IInspectable
{
    static constexpr GUID Iid = GuidOf("63a66f08-1aea-4c4c-a50f-97bae474b348");
    virtual HRESULT STDMETHODCALLTYPE get_Status(std::int32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Value(IBuffer** value) = 0;
};

struct IGattReadResult2 : IInspectable
{
    static constexpr GUID Iid = GuidOf("a10f50a0-fb43-48af-baaa-638a5c6329fe");
    virtual HRESULT STDMETHODCALLTYPE get_ProtocolError(IReferenceUInt8** value) = 0;
};
using ReadOperation = IAsyncOperation<IGattReadResult*>;

struct IGattWriteResult : IInspectable
{
    static constexpr GUID Iid = GuidOf("4991ddb1-cb2b-44f7-99fc-d29a2871dc9b");
    virtual HRESULT STDMETHODCALLTYPE get_Status(std::int32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ProtocolError(IReferenceUInt8** value) = 0;
};
using WriteOperation = IAsyncOperation<IGattWriteResult*>;

struct IGattReadClientCharacteristicConfigurationDescriptorResult : IInspectable
{
    static constexpr GUID Iid = GuidOf("63a66f09-1aea-4c4c-a50f-97bae474b348");
    virtual HRESULT STDMETHODCALLTYPE get_Status(std::int32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    get_ClientCharacteristicConfigurationDescriptor(std::int32_t* value) = 0;
};

struct IGattReadClientCharacteristicConfigurationDescriptorResult2 : IInspectable
{
    static constexpr GUID Iid = GuidOf("1bf1a59d-ba4d-4622-8651-f4ee150d0a5d");
    virtual HRESULT STDMETHODCALLTYPE get_ProtocolError(IReferenceUInt8** value) = 0;
};
using ConfigurationOperation = IAsyncOperation<IGattReadClientCharacteristicConfigurationDescriptorResult*>;

struct IGattValueChangedEventArgs : IInspectable
{
    static constexpr GUID Iid = GuidOf("d21bdb54-06e3-4ed8-a263-acfac8ba7313");
    virtual HRESULT STDMETHODCALLTYPE get_CharacteristicValue(IBuffer** value) = 0;
};

struct IGattDescriptor : IInspectable
{
    static constexpr GUID Iid = GuidOf("92055f2b-8084-4344-b4c2-284de19a8506");
    virtual HRESULT STDMETHODCALLTYPE get_ProtectionLevel(std::int32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ProtectionLevel(std::int32_t value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Uuid(GUID* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_AttributeHandle(std::uint16_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadValueAsync(ReadOperation** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadValueWithCacheModeAsync(std::int32_t cacheMode,
                                                                  ReadOperation** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteValueAsync(IBuffer* value, IInspectable** operation) = 0;
};

struct IGattDescriptor2 : IInspectable
{
    static constexpr GUID Iid = GuidOf("8f563d39-d630-406c-ba11-10cdd16b0e5e");
    virtual HRESULT STDMETHODCALLTYPE WriteValueWithResultAsync(IBuffer* value,
                                                                WriteOperation** operation) = 0;
};

// The three listing results share one shape: status, protocol error, the items.
template <typename Item> struct IGattListingResult : IInspectable
{
    virtual HRESULT STDMETHODCALLTYPE get_Status(std::int32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ProtocolError(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Items(IVectorView<Item*>** value) = 0;
};

struct IGattDescriptorsResult : IGattListingResult<IGattDescriptor>
{
    static constexpr GUID Iid = GuidOf("9bc091f3-95e7-4489-8d25-ff81955a57b9");
};
using DescriptorsOperation = IAsyncOperation<IGattDescriptorsResult*>;

struct IGattCharacteristic : IInspectable
{
    static constexpr GUID Iid = GuidOf("59cb50c1-5934-4f68-a198-eb864fa44e6b");
    virtual HRESULT STDMETHODCALLTYPE GetDescriptors(GUID uuid, IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CharacteristicProperties(std::uint32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ProtectionLevel(std::int32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ProtectionLevel(std::int32_t value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_UserDescription(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Uuid(GUID* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_AttributeHandle(std::uint16_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_PresentationFormats(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadValueAsync(ReadOperation** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadValueWithCacheModeAsync(std::int32_t cacheMode,
                                                                  ReadOperation** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteValueAsync(IBuffer* value, IInspectable** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteValueWithOptionAsync(IBuffer* value, std::int32_t option,
                                                                IInspectable** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    ReadClientCharacteristicConfigurationDescriptorAsync(ConfigurationOperation** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    WriteClientCharacteristicConfigurationDescriptorAsync(std::int32_t value, IInspectable** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_ValueChanged(ITypedEventHandler* handler, EventToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_ValueChanged(EventToken token) = 0;
};

struct IGattCharacteristic3 : IInspectable
{
    static constexpr GUID Iid = GuidOf("3f3c663e-93d4-406b-b817-db81f8ed53b3");
    virtual HRESULT STDMETHODCALLTYPE GetDescriptorsAsync(DescriptorsOperation** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDescriptorsWithCacheModeAsync(std::int32_t cacheMode,
                                                                       DescriptorsOperation** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDescriptorsForUuidAsync(GUID uuid,
                                                                 DescriptorsOperation** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDescriptorsForUuidWithCacheModeAsync(
        GUID uuid, std::int32_t cacheMode, DescriptorsOperation** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteValueWithResultAsync(IBuffer* value,
                                                                WriteOperation** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteValueWithResultAndOptionAsync(IBuffer* value, std::int32_t option,
                                                                         WriteOperation** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteClientCharacteristicConfigurationDescriptorWithResultAsync(
        std::int32_t value, WriteOperation** operation) = 0;
};

struct IGattCharacteristicsResult : IGattListingResult<IGattCharacteristic>
{
    static constexpr GUID Iid = GuidOf("1194945c-b257-4f3e-9db7-f68bc9a9aef2");
};
using CharacteristicsOperation = IAsyncOperation<IGattCharacteristicsResult*>;

struct IGattDeviceService : IInspectable
{
    static constexpr GUID Iid = GuidOf("ac7b7c05-b33c-47cf-990f-6b8f5577df71");
    virtual HRESULT STDMETHODCALLTYPE GetCharacteristics(GUID uuid, IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIncludedServices(GUID uuid, IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DeviceId(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Uuid(GUID* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_AttributeHandle(std::uint16_t* value) = 0;
};

struct IGattDeviceService3 : IInspectable
{
    static constexpr GUID Iid = GuidOf("b293a950-0c53-437c-a9b3-5c3210c6e569");
    virtual HRESULT STDMETHODCALLTYPE get_DeviceAccessInformation(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Session(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SharingMode(std::int32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE RequestAccessAsync(IInspectable** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenAsync(std::int32_t sharingMode, IInspectable** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCharacteristicsAsync(CharacteristicsOperation** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    GetCharacteristicsWithCacheModeAsync(std::int32_t cacheMode, CharacteristicsOperation** operation) = 0;
};

struct IGattDeviceServicesResult : IGattListingResult<IGattDeviceService>
{
    static constexpr GUID Iid = GuidOf("171dd3ee-016d-419d-838a-576cf475a3d8");
};
using ServicesOperation = IAsyncOperation<IGattDeviceServicesResult*>;

struct IBluetoothLEDevice : IInspectable
{
    static constexpr GUID Iid = GuidOf("b5ee2f7b-4ad8-4642-ac48-80a0b500e887");
    virtual HRESULT STDMETHODCALLTYPE get_DeviceId(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Name(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_GattServices(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ConnectionStatus(std::int32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_BluetoothAddress(std::uint64_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetGattService(GUID uuid, IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_NameChanged(ITypedEventHandler* handler, EventToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_NameChanged(EventToken token) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_GattServicesChanged(ITypedEventHandler* handler,
                                                              EventToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_GattServicesChanged(EventToken token) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_ConnectionStatusChanged(ITypedEventHandler* handler,
                                                                  EventToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_ConnectionStatusChanged(EventToken token) = 0;
};

// Windows.Devices.Enumeration.DeviceInformation: only its other interface is called.
struct IDeviceInformation : IInspectable
{
    static constexpr GUID Iid = GuidOf("aba0fb95-4398-489d-8e44-e6130927011f");
};

struct IDevicePairingResult : IInspectable
{
    static constexpr GUID Iid = GuidOf("072b02bf-dd95-4025-9b37-de51adba37b7");
    virtual HRESULT STDMETHODCALLTYPE get_Status(std::int32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ProtectionLevelUsed(std::int32_t* value) = 0;
};
using PairingOperation = IAsyncOperation<IDevicePairingResult*>;

// PairAsync is Windows' ordinary pairing: Windows itself asks the user.
struct IDeviceInformationPairing : IInspectable
{
    static constexpr GUID Iid = GuidOf("2c4769f5-f684-40d5-8469-e8dbaab70485");
    virtual HRESULT STDMETHODCALLTYPE get_IsPaired(Boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CanPair(Boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE PairAsync(PairingOperation** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE PairWithProtectionLevelAsync(std::int32_t level,
                                                                   PairingOperation** operation) = 0;
};

struct IDeviceInformation2 : IInspectable
{
    static constexpr GUID Iid = GuidOf("f156a638-7997-48d9-a10c-269d46533f48");
    virtual HRESULT STDMETHODCALLTYPE get_Kind(std::int32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Pairing(IDeviceInformationPairing** value) = 0;
};

struct IBluetoothLEDevice2 : IInspectable
{
    static constexpr GUID Iid = GuidOf("26f062b3-7aee-4d31-baba-b1b9775f5916");
    virtual HRESULT STDMETHODCALLTYPE get_DeviceInformation(IDeviceInformation** value) = 0;
};

// The device's BluetoothDeviceId is only handed on, to GattSession.FromDeviceIdAsync.
struct IBluetoothLEDevice4 : IInspectable
{
    static constexpr GUID Iid = GuidOf("2b605031-2248-4b2f-acf0-7cee36fc5870");
    virtual HRESULT STDMETHODCALLTYPE get_BluetoothDeviceId(IInspectable** value) = 0;
};

struct IGattSession : IInspectable
{
    static constexpr GUID Iid = GuidOf("d23b5143-e04e-4c24-999c-9c256f9856b1");
    virtual HRESULT STDMETHODCALLTYPE get_DeviceId(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CanMaintainConnection(Boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_MaintainConnection(Boolean value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MaintainConnection(Boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MaxPduSize(std::uint16_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SessionStatus(std::int32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_MaxPduSizeChanged(ITypedEventHandler* handler,
                                                            EventToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_MaxPduSizeChanged(EventToken token) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_SessionStatusChanged(ITypedEventHandler* handler,
                                                               EventToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_SessionStatusChanged(EventToken token) = 0;
};
using GattSessionOperation = IAsyncOperation<IGattSession*>;

struct IGattSessionStatusChangedEventArgs : IInspectable
{
    static constexpr GUID Iid = GuidOf("7605b72e-837f-404c-ab34-3163f39ddf32");
    virtual HRESULT STDMETHODCALLTYPE get_Error(std::int32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Status(std::int32_t* value) = 0;
};

struct IGattSessionStatics : IInspectable
{
    static constexpr GUID Iid = GuidOf("2e65b95c-539f-4db7-82a8-73bdbbf73ebf");
    virtual HRESULT STDMETHODCALLTYPE FromDeviceIdAsync(IInspectable* deviceId,
                                                        GattSessionOperation** operation) = 0;
};

struct IBluetoothLEDevice3 : IInspectable
{
    static constexpr GUID Iid = GuidOf("aee9e493-44ac-40dc-af33-b2c13c01ca46");
    virtual HRESULT STDMETHODCALLTYPE get_DeviceAccessInformation(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE RequestAccessAsync(IInspectable** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetGattServicesAsync(ServicesOperation** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetGattServicesWithCacheModeAsync(std::int32_t cacheMode,
                                                                        ServicesOperation** operation) = 0;
};

using DeviceOperation = IAsyncOperation<IBluetoothLEDevice*>;

struct IBluetoothLEDeviceStatics2 : IInspectable
{
    static constexpr GUID Iid = GuidOf("5f12c06b-3bac-43e8-ad16-563271bd41c2");
    virtual HRESULT STDMETHODCALLTYPE GetDeviceSelectorFromPairingState(Boolean paired,
                                                                        HSTRING* selector) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDeviceSelectorFromConnectionStatus(std::int32_t status,
                                                                            HSTRING* selector) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDeviceSelectorFromDeviceName(HSTRING name, HSTRING* selector) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDeviceSelectorFromBluetoothAddress(std::uint64_t address,
                                                                            HSTRING* selector) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDeviceSelectorFromBluetoothAddressWithBluetoothAddressType(
        std::uint64_t address, std::int32_t addressType, HSTRING* selector) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDeviceSelectorFromAppearance(IInspectable* appearance,
                                                                      HSTRING* selector) = 0;
    virtual HRESULT STDMETHODCALLTYPE FromBluetoothAddressWithBluetoothAddressTypeAsync(
        std::uint64_t address, std::int32_t addressType, DeviceOperation** operation) = 0;
};

namespace Instances
{
#define PD_GATT_RC(name, iid) "rc(Windows.Devices.Bluetooth.GenericAttributeProfile." name ";{" iid "})"
#define PD_DEVICE_RC "rc(Windows.Devices.Bluetooth.BluetoothLEDevice;{b5ee2f7b-4ad8-4642-ac48-80a0b500e887})"
#define PD_SERVICES_RESULT_RC PD_GATT_RC("GattDeviceServicesResult", "171dd3ee-016d-419d-838a-576cf475a3d8")
#define PD_CHARACTERISTICS_RESULT_RC                                                                         \
    PD_GATT_RC("GattCharacteristicsResult", "1194945c-b257-4f3e-9db7-f68bc9a9aef2")
#define PD_DESCRIPTORS_RESULT_RC PD_GATT_RC("GattDescriptorsResult", "9bc091f3-95e7-4489-8d25-ff81955a57b9")
#define PD_ENUMERATION_RC(name, iid) "rc(Windows.Devices.Enumeration." name ";{" iid "})"
#define PD_READ_RESULT_RC PD_GATT_RC("GattReadResult", "63a66f08-1aea-4c4c-a50f-97bae474b348")
#define PD_WRITE_RESULT_RC PD_GATT_RC("GattWriteResult", "4991ddb1-cb2b-44f7-99fc-d29a2871dc9b")
#define PD_CONFIGURATION_RC                                                                                  \
    PD_GATT_RC("GattReadClientCharacteristicConfigurationDescriptorResult",                                  \
               "63a66f09-1aea-4c4c-a50f-97bae474b348")
#define PD_SESSION_RC PD_GATT_RC("GattSession", "d23b5143-e04e-4c24-999c-9c256f9856b1")
#define PD_PAIRING_RESULT_RC PD_ENUMERATION_RC("DevicePairingResult", "072b02bf-dd95-4025-9b37-de51adba37b7")
#define PD_TYPED_HANDLER "pinterface({9de1c534-6ae1-11e0-84e1-18a905bcc53f};"
#define PD_ASYNC_OPERATION "pinterface({9fc2b0bb-e446-44e2-aa61-9cab8f636af2};"
#define PD_ASYNC_HANDLER "pinterface({fcdcf02c-e5d8-4478-915a-4d90b74b83a5};"
#define PD_VECTOR_VIEW "pinterface({bbe1fa4c-b0e3-4583-baef-1f1b2e483e56};"
inline constexpr TypeInstance DeviceOperation = Instance(PD_ASYNC_OPERATION PD_DEVICE_RC ")");
inline constexpr TypeInstance DeviceCompletedHandler = Instance(PD_ASYNC_HANDLER PD_DEVICE_RC ")");
inline constexpr TypeInstance ServicesOperation = Instance(PD_ASYNC_OPERATION PD_SERVICES_RESULT_RC ")");
inline constexpr TypeInstance ServicesCompletedHandler = Instance(PD_ASYNC_HANDLER PD_SERVICES_RESULT_RC ")");
inline constexpr TypeInstance CharacteristicsOperation =
    Instance(PD_ASYNC_OPERATION PD_CHARACTERISTICS_RESULT_RC ")");
inline constexpr TypeInstance CharacteristicsCompletedHandler =
    Instance(PD_ASYNC_HANDLER PD_CHARACTERISTICS_RESULT_RC ")");
inline constexpr TypeInstance DescriptorsOperation =
    Instance(PD_ASYNC_OPERATION PD_DESCRIPTORS_RESULT_RC ")");
inline constexpr TypeInstance DescriptorsCompletedHandler =
    Instance(PD_ASYNC_HANDLER PD_DESCRIPTORS_RESULT_RC ")");
inline constexpr TypeInstance ServiceVectorView =
    Instance(PD_VECTOR_VIEW PD_GATT_RC("GattDeviceService", "ac7b7c05-b33c-47cf-990f-6b8f5577df71") ")");
inline constexpr TypeInstance CharacteristicVectorView =
    Instance(PD_VECTOR_VIEW PD_GATT_RC("GattCharacteristic", "59cb50c1-5934-4f68-a198-eb864fa44e6b") ")");
inline constexpr TypeInstance ReadOperation = Instance(PD_ASYNC_OPERATION PD_READ_RESULT_RC ")");
inline constexpr TypeInstance ReadCompletedHandler = Instance(PD_ASYNC_HANDLER PD_READ_RESULT_RC ")");
inline constexpr TypeInstance WriteOperation = Instance(PD_ASYNC_OPERATION PD_WRITE_RESULT_RC ")");
inline constexpr TypeInstance WriteCompletedHandler = Instance(PD_ASYNC_HANDLER PD_WRITE_RESULT_RC ")");
inline constexpr TypeInstance ConfigurationOperation = Instance(PD_ASYNC_OPERATION PD_CONFIGURATION_RC ")");
inline constexpr TypeInstance ConfigurationCompletedHandler =
    Instance(PD_ASYNC_HANDLER PD_CONFIGURATION_RC ")");
inline constexpr TypeInstance GattSessionOperation = Instance(PD_ASYNC_OPERATION PD_SESSION_RC ")");
inline constexpr TypeInstance GattSessionCompletedHandler = Instance(PD_ASYNC_HANDLER PD_SESSION_RC ")");
inline constexpr TypeInstance PairingOperation = Instance(PD_ASYNC_OPERATION PD_PAIRING_RESULT_RC ")");
inline constexpr TypeInstance PairingCompletedHandler = Instance(PD_ASYNC_HANDLER PD_PAIRING_RESULT_RC ")");
inline constexpr TypeInstance ReferenceUInt8 =
    Instance("pinterface({61c17706-2d65-11e0-9ae8-d48564015472};u1)");
inline constexpr TypeInstance ValueChangedHandler = Instance(
    PD_TYPED_HANDLER PD_GATT_RC("GattCharacteristic", "59cb50c1-5934-4f68-a198-eb864fa44e6b") ";" PD_GATT_RC(
        "GattValueChangedEventArgs", "d21bdb54-06e3-4ed8-a263-acfac8ba7313") ")");
inline constexpr TypeInstance SessionStatusChangedHandler =
    Instance(PD_TYPED_HANDLER PD_SESSION_RC
             ";" PD_GATT_RC("GattSessionStatusChangedEventArgs", "7605b72e-837f-404c-ab34-3163f39ddf32") ")");
inline constexpr TypeInstance ConnectionStatusChangedHandler =
    Instance(PD_TYPED_HANDLER PD_DEVICE_RC ";cinterface(IInspectable))");
inline constexpr TypeInstance DescriptorVectorView =
    Instance(PD_VECTOR_VIEW PD_GATT_RC("GattDescriptor", "92055f2b-8084-4344-b4c2-284de19a8506") ")");
#undef PD_GATT_RC
#undef PD_DEVICE_RC
#undef PD_SERVICES_RESULT_RC
#undef PD_CHARACTERISTICS_RESULT_RC
#undef PD_DESCRIPTORS_RESULT_RC
#undef PD_ASYNC_OPERATION
#undef PD_ASYNC_HANDLER
#undef PD_VECTOR_VIEW
#undef PD_ENUMERATION_RC
#undef PD_READ_RESULT_RC
#undef PD_WRITE_RESULT_RC
#undef PD_CONFIGURATION_RC
#undef PD_SESSION_RC
#undef PD_PAIRING_RESULT_RC
#undef PD_TYPED_HANDLER
} // namespace Instances

inline constexpr wchar_t LeDeviceClass[] = L"Windows.Devices.Bluetooth.BluetoothLEDevice";
inline constexpr wchar_t GattSessionClass[] =
    L"Windows.Devices.Bluetooth.GenericAttributeProfile.GattSession";

} // namespace Pd::Platform::WinRt::Abi
