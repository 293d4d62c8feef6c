// Our declarations of Bluetooth LE devices and the GATT database walk: opening a device by its
// address, its services, their characteristics and their descriptors (see AbiFoundation.h for
// what is declared and how it is checked).
#pragma once

#include "platform/winrt/AbiFoundation.h"

namespace Pd::Platform::WinRt::Abi
{

inline constexpr std::int32_t CacheModeUncached = 1; // BluetoothCacheMode
inline constexpr std::int32_t AddressPublic = 0;     // BluetoothAddressType
inline constexpr std::int32_t AddressRandom = 1;

struct IGattDescriptor : IInspectable
{
    static constexpr GUID Iid = GuidOf("92055f2b-8084-4344-b4c2-284de19a8506");
    virtual HRESULT STDMETHODCALLTYPE get_ProtectionLevel(std::int32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ProtectionLevel(std::int32_t value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Uuid(GUID* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_AttributeHandle(std::uint16_t* value) = 0;
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
};

struct IGattCharacteristic3 : IInspectable
{
    static constexpr GUID Iid = GuidOf("3f3c663e-93d4-406b-b817-db81f8ed53b3");
    virtual HRESULT STDMETHODCALLTYPE GetDescriptorsAsync(DescriptorsOperation** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDescriptorsWithCacheModeAsync(std::int32_t cacheMode,
                                                                       DescriptorsOperation** operation) = 0;
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
} // namespace Instances

inline constexpr wchar_t LeDeviceClass[] = L"Windows.Devices.Bluetooth.BluetoothLEDevice";

} // namespace Pd::Platform::WinRt::Abi
