// Our declarations of the Bluetooth LE advertisement watcher and what its Received event
// carries (see AbiFoundation.h for what is declared and how it is checked).
#pragma once

#include "platform/winrt/AbiFoundation.h"

namespace Pd::Platform::WinRt::Abi
{

// IVector<T>: the reading slots only.
template <typename T> struct IVector : IInspectable
{
    virtual HRESULT STDMETHODCALLTYPE GetAt(std::uint32_t index, T* item) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Size(std::uint32_t* size) = 0;
};

struct IBluetoothLEAdvertisementDataSection : IInspectable
{
    static constexpr GUID Iid = GuidOf("d7213314-3a43-40f9-b6f0-92bfefc34ae3");
    virtual HRESULT STDMETHODCALLTYPE get_DataType(std::uint8_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_DataType(std::uint8_t value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Data(IBuffer** value) = 0;
};

struct IBluetoothLEAdvertisement : IInspectable
{
    static constexpr GUID Iid = GuidOf("066fb2b7-33d1-4e7d-8367-cf81d0f79653");
    virtual HRESULT STDMETHODCALLTYPE get_Flags(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Flags(IInspectable* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LocalName(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_LocalName(HSTRING value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ServiceUuids(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ManufacturerData(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    get_DataSections(IVector<IBluetoothLEAdvertisementDataSection*>** value) = 0;
};

struct IBluetoothLEAdvertisementReceivedEventArgs : IInspectable
{
    static constexpr GUID Iid = GuidOf("27987ddf-e596-41be-8d43-9e6731d4a913");
    virtual HRESULT STDMETHODCALLTYPE get_RawSignalStrengthInDBm(std::int16_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_BluetoothAddress(std::uint64_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_AdvertisementType(std::int32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Timestamp(std::int64_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Advertisement(IBluetoothLEAdvertisement** value) = 0;
};

struct IBluetoothLEAdvertisementReceivedEventArgs2 : IInspectable
{
    static constexpr GUID Iid = GuidOf("12d9c87b-0399-5f0e-a348-53b02b6b162e");
    virtual HRESULT STDMETHODCALLTYPE get_BluetoothAddressType(std::int32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_TransmitPowerLevelInDBm(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsAnonymous(Boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsConnectable(Boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsScannable(Boolean* value) = 0;
};

struct IBluetoothLEAdvertisementWatcher : IInspectable
{
    static constexpr GUID Iid = GuidOf("a6ac336f-f3d3-4297-8d6c-c81ea6623f40");
    virtual HRESULT STDMETHODCALLTYPE get_MinSamplingInterval(std::int64_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MaxSamplingInterval(std::int64_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MinOutOfRangeTimeout(std::int64_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MaxOutOfRangeTimeout(std::int64_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Status(std::int32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ScanningMode(std::int32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ScanningMode(std::int32_t value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SignalStrengthFilter(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_SignalStrengthFilter(IInspectable* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_AdvertisementFilter(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_AdvertisementFilter(IInspectable* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE Start() = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE add_Received(ITypedEventHandler* handler, EventToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_Received(EventToken token) = 0;
};

namespace Instances
{
inline constexpr TypeInstance ReceivedHandler =
    Instance("pinterface({9de1c534-6ae1-11e0-84e1-18a905bcc53f};"
             "rc(Windows.Devices.Bluetooth.Advertisement.BluetoothLEAdvertisementWatcher;"
             "{a6ac336f-f3d3-4297-8d6c-c81ea6623f40});"
             "rc(Windows.Devices.Bluetooth.Advertisement.BluetoothLEAdvertisementReceivedEventArgs;"
             "{27987ddf-e596-41be-8d43-9e6731d4a913}))");
inline constexpr TypeInstance DataSectionVector =
    Instance("pinterface({913337e9-11a1-4345-a3a2-4e7f956e222d};"
             "rc(Windows.Devices.Bluetooth.Advertisement.BluetoothLEAdvertisementDataSection;"
             "{d7213314-3a43-40f9-b6f0-92bfefc34ae3}))");
} // namespace Instances

inline constexpr wchar_t AdvertisementWatcherClass[] =
    L"Windows.Devices.Bluetooth.Advertisement.BluetoothLEAdvertisementWatcher";

} // namespace Pd::Platform::WinRt::Abi
