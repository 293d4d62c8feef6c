// ATT opcodes, error codes and the few PDUs every part of the server builds. Multi-byte fields
// are little-endian.
#pragma once

#include "bt/hci/Bytes.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace Pd::Bt::Att
{

inline constexpr std::uint8_t ErrorResponse = 0x01;
inline constexpr std::uint8_t ExchangeMtuRequest = 0x02;
inline constexpr std::uint8_t ExchangeMtuResponse = 0x03;
inline constexpr std::uint8_t FindInformationRequest = 0x04;
inline constexpr std::uint8_t FindInformationResponse = 0x05;
inline constexpr std::uint8_t FindByTypeValueRequest = 0x06;
inline constexpr std::uint8_t FindByTypeValueResponse = 0x07;
inline constexpr std::uint8_t ReadByTypeRequest = 0x08;
inline constexpr std::uint8_t ReadByTypeResponse = 0x09;
inline constexpr std::uint8_t ReadRequest = 0x0A;
inline constexpr std::uint8_t ReadResponse = 0x0B;
inline constexpr std::uint8_t ReadBlobRequest = 0x0C;
inline constexpr std::uint8_t ReadBlobResponse = 0x0D;
inline constexpr std::uint8_t ReadMultipleResponse = 0x0F;
inline constexpr std::uint8_t ReadByGroupTypeRequest = 0x10;
inline constexpr std::uint8_t ReadByGroupTypeResponse = 0x11;
inline constexpr std::uint8_t WriteRequest = 0x12;
inline constexpr std::uint8_t WriteResponse = 0x13;
inline constexpr std::uint8_t PrepareWriteRequest = 0x16;
inline constexpr std::uint8_t PrepareWriteResponse = 0x17;
inline constexpr std::uint8_t ExecuteWriteRequest = 0x18;
inline constexpr std::uint8_t ExecuteWriteResponse = 0x19;
inline constexpr std::uint8_t HandleValueNotification = 0x1B;
inline constexpr std::uint8_t HandleValueIndication = 0x1D;
inline constexpr std::uint8_t HandleValueConfirmation = 0x1E;
inline constexpr std::uint8_t ReadMultipleVariableResponse = 0x21;
inline constexpr std::uint8_t MultipleHandleValueNotification = 0x23;
inline constexpr std::uint8_t WriteCommand = 0x52;
inline constexpr std::uint8_t SignedWriteCommand = 0xD2;

// Opcodes with this bit are commands: they never get an answer, not even an error.
inline constexpr std::uint8_t CommandFlag = 0x40;

inline constexpr std::uint8_t InvalidHandle = 0x01;
inline constexpr std::uint8_t ReadNotPermitted = 0x02;
inline constexpr std::uint8_t WriteNotPermitted = 0x03;
inline constexpr std::uint8_t InvalidPdu = 0x04;
inline constexpr std::uint8_t RequestNotSupported = 0x06;
inline constexpr std::uint8_t InvalidOffset = 0x07;
inline constexpr std::uint8_t PrepareQueueFull = 0x09;
inline constexpr std::uint8_t AttributeNotFound = 0x0A;
inline constexpr std::uint8_t InvalidAttributeValueLength = 0x0D;
inline constexpr std::uint8_t UnlikelyError = 0x0E;
inline constexpr std::uint8_t UnsupportedGroupType = 0x10;
inline constexpr std::uint8_t InsufficientResources = 0x11;

inline constexpr std::uint16_t DefaultMtu = 23;
inline constexpr std::uint16_t ServerMtu = 517;
inline constexpr std::size_t MaximumValueLength = 512;

// Whether a server answers this opcode, with an Error Response when nothing else: every opcode
// without the command flag except the responses, notifications, indications and confirmations,
// which a peer's own server or client sends and which no error may answer. The server's opcode
// table (AttOpcodes.cpp) says it for the opcodes it knows.
bool IsRequest(std::uint8_t opcode);

// Error Response: 0x01, the request's opcode, the handle, the code.
Bytes ErrorResponseFor(std::uint8_t request, std::uint16_t handle, std::uint8_t code);

// The error answer at handle 0x0000 to a PDU the server could not handle; none for an empty
// PDU or anything but a request.
std::optional<Bytes> ErrorAnswer(ByteView pdu, std::uint8_t code);

} // namespace Pd::Bt::Att
