// The Mobile Broadband service (classic COM, not declared by mingw-w64): the interface manager,
// its interfaces with their registration, signal and SMS parts, and the SMS, signal and
// registration event families a sink is advised for. Shaped like the COM calls: every call asks
// the service afresh and fails with an HRESULT; SMS requests answer with a request id at once
// and complete later through the sink, on the service's own threads.
#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Pd::Platform
{

// MBN_READY_STATE_INITIALIZED: the SIM is ready.
inline constexpr std::uint32_t MbnReadyStateInitialized = 1;
// MBN_SMS_FORMAT_PDU.
inline constexpr std::uint32_t MbnSmsFormatPdu = 1;
// MBN_SMS_FLAG: the filter of a read or delete, and the status flags.
inline constexpr std::uint32_t MbnSmsFlagAll = 0;
inline constexpr std::uint32_t MbnSmsFlagIndex = 1;
inline constexpr std::uint32_t MbnSmsFlagMessageStoreFull = 0x1;
inline constexpr std::uint32_t MbnSmsFlagNewMessage = 0x2;

// MBN_SMS_FILTER.
struct MbnSmsFilter
{
    std::uint32_t flag = MbnSmsFlagAll;
    std::uint32_t messageIndex = 0;
};

// MBN_SMS_STATUS_INFO.
struct MbnSmsStatus
{
    std::uint32_t flag = 0;
    std::uint32_t messageIndex = 0;
};

// One element of a read's message array (IMbnSmsReadMsgPdu). An element that does not answer for
// that interface has `isPdu` false; a property whose call fails is empty.
struct MbnSmsMessage
{
    bool isPdu = true;
    std::optional<std::uint32_t> index;
    std::optional<std::uint32_t> status; // MBN_MSG_STATUS: 0 new, 1 old, 2 draft, 3 sent
    std::optional<std::wstring> pduData; // hexadecimal text
};

// IMbnSubscriberInformation: each property may fail on its own.
struct MbnSubscriberInformation
{
    std::optional<std::wstring> subscriberId;
    std::optional<std::wstring> simIccId;
};

// The event sink: IMbnSmsEvents, IMbnSignalEvents and IMbnRegistrationEvents in one object.
// Called on the service's threads, possibly several at once.
class MbnEvents
{
public:
    virtual ~MbnEvents() = default;
    virtual void OnSmsSendComplete(std::uint32_t requestId, HRESULT status) = 0;
    virtual void OnSmsReadComplete(std::uint32_t format, const std::vector<MbnSmsMessage>& messages,
                                   bool moreToCome, std::uint32_t requestId, HRESULT status) = 0;
    virtual void OnSmsNewClass0Message(std::uint32_t format, const std::vector<MbnSmsMessage>& messages) = 0;
    virtual void OnSmsDeleteComplete(std::uint32_t requestId, HRESULT status) = 0;
    virtual void OnSmsStatusChange() = 0;
    virtual void OnSignalStateChange() = 0;
    virtual void OnRegisterStateChange() = 0;
    virtual void OnPacketServiceStateChange() = 0;
};

// The event families a sink is advised for, each its own connection point.
enum class MbnEventFamily
{
    Sms,
    Signal,
    Registration,
};

// IMbnRegistration.
class MbnRegistration
{
public:
    virtual ~MbnRegistration() = default;
    virtual Outcome<std::uint32_t> GetRegisterState() = 0; // MBN_REGISTER_STATE
    virtual Outcome<std::wstring> GetProviderId() = 0;
    virtual Outcome<std::wstring> GetProviderName() = 0;
    virtual Outcome<std::uint32_t> GetCurrentDataClass() = 0; // MBN_DATA_CLASS bits
};

// IMbnSignal.
class MbnSignal
{
public:
    virtual ~MbnSignal() = default;
    virtual Outcome<std::uint32_t> GetSignalStrength() = 0;
};

// IMbnSms. The request ids come back in the completion events.
class MbnSms
{
public:
    virtual ~MbnSms() = default;
    // GetSmsConfiguration's ServiceCenterAddress.
    virtual Outcome<std::wstring> GetServiceCenterAddress() = 0;
    virtual Outcome<std::uint32_t> SmsSendPdu(const std::wstring& pduData, std::uint8_t size) = 0;
    virtual Outcome<std::uint32_t> SmsRead(MbnSmsFilter filter, std::uint32_t format) = 0;
    virtual Outcome<std::uint32_t> SmsDelete(MbnSmsFilter filter) = 0;
    virtual Outcome<MbnSmsStatus> GetSmsStatus() = 0;
};

// IMbnInterface, with what QueryInterface gives on it: null where it does not answer.
class MbnInterface
{
public:
    virtual ~MbnInterface() = default;
    virtual Outcome<std::uint32_t> GetReadyState() = 0; // MBN_READY_STATE
    // GetInterfaceCapability's deviceID.
    virtual Outcome<std::wstring> GetDeviceId() = 0;
    virtual Outcome<MbnSubscriberInformation> GetSubscriberInformation() = 0;
    virtual std::shared_ptr<MbnRegistration> Registration() = 0;
    virtual std::shared_ptr<MbnSignal> Signal() = 0;
    virtual std::shared_ptr<MbnSms> Sms() = 0;
};

// IMbnInterfaceManager, also the connection-point container of the events.
class MbnInterfaceManager
{
public:
    virtual ~MbnInterfaceManager() = default;
    // In the order Windows gives them; an element that is no IMbnInterface is null.
    virtual Outcome<std::vector<std::shared_ptr<MbnInterface>>> GetInterfaces() = 0;
    // Advise on the family's connection point: the cookie for Unadvise. The manager holds the
    // sink until it is unadvised.
    virtual Outcome<std::uint32_t> Advise(MbnEventFamily family, std::shared_ptr<MbnEvents> sink) = 0;
    virtual void Unadvise(MbnEventFamily family, std::uint32_t cookie) = 0;
};

// CoCreateInstance of the interface manager; the simulator's modem when simulating. Where the
// service is missing this fails with its HRESULT (class not registered: no modem).
Outcome<std::shared_ptr<MbnInterfaceManager>> MobileBroadband();

} // namespace Pd::Platform
