// Our declarations of Windows' Bluetooth adapter: the default adapter, its address and what it
// supports (see AbiFoundation.h for what is declared and how it is checked).
#pragma once

#include "platform/winrt/AbiFoundation.h"

namespace Pd::Platform::WinRt::Abi
{

struct IBluetoothAdapter : IInspectable
{
    static constexpr GUID Iid = GuidOf("7974f04c-5f7a-4a34-9225-a855f84b1a8b");
    virtual HRESULT STDMETHODCALLTYPE get_DeviceId(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_BluetoothAddress(std::uint64_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsClassicSupported(Boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsLowEnergySupported(Boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsPeripheralRoleSupported(Boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsCentralRoleSupported(Boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsAdvertisementOffloadSupported(Boolean* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRadioAsync(IInspectable** operation) = 0;
};

using AdapterOperation = IAsyncOperation<IBluetoothAdapter*>;

struct IBluetoothAdapterStatics : IInspectable
{
    static constexpr GUID Iid = GuidOf("8b02fb6a-ac4c-4741-8661-8eab7d17ea9f");
    virtual HRESULT STDMETHODCALLTYPE GetDeviceSelector(HSTRING* selector) = 0;
    virtual HRESULT STDMETHODCALLTYPE FromIdAsync(HSTRING deviceId, AdapterOperation** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDefaultAsync(AdapterOperation** operation) = 0;
};

namespace Instances
{
#define PD_ADAPTER_RC "rc(Windows.Devices.Bluetooth.BluetoothAdapter;{7974f04c-5f7a-4a34-9225-a855f84b1a8b})"
inline constexpr TypeInstance AdapterOperation =
    Instance("pinterface({9fc2b0bb-e446-44e2-aa61-9cab8f636af2};" PD_ADAPTER_RC ")");
inline constexpr TypeInstance AdapterCompletedHandler =
    Instance("pinterface({fcdcf02c-e5d8-4478-915a-4d90b74b83a5};" PD_ADAPTER_RC ")");
#undef PD_ADAPTER_RC
} // namespace Instances

inline constexpr wchar_t AdapterClass[] = L"Windows.Devices.Bluetooth.BluetoothAdapter";

} // namespace Pd::Platform::WinRt::Abi
