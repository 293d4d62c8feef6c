// Windows' default Bluetooth adapter, as the test scripts it in PD_TEST_ADAPTER:
//   "<address hex>"  the adapter (ending as ReadScript reads it: "thread <address hex>" later on
//                    another thread, "error <hex>", "start <hex>"); "none": no adapter;
//   "broken"         an adapter whose address cannot be read
#include "platform/winrt/AbiBluetoothAdapter.h"
#include "tests/support/winrt-classes/Scripting.h"

#include <cwchar>
#include <new>

namespace Pd::TestClasses
{
namespace
{

class Adapter final : public Inspectable<Abi::IBluetoothAdapter>
{
public:
    explicit Adapter(std::wstring address) : address_(std::move(address)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::IBluetoothAdapter::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_DeviceId(HSTRING* v) override { return *v = nullptr, S_OK; }
    HRESULT STDMETHODCALLTYPE get_BluetoothAddress(std::uint64_t* v) override
    {
        if (address_ == L"broken")
            return *v = 0, HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_AVAILABLE);
        return *v = std::wcstoull(address_.c_str(), nullptr, 16), S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IsClassicSupported(Abi::Boolean* v) override { return *v = 1, S_OK; }
    HRESULT STDMETHODCALLTYPE get_IsLowEnergySupported(Abi::Boolean* v) override { return *v = 1, S_OK; }
    HRESULT STDMETHODCALLTYPE get_IsPeripheralRoleSupported(Abi::Boolean* v) override { return *v = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE get_IsCentralRoleSupported(Abi::Boolean* v) override { return *v = 1, S_OK; }
    HRESULT STDMETHODCALLTYPE get_IsAdvertisementOffloadSupported(Abi::Boolean* v) override
    {
        return *v = 0, S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRadioAsync(IInspectable** v) override { return *v = nullptr, E_NOTIMPL; }

private:
    std::wstring address_;
};

using AdapterOperation = Operation<Abi::AdapterOperation, Abi::IBluetoothAdapter*>;

class AdapterFactory final : public Inspectable<IActivationFactory>, public Abi::IBluetoothAdapterStatics
{
public:
    PD_TEST_FORWARD_INSPECTABLE(IActivationFactory)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return AnswerAlso<Abi::IBluetoothAdapterStatics>(this, asked, Abi::IidActivationFactory, out);
    }
    HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** v) override { return *v = nullptr, E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDeviceSelector(HSTRING* v) override { return *v = nullptr, E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FromIdAsync(HSTRING, Abi::AdapterOperation** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDefaultAsync(Abi::AdapterOperation** operation) override
    {
        Note(L"GetDefaultAsync");
        *operation = nullptr;
        const Scripted scripted = ReadScript(L"PD_TEST_ADAPTER");
        if (FAILED(scripted.startFails))
            return scripted.startFails;
        Adapter* adapter = scripted.rest == L"none" ? nullptr : new Adapter(scripted.rest);
        *operation = new AdapterOperation(Abi::Instances::AdapterOperation.iid, adapter, scripted.ending);
        if (adapter)
            adapter->Release();
        return S_OK;
    }
};

} // namespace

IActivationFactory* MakeBluetoothAdapterFactory(const std::wstring& className)
{
    if (className != Abi::AdapterClass)
        return nullptr;
    return new (std::nothrow) AdapterFactory();
}

} // namespace Pd::TestClasses
