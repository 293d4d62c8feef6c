// The opcodes of the commands the controller's table names (OGF in the top 6 bits, OCF in the low 10).
#pragma once

#include <cstdint>

namespace Pd::Bt::Op
{

// Link control.
inline constexpr std::uint16_t Inquiry = 0x0401;
inline constexpr std::uint16_t InquiryCancel = 0x0402;
inline constexpr std::uint16_t ExitPeriodicInquiryMode = 0x0404;
inline constexpr std::uint16_t Disconnect = 0x0406;
inline constexpr std::uint16_t CreateConnectionCancel = 0x0408;
inline constexpr std::uint16_t LinkKeyRequestReply = 0x040B;
inline constexpr std::uint16_t LinkKeyRequestNegativeReply = 0x040C;
inline constexpr std::uint16_t PinCodeRequestReply = 0x040D;
inline constexpr std::uint16_t PinCodeRequestNegativeReply = 0x040E;
inline constexpr std::uint16_t UnassignedLinkControl12 = 0x0412; // OCF 0x12 names no command
inline constexpr std::uint16_t RemoteNameRequest = 0x0419;
inline constexpr std::uint16_t RemoteNameRequestCancel = 0x041A;
inline constexpr std::uint16_t ReadRemoteSupportedFeatures = 0x041B;
inline constexpr std::uint16_t ReadRemoteVersionInformation = 0x041D;
inline constexpr std::uint16_t IoCapabilityRequestReply = 0x042B;
inline constexpr std::uint16_t UserConfirmationRequestReply = 0x042C;
inline constexpr std::uint16_t UserConfirmationRequestNegativeReply = 0x042D;
inline constexpr std::uint16_t UserPasskeyRequestReply = 0x042E;
inline constexpr std::uint16_t IoCapabilityRequestNegativeReply = 0x0434;
inline constexpr std::uint16_t StartSynchronizationTrain = 0x0443;

// Link policy.
inline constexpr std::uint16_t ReadDefaultLinkPolicySettings = 0x080E;
inline constexpr std::uint16_t WriteDefaultLinkPolicySettings = 0x080F;

// Controller and baseband.
inline constexpr std::uint16_t SetEventMask = 0x0C01;
inline constexpr std::uint16_t Reset = 0x0C03;
inline constexpr std::uint16_t SetEventFilter = 0x0C05;
inline constexpr std::uint16_t WriteLocalName = 0x0C13;
inline constexpr std::uint16_t ReadLocalName = 0x0C14;
inline constexpr std::uint16_t WriteConnectionAcceptTimeout = 0x0C16;
inline constexpr std::uint16_t WritePageTimeout = 0x0C18;
inline constexpr std::uint16_t ReadScanEnable = 0x0C19;
inline constexpr std::uint16_t WriteScanEnable = 0x0C1A;
inline constexpr std::uint16_t WritePageScanActivity = 0x0C1C;
inline constexpr std::uint16_t WriteInquiryScanActivity = 0x0C1E;
inline constexpr std::uint16_t ReadClassOfDevice = 0x0C23;
inline constexpr std::uint16_t WriteClassOfDevice = 0x0C24;
inline constexpr std::uint16_t ReadVoiceSetting = 0x0C25;
inline constexpr std::uint16_t WriteVoiceSetting = 0x0C26;
inline constexpr std::uint16_t HostBufferSize = 0x0C33;
inline constexpr std::uint16_t ReadNumberOfSupportedIac = 0x0C38;
inline constexpr std::uint16_t ReadCurrentIacLap = 0x0C39;
inline constexpr std::uint16_t WriteCurrentIacLap = 0x0C3A;
inline constexpr std::uint16_t WriteInquiryScanType = 0x0C43;
inline constexpr std::uint16_t WriteInquiryMode = 0x0C45;
inline constexpr std::uint16_t WritePageScanType = 0x0C47;
inline constexpr std::uint16_t WriteExtendedInquiryResponse = 0x0C52;
inline constexpr std::uint16_t WriteSimplePairingMode = 0x0C56;
inline constexpr std::uint16_t ReadInquiryResponseTransmitPowerLevel = 0x0C58;
inline constexpr std::uint16_t SetEventMaskPage2 = 0x0C63;
inline constexpr std::uint16_t ReadLeHostSupport = 0x0C6C;
inline constexpr std::uint16_t WriteLeHostSupport = 0x0C6D;
inline constexpr std::uint16_t WriteSecureConnectionsHostSupport = 0x0C7A;

// Informational parameters.
inline constexpr std::uint16_t ReadLocalVersionInformation = 0x1001;
inline constexpr std::uint16_t ReadLocalSupportedCommands = 0x1002;
inline constexpr std::uint16_t ReadLocalSupportedFeatures = 0x1003;
inline constexpr std::uint16_t ReadLocalExtendedFeatures = 0x1004;
inline constexpr std::uint16_t ReadBufferSize = 0x1005;
inline constexpr std::uint16_t ReadBdAddr = 0x1009;

// Status parameters.
inline constexpr std::uint16_t ReadRssi = 0x1405;

// LE controller.
inline constexpr std::uint16_t LeSetEventMask = 0x2001;
inline constexpr std::uint16_t LeReadBufferSize = 0x2002;
inline constexpr std::uint16_t LeReadLocalSupportedFeatures = 0x2003;
inline constexpr std::uint16_t LeSetRandomAddress = 0x2005;
inline constexpr std::uint16_t LeSetAdvertisingParameters = 0x2006;
inline constexpr std::uint16_t LeReadAdvertisingChannelTxPower = 0x2007;
inline constexpr std::uint16_t LeSetAdvertisingData = 0x2008;
inline constexpr std::uint16_t LeSetScanResponseData = 0x2009;
inline constexpr std::uint16_t LeSetAdvertisingEnable = 0x200A;
inline constexpr std::uint16_t LeSetScanParameters = 0x200B;
inline constexpr std::uint16_t LeSetScanEnable = 0x200C;
inline constexpr std::uint16_t LeCreateConnection = 0x200D;
inline constexpr std::uint16_t LeCreateConnectionCancel = 0x200E;
inline constexpr std::uint16_t LeReadFilterAcceptListSize = 0x200F;
inline constexpr std::uint16_t LeClearFilterAcceptList = 0x2010;
inline constexpr std::uint16_t LeAddDeviceToFilterAcceptList = 0x2011;
inline constexpr std::uint16_t LeRemoveDeviceFromFilterAcceptList = 0x2012;
inline constexpr std::uint16_t LeConnectionUpdate = 0x2013;
inline constexpr std::uint16_t LeReadRemoteFeatures = 0x2016;
inline constexpr std::uint16_t LeEncrypt = 0x2017;
inline constexpr std::uint16_t LeRand = 0x2018;
inline constexpr std::uint16_t LeStartEncryption = 0x2019;
inline constexpr std::uint16_t LeReadSupportedStates = 0x201C;
inline constexpr std::uint16_t LeReadLocalP256PublicKey = 0x2025;
inline constexpr std::uint16_t LeGenerateDhKey = 0x2026;
inline constexpr std::uint16_t LeSetPhy = 0x2032;
inline constexpr std::uint16_t LeExtendedCreateConnection = 0x2043;
inline constexpr std::uint16_t LePeriodicAdvertisingCreateSync = 0x2044;

} // namespace Pd::Bt::Op
