#include "platform/mbn/AbiMbnTable.h"

#include "platform/mbn/AbiMbn.h"

#include <ocidl.h>

namespace Pd::Platform::Mbn
{

const std::vector<WinRt::DeclaredInterface>& DeclaredComInterfaces()
{
    using WinRt::SlotOf;
    static const GUID containerIid = IID_IConnectionPointContainer;
    static const GUID connectionPointIid = IID_IConnectionPoint;
    static const std::vector<WinRt::DeclaredInterface> table = {
        {"IMbnInterfaceManager",
         &Abi::IMbnInterfaceManager::Iid,
         {{"GetInterface", SlotOf(&Abi::IMbnInterfaceManager::GetInterface)},
          {"GetInterfaces", SlotOf(&Abi::IMbnInterfaceManager::GetInterfaces)}}},
        {"IMbnInterface",
         &Abi::IMbnInterface::Iid,
         {{"get_InterfaceID", SlotOf(&Abi::IMbnInterface::get_InterfaceID)},
          {"GetInterfaceCapability", SlotOf(&Abi::IMbnInterface::GetInterfaceCapability)},
          {"GetSubscriberInformation", SlotOf(&Abi::IMbnInterface::GetSubscriberInformation)},
          {"GetReadyState", SlotOf(&Abi::IMbnInterface::GetReadyState)}}},
        {"IMbnSubscriberInformation",
         &Abi::IMbnSubscriberInformation::Iid,
         {{"get_SubscriberID", SlotOf(&Abi::IMbnSubscriberInformation::get_SubscriberID)},
          {"get_SimIccID", SlotOf(&Abi::IMbnSubscriberInformation::get_SimIccID)}}},
        {"IMbnRegistration",
         &Abi::IMbnRegistration::Iid,
         {{"GetRegisterState", SlotOf(&Abi::IMbnRegistration::GetRegisterState)},
          {"GetRegisterMode", SlotOf(&Abi::IMbnRegistration::GetRegisterMode)},
          {"GetProviderID", SlotOf(&Abi::IMbnRegistration::GetProviderID)},
          {"GetProviderName", SlotOf(&Abi::IMbnRegistration::GetProviderName)},
          {"GetRoamingText", SlotOf(&Abi::IMbnRegistration::GetRoamingText)},
          {"GetAvailableDataClasses", SlotOf(&Abi::IMbnRegistration::GetAvailableDataClasses)},
          {"GetCurrentDataClass", SlotOf(&Abi::IMbnRegistration::GetCurrentDataClass)}}},
        {"IMbnSignal",
         &Abi::IMbnSignal::Iid,
         {{"GetSignalStrength", SlotOf(&Abi::IMbnSignal::GetSignalStrength)}}},
        {"IMbnSmsConfiguration",
         &Abi::IMbnSmsConfiguration::Iid,
         {{"get_ServiceCenterAddress", SlotOf(&Abi::IMbnSmsConfiguration::get_ServiceCenterAddress)}}},
        {"IMbnSms",
         &Abi::IMbnSms::Iid,
         {{"GetSmsConfiguration", SlotOf(&Abi::IMbnSms::GetSmsConfiguration)},
          {"SetSmsConfiguration", SlotOf(&Abi::IMbnSms::SetSmsConfiguration)},
          {"SmsSendPdu", SlotOf(&Abi::IMbnSms::SmsSendPdu)},
          {"SmsSendCdma", SlotOf(&Abi::IMbnSms::SmsSendCdma)},
          {"SmsSendCdmaPdu", SlotOf(&Abi::IMbnSms::SmsSendCdmaPdu)},
          {"SmsRead", SlotOf(&Abi::IMbnSms::SmsRead)},
          {"SmsDelete", SlotOf(&Abi::IMbnSms::SmsDelete)},
          {"GetSmsStatus", SlotOf(&Abi::IMbnSms::GetSmsStatus)}}},
        {"IMbnSmsReadMsgPdu",
         &Abi::IMbnSmsReadMsgPdu::Iid,
         {{"get_Index", SlotOf(&Abi::IMbnSmsReadMsgPdu::get_Index)},
          {"get_Status", SlotOf(&Abi::IMbnSmsReadMsgPdu::get_Status)},
          {"get_PduData", SlotOf(&Abi::IMbnSmsReadMsgPdu::get_PduData)}}},
        {"IMbnSmsEvents",
         &Abi::IMbnSmsEvents::Iid,
         {{"OnSmsConfigurationChange", SlotOf(&Abi::IMbnSmsEvents::OnSmsConfigurationChange)},
          {"OnSetSmsConfigurationComplete", SlotOf(&Abi::IMbnSmsEvents::OnSetSmsConfigurationComplete)},
          {"OnSmsSendComplete", SlotOf(&Abi::IMbnSmsEvents::OnSmsSendComplete)},
          {"OnSmsReadComplete", SlotOf(&Abi::IMbnSmsEvents::OnSmsReadComplete)},
          {"OnSmsNewClass0Message", SlotOf(&Abi::IMbnSmsEvents::OnSmsNewClass0Message)},
          {"OnSmsDeleteComplete", SlotOf(&Abi::IMbnSmsEvents::OnSmsDeleteComplete)},
          {"OnSmsStatusChange", SlotOf(&Abi::IMbnSmsEvents::OnSmsStatusChange)}}},
        {"IMbnSignalEvents",
         &Abi::IMbnSignalEvents::Iid,
         {{"OnSignalStateChange", SlotOf(&Abi::IMbnSignalEvents::OnSignalStateChange)}}},
        {"IMbnRegistrationEvents",
         &Abi::IMbnRegistrationEvents::Iid,
         {{"OnRegisterModeAvailable", SlotOf(&Abi::IMbnRegistrationEvents::OnRegisterModeAvailable)},
          {"OnRegisterStateChange", SlotOf(&Abi::IMbnRegistrationEvents::OnRegisterStateChange)},
          {"OnPacketServiceStateChange", SlotOf(&Abi::IMbnRegistrationEvents::OnPacketServiceStateChange)},
          {"OnSetRegisterModeComplete", SlotOf(&Abi::IMbnRegistrationEvents::OnSetRegisterModeComplete)}}},
        // The toolchain's own declarations, checked all the same.
        {"IConnectionPointContainer",
         &containerIid,
         {{"FindConnectionPoint", SlotOf(&IConnectionPointContainer::FindConnectionPoint)}}},
        {"IConnectionPoint",
         &connectionPointIid,
         {{"Advise", SlotOf(&IConnectionPoint::Advise)}, {"Unadvise", SlotOf(&IConnectionPoint::Unadvise)}}},
    };
    return table;
}

} // namespace Pd::Platform::Mbn
