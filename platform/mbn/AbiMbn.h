// Our declarations of the Mobile Broadband COM interfaces this program calls (classic COM:
// IUnknown-based, BSTR, VARIANT_BOOL and SAFEARRAY). The toolchain declares none of them. Only
// the slots up to the last one called are declared, except where we implement the interface
// (the event interfaces: every slot); the ids and slots are checked against the published ABI
// by the platform tests.
#pragma once

#include "platform/winrt/TypeIid.h"

#include <windows.h>

#include <oaidl.h>

#include <cstdint>

namespace Pd::Platform::Mbn::Abi
{

using WinRt::GuidOf;

inline constexpr GUID ClsidInterfaceManager = GuidOf("bdfee05b-4418-11dd-90ed-001c257ccff1");

struct InterfaceCaps // MBN_INTERFACE_CAPS
{
    std::int32_t cellularClass;
    std::int32_t voiceClass;
    std::uint32_t dataClass;
    BSTR customDataClass;
    std::uint32_t gsmBandClass;
    std::uint32_t cdmaBandClass;
    BSTR customBandClass;
    std::uint32_t smsCaps;
    std::uint32_t controlCaps;
    BSTR deviceId;
    BSTR manufacturer;
    BSTR model;
    BSTR firmwareInfo;
};

struct SmsFilter // MBN_SMS_FILTER
{
    std::int32_t flag;
    std::uint32_t messageIndex;
};

struct SmsStatusInfo // MBN_SMS_STATUS_INFO
{
    std::uint32_t flag;
    std::uint32_t messageIndex;
};

struct IMbnSubscriberInformation : IUnknown
{
    static constexpr GUID Iid = GuidOf("459ecc43-bcf5-11dc-a8a8-001321f1405f");
    virtual HRESULT STDMETHODCALLTYPE get_SubscriberID(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SimIccID(BSTR* value) = 0;
};

struct IMbnInterface : IUnknown
{
    static constexpr GUID Iid = GuidOf("dcbbbab6-2001-4bbb-aaee-338e368af6fa");
    virtual HRESULT STDMETHODCALLTYPE get_InterfaceID(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInterfaceCapability(InterfaceCaps* caps) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSubscriberInformation(IMbnSubscriberInformation** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetReadyState(std::int32_t* state) = 0;
};

struct IMbnInterfaceManager : IUnknown
{
    static constexpr GUID Iid = GuidOf("dcbbbab6-201b-4bbb-aaee-338e368af6fa");
    virtual HRESULT STDMETHODCALLTYPE GetInterface(LPCWSTR interfaceId, IMbnInterface** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInterfaces(SAFEARRAY** interfaces) = 0;
};

struct IMbnRegistration : IUnknown
{
    static constexpr GUID Iid = GuidOf("dcbbbab6-2009-4bbb-aaee-338e368af6fa");
    virtual HRESULT STDMETHODCALLTYPE GetRegisterState(std::int32_t* state) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRegisterMode(std::int32_t* mode) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProviderID(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProviderName(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRoamingText(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAvailableDataClasses(std::uint32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentDataClass(std::uint32_t* value) = 0;
};

struct IMbnSignal : IUnknown
{
    static constexpr GUID Iid = GuidOf("dcbbbab6-2003-4bbb-aaee-338e368af6fa");
    virtual HRESULT STDMETHODCALLTYPE GetSignalStrength(std::uint32_t* value) = 0;
};

struct IMbnSmsConfiguration : IUnknown
{
    static constexpr GUID Iid = GuidOf("dcbbbab6-2012-4bbb-aaee-338e368af6fa");
    virtual HRESULT STDMETHODCALLTYPE get_ServiceCenterAddress(BSTR* value) = 0;
};

struct IMbnSms : IUnknown
{
    static constexpr GUID Iid = GuidOf("dcbbbab6-2015-4bbb-aaee-338e368af6fa");
    virtual HRESULT STDMETHODCALLTYPE GetSmsConfiguration(IMbnSmsConfiguration** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSmsConfiguration(IMbnSmsConfiguration* value,
                                                          std::uint32_t* requestId) = 0;
    virtual HRESULT STDMETHODCALLTYPE SmsSendPdu(LPCWSTR pduData, std::uint8_t size,
                                                 std::uint32_t* requestId) = 0;
    virtual HRESULT STDMETHODCALLTYPE SmsSendCdma(LPCWSTR address, std::int32_t encoding,
                                                  std::int32_t language, std::uint32_t sizeInCharacters,
                                                  SAFEARRAY* message, std::uint32_t* requestId) = 0;
    virtual HRESULT STDMETHODCALLTYPE SmsSendCdmaPdu(SAFEARRAY* message, std::uint32_t* requestId) = 0;
    virtual HRESULT STDMETHODCALLTYPE SmsRead(const SmsFilter* filter, std::int32_t format,
                                              std::uint32_t* requestId) = 0;
    virtual HRESULT STDMETHODCALLTYPE SmsDelete(const SmsFilter* filter, std::uint32_t* requestId) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSmsStatus(SmsStatusInfo* status) = 0;
};

struct IMbnSmsReadMsgPdu : IUnknown
{
    static constexpr GUID Iid = GuidOf("dcbbbab6-2013-4bbb-aaee-338e368af6fa");
    virtual HRESULT STDMETHODCALLTYPE get_Index(std::uint32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Status(std::int32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_PduData(BSTR* value) = 0;
};

struct IMbnSmsEvents : IUnknown
{
    static constexpr GUID Iid = GuidOf("dcbbbab6-2016-4bbb-aaee-338e368af6fa");
    virtual HRESULT STDMETHODCALLTYPE OnSmsConfigurationChange(IMbnSms* sms) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnSetSmsConfigurationComplete(IMbnSms* sms, std::uint32_t requestId,
                                                                    HRESULT status) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnSmsSendComplete(IMbnSms* sms, std::uint32_t requestId,
                                                        HRESULT status) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnSmsReadComplete(IMbnSms* sms, std::int32_t format,
                                                        SAFEARRAY* messages, VARIANT_BOOL moreMessages,
                                                        std::uint32_t requestId, HRESULT status) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnSmsNewClass0Message(IMbnSms* sms, std::int32_t format,
                                                            SAFEARRAY* messages) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnSmsDeleteComplete(IMbnSms* sms, std::uint32_t requestId,
                                                          HRESULT status) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnSmsStatusChange(IMbnSms* sms) = 0;
};

struct IMbnSignalEvents : IUnknown
{
    static constexpr GUID Iid = GuidOf("dcbbbab6-2004-4bbb-aaee-338e368af6fa");
    virtual HRESULT STDMETHODCALLTYPE OnSignalStateChange(IMbnSignal* signal) = 0;
};

struct IMbnRegistrationEvents : IUnknown
{
    static constexpr GUID Iid = GuidOf("dcbbbab6-200a-4bbb-aaee-338e368af6fa");
    virtual HRESULT STDMETHODCALLTYPE OnRegisterModeAvailable(IMbnRegistration* registration) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnRegisterStateChange(IMbnRegistration* registration) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnPacketServiceStateChange(IMbnRegistration* registration) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnSetRegisterModeComplete(IMbnRegistration* registration,
                                                                std::uint32_t requestId, HRESULT status) = 0;
};

} // namespace Pd::Platform::Mbn::Abi
