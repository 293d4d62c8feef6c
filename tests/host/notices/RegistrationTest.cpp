#include "host/notices/Registration.h"

#include "core/host/RegistrationRequest.h"
#include "core/host/TrayHooks.h"
#include "core/Settings.h"
#include "platform/sim/SimNetwork.h"
#include "tests/release/UserValues.h"
#include "tests/support/LogCapture.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/SimScenario.h"

#include <fmt/xchar.h>
#include <gtest/gtest.h>

#include <string>

namespace
{

// Android's end of a connection that the registration handler serves.
class Android
{
public:
    Android()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        address.sin_port = ::htons(windows_.Port());
        ::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        DWORD timeoutMs = 10000;
        ::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs),
                     sizeof(timeoutMs));
    }
    ~Android() { ::closesocket(socket_); } // the handler's receive ends, then the peer can go

    void Send(const std::string& bytes) { ::send(socket_, bytes.data(), static_cast<int>(bytes.size()), 0); }

    // The answer byte, or 0 when the handler ended the connection without one.
    char Answer()
    {
        char answer = 0;
        return ::recv(socket_, &answer, 1, 0) == 1 ? answer : 0;
    }

    char HandOver(const std::string& id)
    {
        Send("RGID" + std::string(1, static_cast<char>(id.size())) + id);
        return Answer();
    }

private:
    Pd::Test::LoopbackPeer windows_{[](SOCKET s) { Pd::Host::HandleRegistrationClient(s); }};
    SOCKET socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
};

// The text on the clipboard; empty when it holds none.
std::wstring ClipboardText()
{
    std::wstring text;
    if (!::OpenClipboard(nullptr))
        return text;
    if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT))
        if (const auto* chars = static_cast<const wchar_t*>(::GlobalLock(data)))
        {
            text = chars;
            ::GlobalUnlock(data);
        }
    ::CloseClipboard();
    return text;
}

std::atomic<int> offers{0};
bool AcceptOffer()
{
    ++offers;
    return true;
}

class RegistrationTest : public ::testing::Test
{
protected:
    RegistrationTest()
    {
        std::lock_guard guard(Pd::Host::RegistrationLock);
        Pd::Host::WaitingDeviceId.clear();
        Pd::Host::OfferedDeviceId.clear();
        Pd::Host::RegistrationAsked = false;
        offers = 0;
    }
    ~RegistrationTest() override { Pd::Host::TrayHooks::registrationOffer = nullptr; }

    std::wstring Registered() { return Pd::Core::ReadUserString(L"GooglePlayRegistered", L""); }
    std::vector<std::wstring> OpenedPages() { return Pd::Platform::Sim::OpenedWebPages(pc_.Folder()); }

    PdTest::UserValues values_{{L"GooglePlayIdKnown", L"GooglePlayRegistered", L"GooglePlayIdCopied"}};
    Pd::Test::SimScenario pc_{"{}"};
    Pd::Test::LogCapture log_;
};

TEST(RegistrationIdHash, IsFnv1a64OverTheLowBytes)
{
    EXPECT_EQ(Pd::Host::RegistrationIdHash(L""), 0xCBF29CE484222325ULL);
    EXPECT_EQ(Pd::Host::RegistrationIdHash(L"a"), 0xAF63DC4C8601EC8CULL);
}

TEST_F(RegistrationTest, AMalformedMessageEndsTheConnectionWithoutAnAnswer)
{
    for (const std::string& message : {"RGID\x15" + std::string(21, '1'), std::string("RGID\x00", 5),
                                       std::string("RGID\x03") + "12a", std::string("RGIX\x01") + "1"})
    {
        Android android;
        android.Send(message);
        EXPECT_EQ(android.Answer(), 0) << message;
    }
    Android android;
    EXPECT_EQ(android.HandOver(std::string(20, '9')), 'N'); // no tray: Android offers it itself
    EXPECT_EQ(Pd::Core::ReadUserDword(L"GooglePlayIdKnown"), 1u);
    Pd::Core::WriteUserDword(L"GooglePlayIdKnown", 0);
    EXPECT_EQ(android.HandOver("5678"), 'N');
    EXPECT_EQ(Pd::Core::ReadUserDword(L"GooglePlayIdKnown"), 0u); // only the host's first id
}

TEST_F(RegistrationTest, TheSameIdHandedOverTwiceIsOfferedOnce)
{
    Pd::Host::TrayHooks::registrationOffer = &AcceptOffer;
    Android android;
    EXPECT_EQ(android.HandOver("4242"), 'S');
    EXPECT_EQ(android.HandOver("4242"), 'S');
    EXPECT_EQ(offers, 1);
    EXPECT_EQ(log_.Count("offered in a Windows notification"), 1u);
}

TEST_F(RegistrationTest, ARegisterRequestBeforeTheIdOpensThePageWhenItArrives)
{
    Pd::Host::HandleRegisterSignal();
    EXPECT_TRUE(OpenedPages().empty());
    {
        Android android;
        EXPECT_EQ(android.HandOver("777"), 'O');
    }
    EXPECT_EQ(OpenedPages(), std::vector<std::wstring>{L"https://www.google.com/android/uncertified"});
    EXPECT_EQ(Registered(), fmt::format(L"{:016X}", Pd::Host::RegistrationIdHash(L"777")));
    EXPECT_EQ(ClipboardText(), L"777") << "copied without an owner window of the caller's";
    EXPECT_EQ(Pd::Host::ReadIdCopy(), Pd::Host::IdCopy::Copied);

    // Registered from Windows before: later hand-overs are done without an offer.
    Pd::Host::TrayHooks::registrationOffer = &AcceptOffer;
    Android android;
    EXPECT_EQ(android.HandOver("777"), 'O');
    EXPECT_EQ(offers, 0);
}

TEST_F(RegistrationTest, APageThatDidNotOpenLeavesTheRequestPending)
{
    pc_.Write(R"({"shell":{"opensPages":false}})");
    Pd::Host::HandleRegisterSignal();
    {
        Android android;
        EXPECT_EQ(android.HandOver("31337"), 'N'); // not done: Android keeps its own offer
    }
    EXPECT_EQ(Registered(), L"");
    EXPECT_EQ(log_.Count("page could not be opened"), 1u) << log_.Dump();

    // The shell in order again: the pending request is honoured at the next hand-over.
    pc_.Write("{}");
    Android android;
    EXPECT_EQ(android.HandOver("31337"), 'O');
    EXPECT_EQ(OpenedPages().size(), 1u);
}

// The page still opens when the clipboard cannot take the id, and the window and the command
// line learn that it was not copied.
TEST_F(RegistrationTest, AClipboardHeldByAnotherProgramIsReportedAsNotCopied)
{
    Pd::Core::WriteUserDword(L"GooglePlayIdCopied", 0);
    Pd::Host::HandleRegisterSignal();
    ASSERT_TRUE(::OpenClipboard(nullptr)); // held on this thread; the handler runs on another
    {
        Android android;
        EXPECT_EQ(android.HandOver("4711"), 'O');
    }
    ::CloseClipboard();
    EXPECT_EQ(OpenedPages().size(), 1u);
    EXPECT_EQ(Pd::Host::ReadIdCopy(), Pd::Host::IdCopy::NotCopied);
    EXPECT_EQ(log_.Count("the device ID could not be copied"), 1u) << log_.Dump();
}

} // namespace
