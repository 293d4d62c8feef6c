// One connection of the Windows Hello bridge, apart from its socket: the requests and cancels
// Android sends, the verification thread that answers them, and the process-wide remembered
// verification (host/hello/LockWatch.h forgets it).
#pragma once

#include "host/hello/Frames.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

namespace Pd::Bio::Hello
{

// Sends one frame whole; may be called from several threads at once.
using FrameSender = std::function<void(FrameKind kind, std::uint8_t value)>;

// A successful verification, as remembered for later requests.
struct RememberedVerification
{
    bool valid = false;
    std::uint64_t tick = 0;       // GetTickCount64 at the success
    std::uint64_t generation = 0; // lock generation at the success
    GUID vm{};                    // the Android VM whose request it answered
};

// Whether a request of the VM `vm` may be answered from memory with `minutes` of HelloRemember
// (0xFFFFFFFF: until locked). Forgets the memory when the setting is off, the session is not
// watched, Windows was locked since or the request comes from another VM than the one the
// verification was given for; a memory that only ran out of time is kept.
bool AnswerFromMemory(RememberedVerification& memory, std::uint32_t minutes, bool sessionNotifications,
                      std::uint64_t generation, std::uint64_t now, const GUID& vm);

// The process-wide remembered state; `lock` guards `memory`.
struct RememberedState
{
    std::mutex lock;
    RememberedVerification memory;
    std::atomic<std::uint64_t> generation{0};
    std::atomic<bool> sessionNotifications{false};
};
RememberedState& Remembered();

class Session
{
public:
    // `availabilityChanged` is signalled after each verification; it must outlive the session.
    // `vm` is the Android VM the connection goes to.
    Session(FrameSender send, HANDLE availabilityChanged, const GUID& vm);
    // Cancels a running verification and waits for its answer.
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Acts on one frame from Android (its payload already dropped).
    void OnFrame(const FrameHeader& frame);

private:
    void Request();
    void VerifyAndAnswer(std::wstring text, std::stop_token cancel);

    FrameSender send_;
    HANDLE availabilityChanged_;
    GUID vm_;
    std::atomic<bool> busy_{false}; // from an accepted request until its answer goes out
    std::stop_source cancel_;
    std::thread verification_;
};

} // namespace Pd::Bio::Hello
