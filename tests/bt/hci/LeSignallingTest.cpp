#include "bt/l2cap/LeSignalling.h"

#include <gtest/gtest.h>

namespace
{

using namespace Pd::Bt;

TEST(LeSignalling, CommandsAreRejectedAndResponsesDropped)
{
    // Command Reject, Disconnection, Connection Parameter Update, credit-based connections and
    // reconfiguration: responses to requests this side never sends.
    for (std::uint8_t code : {0x01, 0x07, 0x13, 0x15, 0x18, 0x1A})
        EXPECT_EQ(AnswerLeSignalling(Bytes{code, 0x07, 0x00, 0x00}), std::nullopt) << int(code);
    for (std::uint8_t code : {0x06, 0x12, 0x14, 0x1B}) // commands, known here or not
        EXPECT_EQ(AnswerLeSignalling(Bytes{code, 0x07, 0x00, 0x00}),
                  (Bytes{0x01, 0x07, 0x02, 0x00, 0x00, 0x00}));
    EXPECT_EQ(AnswerLeSignalling(Bytes{0x12, 0x07, 0x08}), std::nullopt) << "shorter than a command header";
}

} // namespace
