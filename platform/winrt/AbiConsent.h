// Our declarations of Windows Hello's user consent verifier (see AbiFoundation.h).
#pragma once

#include "platform/winrt/AbiFoundation.h"

namespace Pd::Platform::WinRt::Abi
{

using ConsentOperation = IAsyncOperation<std::int32_t>; // an enum result

struct IUserConsentVerifierStatics : IInspectable
{
    static constexpr GUID Iid = GuidOf("af4f3f91-564c-4ddc-b8b5-973447627c65");
    virtual HRESULT STDMETHODCALLTYPE CheckAvailabilityAsync(ConsentOperation** operation) = 0;
    virtual HRESULT STDMETHODCALLTYPE RequestVerificationAsync(HSTRING message,
                                                               ConsentOperation** operation) = 0;
};

// The desktop form: the prompt is owned by a window of ours.
struct IUserConsentVerifierInterop : IInspectable
{
    static constexpr GUID Iid = GuidOf("39e050c3-4e74-441a-8dc0-b81104df949c");
    virtual HRESULT STDMETHODCALLTYPE RequestVerificationForWindowAsync(HWND appWindow, HSTRING message,
                                                                        REFIID riid, void** operation) = 0;
};

namespace Instances
{
inline constexpr TypeInstance AvailabilityOperation =
    Instance("pinterface({9fc2b0bb-e446-44e2-aa61-9cab8f636af2};"
             "enum(Windows.Security.Credentials.UI.UserConsentVerifierAvailability;i4))");
inline constexpr TypeInstance AvailabilityCompletedHandler =
    Instance("pinterface({fcdcf02c-e5d8-4478-915a-4d90b74b83a5};"
             "enum(Windows.Security.Credentials.UI.UserConsentVerifierAvailability;i4))");
inline constexpr TypeInstance VerificationOperation =
    Instance("pinterface({9fc2b0bb-e446-44e2-aa61-9cab8f636af2};"
             "enum(Windows.Security.Credentials.UI.UserConsentVerificationResult;i4))");
inline constexpr TypeInstance VerificationCompletedHandler =
    Instance("pinterface({fcdcf02c-e5d8-4478-915a-4d90b74b83a5};"
             "enum(Windows.Security.Credentials.UI.UserConsentVerificationResult;i4))");
} // namespace Instances

inline constexpr wchar_t UserConsentVerifierClass[] = L"Windows.Security.Credentials.UI.UserConsentVerifier";

} // namespace Pd::Platform::WinRt::Abi
