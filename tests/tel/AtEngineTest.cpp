#include "tests/tel/MemoryModem.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace
{

using namespace Pd::Tel;
using Pd::Tel::Testing::MemoryModem;

const std::string M = ",2147483647";
const std::string Csq20 =
    "+CSQ: 20,99,-1,-1,-1,-1,-1,20,100" + M + M + M + M + M + ",20,99" + M + M + M + M + M + M;

// Runs the rows in order on one connection's state; answer lines are joined by '|'.
void ExpectAnswers(AtState& state, std::initializer_list<std::pair<std::string, std::string>> rows)
{
    for (const auto& [line, answer] : rows)
    {
        std::string got;
        for (const std::string& text : Modem::HandleLine(state, line).lines)
            got += (got.empty() ? "" : "|") + text;
        EXPECT_EQ(got, answer) << line;
    }
}

// Every line of the list gets the same answer.
void ExpectAnswer(AtState& state, std::initializer_list<const char*> lines, const std::string& answer)
{
    for (const char* line : lines)
        ExpectAnswers(state, {{line, answer}});
}

TEST(AtEngine, RadioLayerStartUpIsAnsweredExactly)
{
    MemoryModem modem;
    AtState state(modem);
    const std::string reg2 = "2,1,\"0001\",\"00000001\",7";
    ExpectAnswers(state,
                  {{"ATE0;+CMEE=1;+cpin?;+CIMI;+CGSN", "+CPIN: READY|310410123456789|490154203237518|OK"},
                   {"AT+CRSM=192,28615,0,0,15",
                    "+CRSM: 144,0,621982054221001C0283026FC78A01058B036F0605800200388800|OK"},
                   {"AT+CRSM=176,12258,0,0,10;+CRSM=176,28589,0,0,4;+CRSM=178,28480,3,4,28",
                    "+CRSM: 144,0,98101430121181157002|+CRSM: 144,0,00000003|+CRSM: 106,131|OK"},
                   {"AT+CRSM=176,28589", "+CME ERROR: 4"},
                   {"AT+CREG=2;+CGREG=2;+CEREG=1;+CREG?;+CEREG?", "+CREG: " + reg2 + "|+CEREG: 1,1|OK"},
                   {"AT+CSQ;+COPS=3,2;+COPS?;+COPS=3,0;+COPS?",
                    Csq20 + "|+COPS: 0,2,\"310410\",7|+COPS: 0,0,\"Nordwind\",7|OK"},
                   {"AT+COPS=?;+CSCA?",
                    "+COPS: (2,\"Nordwind\",\"Nordwind\",\"310410\",7)|+CSCA: \"+31624000000\",145|OK"},
                   {"AT+CNMI=2,2,0,1,0;+CLCK=\"SC\",2;+CUSATD?;+CNMA", "+CLCK: 0|+CUSATD: 0,0|OK"},
                   {"AT+CSQ;+XYZ;+CGSN", Csq20 + "|+CME ERROR: 4"},
                   {"AT+CFUN=0;+COPS?;+CREG?;+CFUN?", "+COPS: 0|+CREG: " + reg2 + "|+CFUN: 0|OK"}});
}

TEST(AtEngine, WithoutSimOrNetworkAndWithHostileTextTheAnswersStayWellFormed)
{
    MemoryModem modem;
    modem.state = {false, "4901\r\nOK", "", "", 2, "", "x\"\r\n", 7, 48, ""};
    AtState state(modem);
    ExpectAnswer(state, {"AT+CPIN?", "AT+CIMI", "AT+CRSM=192,28615,0,0,15"}, "+CME ERROR: 10");
    ExpectAnswers(state, {{"AT+CGSN", "4901??OK|OK"},
                          {"AT+CSCA?", "+CMS ERROR: 330"},
                          {"AT+CREG=2;+CREG?;+COPS?;+COPS=?", "+CREG: 2,2|+COPS: 0|+COPS: |OK"}});
    modem.state.registration = 5;
    ExpectAnswers(state, {{"AT+COPS?", "+COPS: 0,0,\"x???\",7|OK"}});
    EXPECT_EQ(ParseIntegers("+X=-7,a,3b,,2147483648,-2147483648,"),
              (std::vector<std::int32_t>{-7, 0, 3, 0, 0, INT32_MIN}));
}

TEST(AtEngine, SendsCountTheirReferenceAndNothingMalformedReachesWindows)
{
    MemoryModem modem;
    AtState state(modem);
    EXPECT_TRUE(Modem::HandleLine(state, "AT+CMGS=23").awaitPdu);
    EXPECT_EQ(Modem::SubmitPdu(state, " 0011 00\r\n0B").lines, (std::vector<std::string>{"+CMGS: 0", "OK"}));
    EXPECT_EQ(modem.sent.at(0), (std::pair<std::string, std::uint8_t>{"0011000B", 23}));
    for (int i = 1; i < 256; ++i)
        Modem::SubmitPdu(state, "00");
    EXPECT_EQ(Modem::SubmitPdu(state, "00").lines.front(), "+CMGS: 0") << "the reference wraps after 255";
    for (const char* bad : {" \t", "0G", "001"})
        EXPECT_EQ(Modem::SubmitPdu(state, bad).lines.front(), "+CMS ERROR: 500") << bad;
    Modem::HandleLine(state, "AT+CMGS=300");
    EXPECT_EQ(Modem::SubmitPdu(state, "00").lines.front(), "+CMS ERROR: 500");
    EXPECT_EQ(modem.sent.size(), 257u) << "nothing malformed was sent";
}

TEST(AtEngine, AcknowledgementsAnswerTheOldestReportAndTellStoreFromNotice)
{
    MemoryModem modem;
    AtState state(modem);
    EXPECT_TRUE(Modem::FormatNewMessage(state, "00", 9).empty());
    EXPECT_TRUE(Modem::FormatNewMessage(state, "0000\r\n", 10).empty());
    EXPECT_EQ(modem.nacked, (std::vector<std::uint32_t>{9, 10})) << "no room for a TPDU, or not hex";
    EXPECT_EQ(Modem::FormatNewMessage(state, Testing::TextSmsPdu, 0x3FFFFFFF).at(0), "+CMT: ,30");
    EXPECT_EQ(Modem::FormatNewMessage(state, "0004", 0x40000000),
              (std::vector<std::string>{"+CMT: ,1", "0004"}));
    Modem::FormatNewMessage(state, "0004", 3);
    ExpectAnswers(state, {{"AT+CNMA;+CNMA=1;+CNMA=2;+CNMA", "OK"}});
    EXPECT_EQ(modem.deleted, std::vector<std::uint32_t>{0x3FFFFFFF});
    EXPECT_EQ(modem.dropped, std::vector<std::uint32_t>{0x40000000});
    EXPECT_EQ(modem.nacked, (std::vector<std::uint32_t>{9, 10, 3}));
}

} // namespace
