#include "tel/at/AtEngine.h"
#include "core/Log.h"
#include "tests/tel/MemoryModem.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <tuple>

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
        for (const std::string& text : AtEngine::HandleLine(state, line).lines)
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
    EXPECT_EQ(AtEngine::ParseIntegers("+X=-7,a,3b,,2147483648,-2147483648,"),
              (std::vector<std::int32_t>{-7, 0, 3, 0, 0, INT32_MIN}));
}

// To +31641600986, "How are you?": 25 octets after the empty service centre.
const std::string Submit = "0011000B911346610089F60000AA0CC8F71D14969741F977FD07";

// The user data header of a concatenated message: its length and one information element.
const std::string Concat = "050003AA0201";

// A "+CMGS=" length and an SMS-SUBMIT to +31641600986 laid out by hand: first octet (relative
// TP-VP, TP-UDHI with a header), TP-MR, TP-DA, TP-PID, TP-DCS, TP-VP, TP-UDL, then the user
// data octets, the header first.
struct SubmitCase
{
    std::string length;
    std::string pdu;
    bool sent;
};

SubmitCase Row(int dcs, int udl, std::size_t octets, bool sent, std::optional<std::string> header = {})
{
    std::string data = header.value_or("");
    data.resize(2 * octets, '7');
    char fields[16];
    std::snprintf(fields, sizeof fields, "00%02XAA%02X", dcs, udl);
    std::string pdu = std::string("00") + (header ? "51" : "11") + "000B911346610089F6" + fields + data;
    return {std::to_string(pdu.size() / 2 - 1), pdu, sent};
}

TEST(AtEngine, SendsCountTheirReferenceAndNothingMalformedReachesWindows)
{
    MemoryModem modem;
    AtState state(modem);
    EXPECT_TRUE(AtEngine::HandleLine(state, "AT+CMGS=25").awaitPdu);
    EXPECT_EQ(AtEngine::SubmitPdu(state, " " + Submit.substr(0, 8) + "\r\n" + Submit.substr(8)).lines,
              (std::vector<std::string>{"+CMGS: 0", "OK"}));
    EXPECT_EQ(modem.sent.at(0), (std::pair<std::string, std::uint8_t>{Submit, 25}));
    for (int i = 1; i < 256; ++i)
        AtEngine::SubmitPdu(state, Submit);
    EXPECT_EQ(AtEngine::SubmitPdu(state, Submit).lines.front(), "+CMGS: 0")
        << "the reference wraps after 255";
    modem.sendSucceeds = false;
    EXPECT_EQ(AtEngine::SubmitPdu(state, Submit).lines.front(), "+CMS ERROR: 500") << "refused by Windows";
    ASSERT_EQ(modem.sent.size(), 258u);

    const SubmitCase cases[] = {
        {"25", Submit + "0", false},
        {"24", Submit, false},                                           // one octet more than given
        {"25", "07911326040000F0" + Submit.substr(2), true},             // with a service centre
        {"25", "FF" + Submit.substr(2), false},                          // or runs past the PDU
        {"25", "0B91" + std::string(20, '1') + Submit.substr(2), true},  // 20 digits: the most
        {"25", "0C91" + std::string(22, '1') + Submit.substr(2), false}, // more than 11 octets
        {"6", "0011000B911346", false},                                  // the address runs past the TPDU
        {"13", Submit.substr(0, 28), false},                             // no TP-UDL
        {"14", Submit.substr(0, 28) + "00", true},                       // no user data
        {"25", "0010" + Submit.substr(4), false},                        // an SMS-DELIVER's type
        {"14", "0019" + Submit.substr(4, 26), false},                    // an absolute TP-VP is 7 octets
        {"31", "0019" + Submit.substr(4, 22) + "00000000000000" + Submit.substr(28), true},
        {"19", "0011001591" + std::string(22, '1') + "0000AA00", false}, // 21 digits
        {"12", "018111000781100721F300000005", false},                   // TP-UDL 5, no user data
        // TP-DCS, TP-UDL, user data octets, the user data header (TP-UDHI) that begins them.
        Row(0x00, 5, 5, true), // 7-bit: 35 bits in 5 octets
        Row(0x00, 5, 4, false),
        Row(0x00, 5, 6, false),
        Row(0x00, 8, 7, true),
        Row(0x00, 160, 140, true),
        Row(0x00, 161, 141, false),
        Row(0x04, 5, 5, true), // 8-bit
        Row(0x04, 8, 7, false),
        Row(0x04, 255, 5, false),
        Row(0x04, 141, 141, false),
        Row(0x08, 4, 4, true), // UCS2
        Row(0x08, 4, 3, false),
        Row(0x20, 8, 8, true), // compressed: octets
        Row(0x20, 8, 7, false),
        Row(0x0C, 8, 7, false), // a reserved alphabet, a reserved group
        Row(0x80, 8, 7, false),
        Row(0xB4, 8, 8, false),
        Row(0x94, 5, 5, true), // 8-bit with a user data header structure
        Row(0xD0, 8, 7, true), // message waiting, 7-bit and UCS2
        Row(0xE0, 8, 8, true),
        Row(0xF0, 8, 7, true), // message class, 7-bit and 8-bit
        Row(0xF4, 8, 8, true),
        Row(0xF4, 8, 7, false),
        // A 6-octet header fills 7 septets with its fill bit; TP-UDL counts them.
        Row(0x00, 12, 11, true, Concat),
        Row(0x00, 7, 7, true, Concat),
        Row(0x00, 6, 6, false, Concat),
        Row(0x04, 6, 6, true, Concat),
        Row(0x04, 6, 6, false, "0A0003AA0201"), // its length runs past the user data
        Row(0x04, 0, 0, false, ""),             // no room for the header's length
    };
    for (const auto& c : cases)
    {
        modem.sent.clear();
        modem.sendSucceeds = true;
        ASSERT_TRUE(AtEngine::HandleLine(state, std::string("AT+CMGS=") + c.length).awaitPdu);
        EXPECT_EQ(AtEngine::SubmitPdu(state, c.pdu).lines.front(), c.sent ? "+CMGS: 0" : "+CMS ERROR: 304")
            << c.length << " " << c.pdu;
        EXPECT_EQ(modem.sent.size(), c.sent ? 1u : 0u) << c.pdu;
        state.messageReference = 0;
    }
    // A length that no PDU could match gets no prompt; the test form gets OK.
    for (const char* line : {"AT+CMGS=0", "AT+CMGS=256", "AT+CMGS=x", "AT+CMGS=", "AT+CMGS=25,1"})
    {
        AtReply reply = AtEngine::HandleLine(state, line);
        EXPECT_FALSE(reply.awaitPdu) << line;
        EXPECT_EQ(reply.lines, std::vector<std::string>{"+CMS ERROR: 304"}) << line;
    }
    EXPECT_FALSE(AtEngine::HandleLine(state, "AT+CMGS=?").awaitPdu);
}

TEST(AtEngine, QuotesBoundStringsAndTestFormsChangeNothing)
{
    MemoryModem modem;
    AtState state(modem);
    ExpectAnswers(state, {{"AT+CSCA=\"+3162;+CFUN=0\",145;+CFUN?", "+CFUN: 1|OK"},
                          {"AT+CSCA=\"+31;+CFUN=0", "ERROR"},
                          {"AT+CFUN?", "+CFUN: 1|OK"},
                          {"AT+CMGS=?;+CRSM=?;+CMGF=?;+cfun=?;S0=?", "OK"},
                          {"AT+CREG=2;+CREG=?;+CREG?", "+CREG: 2,1,\"0001\",\"00000001\",7|OK"},
                          {"AT+COPS=?", "+COPS: (2,\"Nordwind\",\"Nordwind\",\"310410\",7)|OK"},
                          {"AT+XYZ=?", "+CME ERROR: 4"},
                          {"AT+CMEE=?X", "ERROR"}}); // neither the test form nor a set command
    EXPECT_EQ(AtEngine::ParseIntegers("+X=\"1,2\",3,\"=\""), (std::vector<std::int32_t>{0, 3, 0}));
}

// Every command of the engine with the forms its standard (for "%" and "+WSOS" its maker) defines
// (action, set, read, test), a set form with every value at the edge of its range, and the same
// with its last value just beyond it (empty for a command that takes no numbers).
struct CommandRow
{
    std::string_view name, forms, set = {}, beyond = {};
};
const CommandRow CommandForms[] = {
    {"E", "a"},
    {"H", "a"},
    {"Q", "a"},
    {"V", "a"},
    {"S0", "srt", "=255", "=256"},
    {"+CMEE", "srt", "=2", "=3"},
    {"+CCWA", "srt", "=1,2,1", "=1,2,0"},
    {"+CMOD", "srt", "=3", "=4"},
    {"+CSSN", "srt", "=1,1", "=1,2"},
    {"+COLP", "srt", "=1", "=2"},
    {"+CSCS", "srt", "=\"IRA\""},
    {"+CUSD", "srt", "=2,\"*100#\",255", "=2,\"*100#\",256"},
    {"+CGEREP", "srt", "=2,1", "=2,2"},
    {"+CNMI", "srt", "=3,3,3,2,1", "=3,3,3,2,2"},
    {"+CSMS", "srt", "=255", "=256"},
    {"+CSCB", "srt", "=1", "=2"},
    {"+CLIR", "srt", "=2", "=3"},
    {"+CGQREQ", "srt", "=255,3,4,5,9,31", "=1,3,4,5,9,32"},
    {"+CGQMIN", "srt", "=1,3,4,5,9,31", "=1,3,4,5,10"},
    {"%CPI", "st", "=2147483647", "=2147483648"},
    {"%CSTAT", "st", "=1", "=2147483648"},
    {"%CTZV", "st", "=1", "=2147483648"},
    {"%CPHS", "st", "=1", "=2147483648"},
    {"+WSOS", "st", "=0", "=2147483648"},
    {"+CMGF", "srt", "=0", "=2"},
    {"+CMUT", "srt", "=1", "=2"},
    {"+CSCA", "srt", "=\"+3162\",255", "=\"+3162\",256"},
    {"+CREG", "srt", "=3", "=4"},
    {"+CGREG", "srt", "=4", "=5"},
    {"+CEREG", "srt", "=5", "=6"},
    {"+CFUN", "srt", "=127,1", "=1,2"},
    {"+CMGS", "st", "=255", "=256"},
    {"+CNMA", "ast", "=2,255", "=3"},
    {"+CPIN", "srt", "=\"1234\""},
    {"+CIMI", "at"},
    {"+CICCID", "at"},
    {"+CGSN", "ast", "=3", "=4"},
    {"+CRSM", "st", "=255,65535,255,255,255", "=176,65536"},
    {"+CLCK", "st", "=\"SC\",2,\"\",255", "=\"SC\",2,\"\",0"},
    {"+COPS", "srt", "=3,2", "=3,3"},
    {"+CSQ", "at"},
    {"+CLCC", "at"},
    {"+CNUM", "at"},
    {"+CGACT", "srt", "=1,255", "=1,256"},
    {"+CGDCONT", "srt", "=255,\"IP\",\"apn\",\"\",3,4", "=1,\"IP\",\"apn\",\"\",3,5"},
    {"+CUSATD", "srt", "=1,1", "=2"},
};

// A set form's values that are no number in range: the last one beyond it, without digits, beyond
// 32 bits, or followed by text.
std::vector<std::string> NoNumbers(const CommandRow& row)
{
    if (row.beyond.empty())
        return {};
    const std::string_view kept = row.beyond.substr(0, row.beyond.find_last_of(",=") + 1);
    return {std::string(row.beyond),   std::string(kept) + "x",       std::string(kept) + "4294967296",
            std::string(kept) + " ?1", std::string(row.set) + "junk", std::string(row.set) + " 1"};
}

TEST(AtEngine, AFormACommandDoesNotHaveIsASyntaxErrorAndChangesNothing)
{
    std::vector<std::string_view> names;
    for (const CommandRow& row : CommandForms)
        names.push_back(row.name);
    EXPECT_EQ(AtEngine::KnownCommands(), names) << "a command without its forms here";
    MemoryModem modem;
    AtState state(modem);
    auto everything = [&] {
        return std::tuple(state.cregMode, state.cgregMode, state.ceregMode, state.copsFormat, state.radioOn,
                          state.pendingLength, state.handed, state.simPrepared, modem.sent, modem.deleted,
                          modem.nacked, modem.dropped);
    };
    const auto isError = [](const std::vector<std::string>& answer) {
        return answer.size() == 1 && (answer[0] == "ERROR" || answer[0].starts_with("+CME ERROR: ") ||
                                      answer[0].starts_with("+CMS ERROR: "));
    };
    for (const CommandRow& row : CommandForms)
    {
        const std::string set = row.set.empty() ? "=2" : std::string(row.set);
        for (const auto& [form, suffix] : {std::pair{'a', std::string()},
                                           {'s', set},
                                           {'r', "?"},
                                           {'t', "=?"},
                                           {'x', "=?1"},
                                           {'x', " = ?1"}})
        {
            if (form == 'x' && !row.name.starts_with('+') && !row.name.starts_with('%'))
                continue; // "S0=?1" is "S0=?" and then a command "1"
            if (state.handed.empty())
                AtEngine::FormatNewMessage(state, "0004", 5);
            const std::string line = "AT" + std::string(row.name) + suffix;
            const auto before = everything();
            const std::vector<std::string> answer = AtEngine::HandleLine(state, line).lines;
            if (row.forms.contains(form))
            {
                EXPECT_NE(answer, std::vector<std::string>{"ERROR"}) << line;
                continue;
            }
            EXPECT_EQ(answer, std::vector<std::string>{"ERROR"}) << line;
            EXPECT_TRUE(everything() == before) << line;
        }
        for (const std::string& value : NoNumbers(row))
        {
            if (state.handed.empty())
                AtEngine::FormatNewMessage(state, "0004", 5);
            const std::string line = "AT" + std::string(row.name) + value;
            const auto before = everything();
            EXPECT_TRUE(isError(AtEngine::HandleLine(state, line).lines)) << line;
            EXPECT_TRUE(everything() == before) << line;
        }
    }
    ExpectAnswers(state, {{"ATE0Q0V1;S0=0;&F", "+CME ERROR: 4"},
                          {"AT+CSQ?;+CFUN=0", "ERROR"},
                          {"AT+CNMA?;+CFUN=0", "ERROR"},
                          {"AT+CFUN?;+CPIN?X", "+CFUN: 1|ERROR"},
                          {"AT+CSQ1", "+CME ERROR: 4"},
                          {"ATV0", "+CME ERROR: 4"},
                          {"ATE1V1S0?", "+CME ERROR: 4"},
                          {"AT+CFUN=4294967297", "ERROR"},
                          {"AT+CFUN= 1 0", "ERROR"},
                          {"AT+CFUN=-0", "ERROR"},
                          {"AT+CFUN?", "+CFUN: 1|OK"},
                          {"AT+CFUN=00000000000", "OK"},
                          {"AT+CFUN?;+CFUN=0000000000001", "+CFUN: 0|OK"},
                          {"AT + CFUN = 0 , 1 ; + CREG = 1 ;+CFUN ?;+CSCA=\" +31 6 \"", "+CFUN: 0|OK"},
                          {"AT+CMGS= 2 5", "+CMS ERROR: 304"}});
    EXPECT_TRUE(AtEngine::HandleLine(state, "AT+CMGS = 25").awaitPdu);
    EXPECT_EQ(state.cregMode, 1);
}

TEST(AtEngine, UnsupportedCommandsAreLoggedEscaped)
{
    std::string log;
    Pd::Core::SetLogSink([&](std::string_view line) { log = line; });
    MemoryModem modem;
    AtState state(modem);
    // Invalid UTF-8, a C1 control, a line separator and a right-to-left override.
    AtEngine::HandleLine(state, "AT+X\xFF\xC2\x85\xE2\x80\xA8\xE2\x80\xAE");
    Pd::Core::SetLogSink({});
    EXPECT_TRUE(log.ends_with("modem: unsupported AT+X\\xFF\\u0085\\u2028\\u202E")) << log;
}

TEST(AtEngine, AcknowledgementsAnswerTheOldestReportAndTellStoreFromNotice)
{
    MemoryModem modem;
    AtState state(modem);
    EXPECT_TRUE(AtEngine::FormatNewMessage(state, "00", 9).empty());
    EXPECT_TRUE(AtEngine::FormatNewMessage(state, "0000\r\n", 10).empty());
    EXPECT_EQ(modem.nacked, (std::vector<std::uint32_t>{9, 10})) << "no room for a TPDU, or not hex";
    EXPECT_EQ(AtEngine::FormatNewMessage(state, Testing::TextSmsPdu, 0x3FFFFFFF).at(0), "+CMT: ,30");
    EXPECT_EQ(AtEngine::FormatNewMessage(state, "0004", 0x40000000),
              (std::vector<std::string>{"+CMT: ,1", "0004"}));
    AtEngine::FormatNewMessage(state, "0004", 3);
    ExpectAnswers(state, {{"AT+CNMA;+CNMA=1;+CNMA=2;+CNMA", "OK"}});
    EXPECT_EQ(modem.deleted, std::vector<std::uint32_t>{0x3FFFFFFF});
    EXPECT_EQ(modem.dropped, std::vector<std::uint32_t>{0x40000000});
    EXPECT_EQ(modem.nacked, (std::vector<std::uint32_t>{9, 10, 3}));
}

} // namespace
