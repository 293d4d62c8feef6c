// Our declarations of Windows' SMS router: message registrations with their filter rules, and
// the WAP messages a registration is handed (see AbiFoundation.h for what is declared and how
// it is checked).
#pragma once

#include "platform/winrt/AbiFoundation.h"

namespace Pd::Platform::WinRt::Abi
{

struct ISmsFilterRule : IInspectable
{
    static constexpr GUID Iid = GuidOf("40e32fae-b049-4fbc-afe9-e2a610eff55c");
    virtual HRESULT STDMETHODCALLTYPE get_MessageType(std::int32_t* value) = 0;
};

// IVector<SmsFilterRule>, declared as the one instance we use, up to Append.
struct ISmsFilterRuleVector : IInspectable
{
    virtual HRESULT STDMETHODCALLTYPE GetAt(std::uint32_t index, ISmsFilterRule** item) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Size(std::uint32_t* size) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetView(IInspectable** view) = 0;
    virtual HRESULT STDMETHODCALLTYPE IndexOf(ISmsFilterRule* item, std::uint32_t* index, Boolean* found) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetAt(std::uint32_t index, ISmsFilterRule* item) = 0;
    virtual HRESULT STDMETHODCALLTYPE InsertAt(std::uint32_t index, ISmsFilterRule* item) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveAt(std::uint32_t index) = 0;
    virtual HRESULT STDMETHODCALLTYPE Append(ISmsFilterRule* item) = 0;
};

struct ISmsFilterRuleFactory : IInspectable
{
    static constexpr GUID Iid = GuidOf("00c36508-6296-4f29-9aad-8920ceba3ce8");
    virtual HRESULT STDMETHODCALLTYPE CreateFilterRule(std::int32_t messageType, ISmsFilterRule** rule) = 0;
};

struct ISmsFilterRules : IInspectable
{
    static constexpr GUID Iid = GuidOf("4e47eafb-79cd-4881-9894-55a4135b23fa");
    virtual HRESULT STDMETHODCALLTYPE get_ActionType(std::int32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Rules(ISmsFilterRuleVector** value) = 0;
};

struct ISmsFilterRulesFactory : IInspectable
{
    static constexpr GUID Iid = GuidOf("a09924ed-6e2e-4530-9fde-465d02eed00e");
    virtual HRESULT STDMETHODCALLTYPE CreateFilterRules(std::int32_t actionType, ISmsFilterRules** rules) = 0;
};

struct ISmsWapMessage : IInspectable
{
    static constexpr GUID Iid = GuidOf("cd937743-7a55-4d3b-9021-f22e022d09c5");
    virtual HRESULT STDMETHODCALLTYPE get_Timestamp(std::int64_t* value) = 0; // DateTime
    virtual HRESULT STDMETHODCALLTYPE get_To(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_From(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ApplicationId(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ContentType(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_BinaryBody(IBuffer** value) = 0;
};

struct ISmsMessageReceivedTriggerDetails : IInspectable
{
    static constexpr GUID Iid = GuidOf("2bcfcbd4-2657-4128-ad5f-e3877132bdb1");
    virtual HRESULT STDMETHODCALLTYPE get_MessageType(std::int32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_TextMessage(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_WapMessage(ISmsWapMessage** value) = 0;
};

struct ISmsMessageRegistration : IInspectable
{
    static constexpr GUID Iid = GuidOf("1720503e-f34f-446b-83b3-0ff19923b409");
    virtual HRESULT STDMETHODCALLTYPE get_Id(HSTRING* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unregister() = 0;
    virtual HRESULT STDMETHODCALLTYPE add_MessageReceived(ITypedEventHandler* handler, EventToken* token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_MessageReceived(EventToken token) = 0;
};

struct ISmsMessageRegistrationStatics : IInspectable
{
    static constexpr GUID Iid = GuidOf("63a05464-2898-4778-a03c-6f994907d63a");
    virtual HRESULT STDMETHODCALLTYPE get_AllRegistrations(IVectorView<ISmsMessageRegistration*>** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE Register(HSTRING id, ISmsFilterRules* rules,
                                               ISmsMessageRegistration** registration) = 0;
};

namespace Instances
{
inline constexpr TypeInstance RegistrationVectorView =
    Instance("pinterface({bbe1fa4c-b0e3-4583-baef-1f1b2e483e56};"
             "rc(Windows.Devices.Sms.SmsMessageRegistration;{1720503e-f34f-446b-83b3-0ff19923b409}))");
inline constexpr TypeInstance FilterRuleVector =
    Instance("pinterface({913337e9-11a1-4345-a3a2-4e7f956e222d};"
             "rc(Windows.Devices.Sms.SmsFilterRule;{40e32fae-b049-4fbc-afe9-e2a610eff55c}))");
inline constexpr TypeInstance MessageReceivedHandler = Instance(
    "pinterface({9de1c534-6ae1-11e0-84e1-18a905bcc53f};"
    "rc(Windows.Devices.Sms.SmsMessageRegistration;{1720503e-f34f-446b-83b3-0ff19923b409});"
    "rc(Windows.Devices.Sms.SmsMessageReceivedTriggerDetails;{2bcfcbd4-2657-4128-ad5f-e3877132bdb1}))");
} // namespace Instances

// SmsFilterActionType and SmsMessageType values we pass.
inline constexpr std::int32_t FilterActionPeek = 2;
inline constexpr std::int32_t MessageTypeWap = 2;

inline constexpr wchar_t SmsFilterRuleClass[] = L"Windows.Devices.Sms.SmsFilterRule";
inline constexpr wchar_t SmsFilterRulesClass[] = L"Windows.Devices.Sms.SmsFilterRules";
inline constexpr wchar_t SmsMessageRegistrationClass[] = L"Windows.Devices.Sms.SmsMessageRegistration";

} // namespace Pd::Platform::WinRt::Abi
