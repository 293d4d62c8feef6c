#include "platform/Wmi.h"

#include "core/ComApartment.h"

#include "core/ErrorText.h"
#include "platform/RealServices.h"

#include <oleauto.h>

#include <fmt/xchar.h>

namespace Pd::Core
{
namespace
{

Pd::UniqueBstr Bstr(const std::wstring& text)
{
    return Pd::UniqueBstr(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
}

HRESULT SetProxySecurity(IUnknown* proxy)
{
    return ::CoSetProxyBlanket(proxy, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                               RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
}

// Backslash before every double quote, single quote and backslash of a WQL string literal.
std::wstring EscapeWql(std::wstring_view text)
{
    std::wstring result;
    for (wchar_t c : text)
    {
        if (c == L'"' || c == L'\'' || c == L'\\')
            result += L'\\';
        result += c;
    }
    return result;
}

std::optional<bool> RealVmpInstallState()
{
    ComApartment apartment(Apartment::Multithreaded);
    auto services = WmiConnect();
    if (!services)
        return std::nullopt;
    std::wstring query = fmt::format(L"SELECT InstallState FROM Win32_OptionalFeature WHERE Name = '{}'",
                                     EscapeWql(L"VirtualMachinePlatform"));
    auto objects = WmiQuery(services->Get(), query);
    if (!objects || objects->empty())
        return std::nullopt;
    std::optional<std::uint32_t> state = WmiReadInstallState(objects->front().Get());
    if (!state)
        return std::nullopt;
    return *state == 1;
}

} // namespace

Pd::Result<Pd::ComPtr<IWbemServices>> WmiConnect()
{
    Pd::ComPtr<IWbemLocator> locator;
    HRESULT hr = ::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                    locator.PutVoid());
    if (FAILED(hr))
        return Pd::Fail(ErrorText(L"CoCreateInstance(WbemLocator)", static_cast<std::uint32_t>(hr)));
    const std::wstring path = L"ROOT\\CIMV2";
    Pd::ComPtr<IWbemServices> services;
    hr = locator->ConnectServer(Bstr(path).Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                services.Put());
    if (FAILED(hr))
        return Pd::Fail(ErrorText(L"WMI " + path, static_cast<std::uint32_t>(hr)));
    SetProxySecurity(services.Get());
    return services;
}

Pd::Result<std::vector<Pd::ComPtr<IWbemClassObject>>> WmiQuery(IWbemServices* services,
                                                               const std::wstring& query)
{
    Pd::ComPtr<IEnumWbemClassObject> enumerator;
    HRESULT hr =
        services->ExecQuery(Bstr(L"WQL").Get(), Bstr(query).Get(),
                            WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, enumerator.Put());
    if (FAILED(hr))
        return Pd::Fail(ErrorText(query, static_cast<std::uint32_t>(hr)));
    SetProxySecurity(enumerator.Get());
    std::vector<Pd::ComPtr<IWbemClassObject>> objects;
    for (;;)
    {
        IWbemClassObject* object = nullptr;
        ULONG returned = 0;
        hr = enumerator->Next(WBEM_INFINITE, 1, &object, &returned);
        if (hr != WBEM_S_NO_ERROR || returned != 1 || object == nullptr)
        {
            if (object != nullptr)
                object->Release();
            break;
        }
        objects.push_back(Pd::ComPtr<IWbemClassObject>::Attach(object));
    }
    return objects;
}

std::optional<std::uint32_t> WmiReadInstallState(IWbemClassObject* object)
{
    VARIANT value;
    ::VariantInit(&value);
    if (FAILED(object->Get(L"InstallState", 0, &value, nullptr, nullptr)))
        return std::nullopt;
    std::optional<std::uint32_t> result;
    switch (value.vt)
    {
    case VT_I2:
        result = static_cast<std::uint16_t>(value.iVal);
        break;
    case VT_UI2:
        result = value.uiVal;
        break;
    case VT_I4:
        result = static_cast<std::uint32_t>(value.lVal);
        break;
    case VT_UI4:
        result = value.ulVal;
        break;
    case VT_UI1:
        result = value.bVal;
        break;
    default:
        break;
    }
    ::VariantClear(&value);
    return result;
}

} // namespace Pd::Core

namespace Pd::Platform
{

std::optional<bool> Real::VmpInstallState()
{
    return Core::RealVmpInstallState();
}

} // namespace Pd::Platform
