#include "bt/l2cap/LeSignalling.h"

#include <gtest/gtest.h>

namespace
{

using Pd::Bt::Bytes;

TEST(LeSignalling, RejectsEveryCommandButIgnoresResponsesAndShortPdus)
{
    const std::pair<Bytes, std::optional<Bytes>> cases[] = {
        {{0x12, 0x07, 0x08, 0x00, 0x06, 0x00, 0x0C, 0x00, 0x00, 0x00, 0xF4, 0x01}, Bytes{1, 7, 2, 0, 0, 0}},
        {{0x14, 0x09, 0x00, 0x00}, Bytes{1, 9, 2, 0, 0, 0}}, // credit-based connection request
        {{0x06, 0x02, 0x04}, std::nullopt},                  // shorter than a command header
        {{0x01, 0x03, 0x02, 0x00, 0x00, 0x00}, std::nullopt},
        {{0x13, 0x03, 0x02, 0x00, 0x00, 0x00}, std::nullopt},
        {{0x15, 0x03, 0x00, 0x00}, std::nullopt},
        {{0x18, 0x03, 0x00, 0x00}, std::nullopt},
    };
    for (const auto& [pdu, answer] : cases)
        EXPECT_EQ(Pd::Bt::AnswerLeSignalling(pdu), answer) << pdu.size();
}

} // namespace
