// Arbitrary bytes from Android as the MMS relay's request line, read as the relay reads them.
// A parsed request must keep the promises the relay relies on (names without line breaks or
// control characters, a port in range) and must read back the same when written out again.
#include "tel/mms/MmsRequest.h"
#include "tests/support/FuzzCheck.h"

#include <string>

namespace
{

using namespace Pd::Tel;
using PdTest::Check;

bool Clean(const std::string& text)
{
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    MmsRequestLineReader reader;
    MmsRequestLineReader::State state = MmsRequestLineReader::State::Reading;
    std::size_t used = 0;
    while (used < size && state == MmsRequestLineReader::State::Reading)
        state = reader.Add(static_cast<char>(data[used++]));
    Check(reader.Line().size() <= MmsRequestLineLimit);
    Check(state != MmsRequestLineReader::State::TooLong || used == MmsRequestLineLimit + 1);

    std::optional<MmsRequest> request = ParseMmsRequest(reader.Line());
    if (!request)
        return 0;
    Check(!request->apn.empty() && !request->host.empty() && request->port != 0);
    Check(Clean(request->apn) && Clean(request->user) && Clean(request->host));
    Check(request->password.find('\t') == std::string::npos);

    std::string again = "MMS\t" + request->apn + "\t" + std::to_string(request->authentication) + "\t" +
                        request->user + "\t" + request->password + "\t" + request->host + "\t" +
                        std::to_string(request->port);
    if (again.size() > MmsRequestLineLimit) // "-1" for an authentication that held no number
        return 0;
    std::optional<MmsRequest> reread = ParseMmsRequest(again);
    Check(reread && reread->apn == request->apn && reread->authentication == request->authentication &&
          reread->user == request->user && reread->password == request->password &&
          reread->host == request->host && reread->port == request->port);
    return 0;
}
