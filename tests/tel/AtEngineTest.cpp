#include "tests/tel/MemoryModem.h"

#include <gtest/gtest.h>

namespace
{

using namespace Pd::Tel;
using Pd::Tel::Testing::MemoryModem;
using Lines = std::vector<std::string>;

struct LineCase
{
    const char* line;
    Lines answer;
};

// Runs the lines in order on one connection's state.
void ExpectAnswers(AtState& state, std::initializer_list<LineCase> cases)
{
    for (const LineCase& c : cases)
    {
        AtReply reply = Modem::HandleLine(state, c.line);
        EXPECT_EQ(reply.lines, c.answer) << c.line;
        EXPECT_FALSE(reply.awaitPdu) << c.line;
    }
}

const std::string Csq20 =
    "+CSQ: 20,99,-1,-1,-1,-1,-1,20,100,2147483647,2147483647,2147483647,2147483647,"
    "2147483647,20,99,2147483647,2147483647,2147483647,2147483647,2147483647,2147483647";

TEST(AtEngine, RadioLayerStartUpIsAnsweredExactly)
{
    MemoryModem modem;
    AtState state(modem);
    ExpectAnswers(state, {
                             {"ATE0", {"OK"}},
                             {"AT+CMEE=1", {"OK"}},
                             {"AT+CPIN?", {"+CPIN: READY", "OK"}},
                             {"at+cpin?", {"+CPIN: READY", "OK"}},
                             {"AT+CIMI", {"310410123456789", "OK"}},
                             {"AT+CGSN", {"490154203237518", "OK"}},
                             {"AT+CRSM=192,28615,0,0,15",
                              {"+CRSM: 144,0,621982054221001C0283026FC78A01058B036F0605800200388800", "OK"}},
                             {"AT+CRSM=176,12258,0,0,10", {"+CRSM: 144,0,98101430121181157002", "OK"}},
                             {"AT+CRSM=176,28589,0,0,4", {"+CRSM: 144,0,00000003", "OK"}},
                             {"AT+CRSM=178,28480,2,4,28", {"+CRSM: 144,0," + std::string(56, 'F'), "OK"}},
                             {"AT+CRSM=178,28480,3,4,28", {"+CRSM: 106,131", "OK"}},
                             {"AT+CRSM=176,28589", {"+CME ERROR: 4"}},
                             {"AT+CREG=2", {"OK"}},
                             {"AT+CGREG=2", {"OK"}},
                             {"AT+CEREG=1", {"OK"}},
                             {"AT+CREG?", {"+CREG: 2,1,\"0001\",\"00000001\",7", "OK"}},
                             {"AT+CGREG?", {"+CGREG: 2,1,\"0001\",\"00000001\",7", "OK"}},
                             {"AT+CEREG?", {"+CEREG: 1,1", "OK"}},
                             {"AT+CSQ", {Csq20, "OK"}},
                             {"AT+COPS=3,2;+COPS?", {"+COPS: 0,2,\"310410\",7", "OK"}},
                             {"AT+COPS=3,0;+COPS?", {"+COPS: 0,0,\"Nordwind\",7", "OK"}},
                             {"AT+COPS=?", {"+COPS: (2,\"Nordwind\",\"Nordwind\",\"310410\",7)", "OK"}},
                             {"AT+CSCA?", {"+CSCA: \"+31624000000\",145", "OK"}},
                             {"AT+CNMI=2,2,0,1,0", {"OK"}},
                             {"AT+CMGF=0", {"OK"}},
                             {"AT+CLCK=\"SC\",2", {"+CLCK: 0", "OK"}},
                             {"AT+CUSATD?", {"+CUSATD: 0,0", "OK"}},
                             {"AT", {"OK"}},
                             {"XT", {}},
                             {"A", {}},
                             {"ATD123;", {"+CME ERROR: 4"}},
                             {"ATA", {"+CME ERROR: 4"}},
                             {"ATA0", {"+CME ERROR: 4"}},
                             {"ATE0V1", {"OK"}},
                             {"ATH", {"OK"}},
                             {"AT+CMGF=1", {"+CME ERROR: 4"}},
                             {"AT+CSQ;+XYZ;+CGSN", {Csq20, "+CME ERROR: 4"}},
                             {"AT+COPS=1", {"+CME ERROR: 4"}},
                             {"AT;+CMGS=23", {"+CME ERROR: 4"}},
                             {"AT+CNMA", {"OK"}},
                             {"AT+CFUN?", {"+CFUN: 1", "OK"}},
                             {"AT+CFUN=0;+COPS?;+CREG?;+CFUN?",
                              {"+COPS: 0", "+CREG: 2,1,\"0001\",\"00000001\",7", "+CFUN: 0", "OK"}},
                         });
    EXPECT_TRUE(modem.deleted.empty() && modem.nacked.empty());
}

TEST(AtEngine, WithoutSimOrNetworkTheErrorsAreThePhones)
{
    MemoryModem modem;
    modem.state = ModemState{};
    modem.state.imei = "490154203237518";
    modem.state.registration = 2;
    AtState state(modem);
    ExpectAnswers(state, {
                             {"AT+CPIN?", {"+CME ERROR: 10"}},
                             {"AT+CIMI", {"+CME ERROR: 10"}},
                             {"AT+CRSM=192,28615,0,0,15", {"+CME ERROR: 10"}},
                             {"AT+CGSN", {"490154203237518", "OK"}},
                             {"AT+CSCA?", {"+CMS ERROR: 330"}},
                             {"AT+CREG=2;+CREG?", {"+CREG: 2,2", "OK"}},
                             {"AT+COPS?", {"+COPS: 0", "OK"}},
                             {"AT+COPS=?", {"+COPS: ", "OK"}},
                         });
    EXPECT_EQ(Modem::FormatSignalQuality(modem.state).substr(0, 40),
              "+CSQ: 99,99,-1,-1,-1,-1,-1,99,2147483647");
}

TEST(AtEngine, TextFromWindowsCannotBreakOutOfItsLineOrQuotes)
{
    MemoryModem modem;
    modem.state.providerName = "Evil\"\r\nOK";
    modem.state.imsi = "3104\r\n+CMT: ,1";
    AtState state(modem);
    ExpectAnswers(state, {
                             {"AT+COPS?", {"+COPS: 0,0,\"Evil???OK\",7", "OK"}},
                             {"AT+CIMI", {"3104??+CMT: ,1", "OK"}},
                         });
}

TEST(AtEngine, ParametersReadAsThePhoneMeansThem)
{
    const std::pair<const char*, std::vector<std::int32_t>> cases[] = {
        {"+CREG", {}},
        {"+CREG=", {}},
        {"+CNMI=2,2,0,1,0", {2, 2, 0, 1, 0}},
        {"+X=1,", {1}},
        {"+X=,", {0}},
        {"+X=-7,a,3b,,2147483647,2147483648,-2147483648,-2147483649",
         {-7, 0, 3, 0, 2147483647, 0, -2147483648, 0}},
        {"+X=99999999999999999999", {0}},
    };
    for (const auto& [text, values] : cases)
        EXPECT_EQ(ParseIntegers(text), values) << text;
}

TEST(AtEngine, SignalQualityMapsToReferencePower)
{
    const std::pair<std::int32_t, std::string> cases[] = {{20, Csq20},
                                                          {0, "+CSQ: 0,99,-1,-1,-1,-1,-1,0,140,"},
                                                          {31, "+CSQ: 31,99,-1,-1,-1,-1,-1,31,78,"},
                                                          {48, "+CSQ: 48,99,-1,-1,-1,-1,-1,48,2147483647,"},
                                                          {-1, "+CSQ: -1,99,-1,-1,-1,-1,-1,-1,2147483647,"}};
    for (const auto& [signal, start] : cases)
    {
        ModemState snapshot;
        snapshot.signal = signal;
        EXPECT_TRUE(Modem::FormatSignalQuality(snapshot).starts_with(start)) << signal;
    }
}

TEST(AtEngine, SendsCountTheirReferenceAndRefuseWhatWindowsMustNotSee)
{
    MemoryModem modem;
    AtState state(modem);
    AtReply prompt = Modem::HandleLine(state, "AT+CMGS=23");
    EXPECT_TRUE(prompt.lines.empty() && prompt.awaitPdu);
    EXPECT_EQ(Modem::SubmitPdu(state, " 0011 00\r\n0B").lines, (Lines{"+CMGS: 0", "OK"}));
    ASSERT_EQ(modem.sent.size(), 1u);
    EXPECT_EQ(modem.sent[0], (std::pair<std::string, std::uint8_t>{"0011000B", 23}));
    for (int i = 1; i < 256; ++i)
        Modem::SubmitPdu(state, "00");
    EXPECT_EQ(Modem::SubmitPdu(state, "00").lines.front(), "+CMGS: 0") << "the reference wraps after 255";

    std::size_t sends = modem.sent.size();
    for (const char* bad : {"", " \t", "0G", "001"})
        EXPECT_EQ(Modem::SubmitPdu(state, bad).lines, Lines{"+CMS ERROR: 500"}) << bad;
    Modem::HandleLine(state, "AT+CMGS=300");
    EXPECT_EQ(Modem::SubmitPdu(state, "00").lines, Lines{"+CMS ERROR: 500"});
    EXPECT_EQ(modem.sent.size(), sends) << "nothing malformed reaches Windows";

    Modem::HandleLine(state, "AT+CMGS=1");
    modem.sendSucceeds = false;
    EXPECT_EQ(Modem::SubmitPdu(state, "00").lines, Lines{"+CMS ERROR: 500"});
}

TEST(AtEngine, AcknowledgementsAnswerTheOldestReportAndTellStoreFromNotice)
{
    MemoryModem modem;
    AtState state(modem);
    EXPECT_TRUE(Modem::FormatNewMessage(state, "00", 9).empty());
    EXPECT_TRUE(Modem::FormatNewMessage(state, "0000\r\n", 10).empty());
    EXPECT_EQ(modem.nacked, (std::vector<std::uint32_t>{9, 10})) << "no room for a TPDU, or not hex";
    modem.nacked.clear();

    EXPECT_EQ(Modem::FormatNewMessage(state, Testing::TextSmsPdu, 0x3FFFFFFF),
              (Lines{"+CMT: ,30", Testing::TextSmsPdu}));
    EXPECT_EQ(Modem::FormatNewMessage(state, "0004", 0x40000000), (Lines{"+CMT: ,1", "0004"}));
    EXPECT_EQ(Modem::FormatNewMessage(state, "0004", 3), (Lines{"+CMT: ,1", "0004"}));
    ExpectAnswers(state,
                  {{"AT+CNMA", {"OK"}}, {"AT+CNMA=1", {"OK"}}, {"AT+CNMA=2", {"OK"}}, {"AT+CNMA", {"OK"}}});
    EXPECT_EQ(modem.deleted, std::vector<std::uint32_t>{0x3FFFFFFF});
    EXPECT_EQ(modem.dropped, std::vector<std::uint32_t>{0x40000000});
    EXPECT_EQ(modem.nacked, std::vector<std::uint32_t>{3});
}

} // namespace
