// The one table of the ATT opcodes: for each, whether the server answers it, the length of its
// fixed part and its handler. It drives the dispatch, the Invalid PDU check and which PDUs may
// be answered with an error, so an opcode is registered here and nowhere else.
#include "bt/att/AttPdu.h"
#include "bt/att/AttServer.h"

namespace Pd::Bt
{

const AttServer::OpcodeRow* AttServer::FindOpcode(std::uint8_t opcode)
{
    using namespace Att;
    static constexpr OpcodeRow Rows[] = {
        {ErrorResponse, false, 1, nullptr},
        {ExchangeMtuRequest, true, 3, &AttServer::ExchangeMtu},
        {ExchangeMtuResponse, false, 1, nullptr},
        {FindInformationRequest, true, 5, &AttServer::FindInformation},
        {FindInformationResponse, false, 1, nullptr},
        {FindByTypeValueRequest, true, 7, &AttServer::FindByTypeValue},
        {FindByTypeValueResponse, false, 1, nullptr},
        {ReadByTypeRequest, true, 5, &AttServer::ReadByType},
        {ReadByTypeResponse, false, 1, nullptr},
        {ReadRequest, true, 3, &AttServer::Read},
        {ReadResponse, false, 1, nullptr},
        {ReadBlobRequest, true, 5, &AttServer::Read},
        {ReadBlobResponse, false, 1, nullptr},
        {ReadMultipleResponse, false, 1, nullptr},
        {ReadByGroupTypeRequest, true, 5, &AttServer::ReadByGroupType},
        {ReadByGroupTypeResponse, false, 1, nullptr},
        {WriteRequest, true, 3, &AttServer::Write},
        {WriteResponse, false, 1, nullptr},
        {PrepareWriteRequest, true, 5, &AttServer::PrepareWrite},
        {PrepareWriteResponse, false, 1, nullptr},
        {ExecuteWriteRequest, true, 2, &AttServer::ExecuteWrite},
        {ExecuteWriteResponse, false, 1, nullptr},
        {HandleValueNotification, false, 1, nullptr},
        // From Android's own server: confirmed, as its client would, so that it can go on.
        {HandleValueIndication, false, 1, &AttServer::ConfirmIndication},
        {HandleValueConfirmation, false, 1, &AttServer::Confirmation},
        {ReadMultipleVariableResponse, false, 1, nullptr},
        {MultipleHandleValueNotification, false, 1, nullptr},
        {WriteCommand, false, 3, &AttServer::Write},
    };
    for (const OpcodeRow& row : Rows)
        if (row.opcode == opcode)
            return &row;
    return nullptr;
}

bool Att::IsRequest(std::uint8_t opcode)
{
    if (const AttServer::OpcodeRow* row = AttServer::FindOpcode(opcode))
        return row->request;
    return (opcode & CommandFlag) == 0;
}

} // namespace Pd::Bt
