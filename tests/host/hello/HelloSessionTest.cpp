#include "host/hello/HelloSession.h"
#include "core/Elevation.h"
#include "core/Handles.h"
#include "core/host/HostSettings.h"
#include "core/ObjectSecurity.h"
#include "core/Settings.h"
#include "core/Strings.h"
#include "host/hello/BridgeHolder.h"
#include "host/hello/HelloBridge.h"
#include "host/hello/LockWatch.h"
#include "platform/sim/SimUserConsent.h"
#include "tests/support/HangLimit.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SimScenario.h"

#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace
{

using namespace std::chrono_literals;
using namespace Pd::Bio;
using namespace Pd::Bio::Hello;
using Pd::Test::SimScenario;

constexpr GUID FirstVm{0x2B1B9D9E, 0x0A4C, 0x4D3B, {0x9E, 0x8F, 0x7A, 0x6B, 0x5C, 0x4D, 0x3E, 0x2F}};
constexpr GUID OtherVm{0x0D1E2F3A, 0x4B5C, 0x4D6E, {0x8F, 0x70, 0x81, 0x92, 0xA3, 0xB4, 0xC5, 0xD6}};

TEST(HelloMemory, RequestsAreAnsweredFromMemoryOnlyWhileItHolds)
{
    constexpr std::uint64_t Minute = 60000;
    struct Case
    {
        const char* name;
        std::uint32_t minutes;
        bool watched;
        std::uint64_t generation;
        std::uint64_t elapsed;
        bool answered;
        bool keptValid;
        GUID vm = FirstVm;
    };
    const Case cases[] = {
        {"4 of 5 minutes", 5, true, 7, 4 * Minute, true, true},
        {"6 of 5 minutes: prompt, memory kept", 5, true, 7, 6 * Minute, false, true},
        {"until locked, a day later", 0xFFFFFFFF, true, 7, 1440 * Minute, true, true},
        {"locked since", 0xFFFFFFFF, true, 8, 0, false, false},
        {"setting off", 0, true, 7, 0, false, false},
        {"no session notifications", 30, false, 7, 0, false, false},
        {"another VM asks", 30, true, 7, 0, false, false, OtherVm},
    };
    for (const Case& c : cases)
    {
        RememberedVerification memory{true, 1000, 7, FirstVm};
        EXPECT_EQ(AnswerFromMemory(memory, c.minutes, c.watched, c.generation, 1000 + c.elapsed, c.vm),
                  c.answered)
            << c.name;
        EXPECT_EQ(memory.valid, c.keptValid) << c.name;
    }
}

// Android's side of a session: the frames the bridge sent, in order. After each answer to a
// request the sender holds on for a moment, as a slow send would.
class Peer
{
public:
    FrameSender Sender()
    {
        return [this](FrameKind kind, std::uint8_t value) {
            {
                std::lock_guard guard(lock_);
                frames_.push_back({static_cast<std::uint8_t>(kind), value});
            }
            arrived_.notify_all();
            if (kind == FrameKind::Verify)
                std::this_thread::sleep_for(200ms);
        };
    }

    // The value of the next answer to a request; 0 when none came in time.
    std::uint8_t NextAnswer()
    {
        std::unique_lock guard(lock_);
        for (;;)
        {
            if (!arrived_.wait_for(guard, Pd::Test::HangLimit, [this] { return !frames_.empty(); }))
                return 0;
            auto [kind, value] = frames_.front();
            frames_.pop_front();
            if (kind == static_cast<std::uint8_t>(FrameKind::Verify))
                return value;
        }
    }

private:
    std::mutex lock_;
    std::condition_variable arrived_;
    std::deque<std::pair<std::uint8_t, std::uint8_t>> frames_;
};

class HelloSessionTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(Pd::Host::SetHelloRememberMinutes(0)); }
    void TearDown() override { ASSERT_TRUE(Pd::Host::SetHelloRememberMinutes(0)); }

    static FrameHeader Frame(FrameKind kind) { return {FrameMagic, static_cast<std::uint8_t>(kind), 0, 0}; }

    Pd::UniqueHandle changed_{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    Peer peer_;
};

TEST_F(HelloSessionTest, ARequestSentTheMomentAnAnswerIsReadIsServed)
{
    SimScenario pc(R"({"hello":{"result":0}})");
    Session session(peer_.Sender(), changed_.Get(), FirstVm);
    session.OnFrame(Frame(FrameKind::Verify));
    EXPECT_EQ(peer_.NextAnswer(), 1);
    session.OnFrame(Frame(FrameKind::Verify)); // while the answer's send still returns
    EXPECT_EQ(peer_.NextAnswer(), 1) << "4 would be busy, though nothing ran";
    EXPECT_EQ(Pd::Platform::Sim::RecordedHelloPrompts(pc.Folder()).size(), 2u);
}

TEST_F(HelloSessionTest, ARememberedVerificationEndsWithALock)
{
    SimScenario pc(R"({"hello":{"result":0}})");
    ASSERT_TRUE(Pd::Host::SetHelloRememberMinutes(5));
    Remembered().memory = {}; // process-wide: an earlier test's success would answer at once
    LockWatch lockWatch;
    HWND watch = nullptr;
    ASSERT_TRUE(Pd::Test::PollUntil([&] {
        watch = ::FindWindowExW(HWND_MESSAGE, nullptr, L"Peldra.HelloLockWatch", nullptr);
        return watch != nullptr && Remembered().sessionNotifications;
    }));
    {
        Session session(peer_.Sender(), changed_.Get(), FirstVm);
        for (int request = 0; request < 2; ++request)
        {
            session.OnFrame(Frame(FrameKind::Verify));
            EXPECT_EQ(peer_.NextAnswer(), 1);
        }
        EXPECT_EQ(Pd::Platform::Sim::RecordedHelloPrompts(pc.Folder()).size(), 1u)
            << "the second was remembered";
        ::SendMessageW(watch, WM_WTSSESSION_CHANGE, 7 /* WTS_SESSION_LOCK */, 0);
        session.OnFrame(Frame(FrameKind::Verify));
        EXPECT_EQ(peer_.NextAnswer(), 1);
        EXPECT_EQ(Pd::Platform::Sim::RecordedHelloPrompts(pc.Folder()).size(), 2u);
    }
    // A verification given to one VM answers no other: a new VM's request asks again, and so does
    // the first VM's after it.
    for (const GUID& vm : {OtherVm, OtherVm, FirstVm})
    {
        Session session(peer_.Sender(), changed_.Get(), vm);
        session.OnFrame(Frame(FrameKind::Verify));
        EXPECT_EQ(peer_.NextAnswer(), 1);
    }
    EXPECT_EQ(Pd::Platform::Sim::RecordedHelloPrompts(pc.Folder()).size(), 4u);
}

} // namespace

// A program of this user that takes the bridge's name first keeps it from running; the host's
// log, status and the window say who holds it. Peldra's own holder is named as Peldra.
TEST(HelloBridge, ANameAnotherProgramTookFirstKeepsTheBridgeFromRunningAndIsNamed)
{
    const std::wstring user = Pd::Core::ProcessUserSid();
    PSID userSid = nullptr;
    ASSERT_TRUE(::ConvertStringSidToSidW(user.c_str(), &userSid));
    const Pd::UniqueLocal ownedSid(userSid);
    const std::wstring owner = Pd::Core::AccountText(userSid); // "DOMAIN\\name (SID)"
    EXPECT_EQ(ForeignBridgeHolder(), std::nullopt);
    PSECURITY_DESCRIPTOR raw = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        (L"O:" + user + L"D:(A;;GA;;;" + user + L")").c_str(), SDDL_REVISION_1, &raw, nullptr));
    const Pd::UniqueLocal descriptor(raw);
    SECURITY_ATTRIBUTES mediumProgram{sizeof(mediumProgram), raw, FALSE};
    for (const bool squatted : {true, false})
    {
        Pd::UniqueHandle holder =
            squatted ? Pd::UniqueHandle(::CreateMutexW(&mediumProgram, FALSE, InstanceMutexName))
                     : Pd::Core::CreateSessionMutex(InstanceMutexName, false);
        ASSERT_TRUE(holder);
        EXPECT_EQ(ForeignBridgeHolder(), squatted ? std::optional(owner) : std::nullopt);
        Pd::Test::LogCapture log;
        EXPECT_EQ(RunBridge(std::stop_token()), 0);
        EXPECT_EQ(log.Count(squatted
                                ? "hello: another program (owner " + Pd::Core::ToUtf8(owner) +
                                      ") holds Local\\Peldra.HelloBridge: the Windows Hello bridge cannot run"
                                : "hello: another Peldra process serves Windows Hello"),
                  1u);
    }
}
