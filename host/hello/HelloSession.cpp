#include "host/hello/HelloSession.h"

#include "core/ComApartment.h"
#include "core/host/HostSettings.h"
#include "core/Log.h"
#include "core/Text.h"
#include "host/hello/WindowsHello.h"

#include <fmt/format.h>

#include <system_error>

namespace Pd::Bio::Hello
{
namespace
{

constexpr std::uint32_t RememberUntilLocked = 0xFFFFFFFF;

// The answer values of kind 3: VerifyResult + 1.
constexpr std::uint8_t AnswerVerified = 1;
constexpr std::uint8_t AnswerBusy = 4;

std::uint8_t AnswerOf(VerifyResult result)
{
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(result) + 1);
}

} // namespace

bool AnswerFromMemory(RememberedVerification& memory, std::uint32_t minutes, bool sessionNotifications,
                      std::uint64_t generation, std::uint64_t now, const GUID& vm)
{
    if (minutes == 0 || !sessionNotifications || !memory.valid || memory.generation != generation ||
        !::IsEqualGUID(memory.vm, vm))
    {
        if (memory.valid && !::IsEqualGUID(memory.vm, vm))
            Core::Log("hello: another Android VM asks, a remembered verification is forgotten");
        memory.valid = false;
        return false;
    }
    return minutes == RememberUntilLocked || now - memory.tick < static_cast<std::uint64_t>(minutes) * 60000;
}

RememberedState& Remembered()
{
    static RememberedState* state = new RememberedState; // lives until exit: bridge threads may outlive main
    return *state;
}

Session::Session(FrameSender send, HANDLE availabilityChanged, const GUID& vm)
    : send_(std::move(send)), availabilityChanged_(availabilityChanged), vm_(vm)
{
}

Session::~Session()
{
    cancel_.request_stop();
    if (verification_.joinable())
        verification_.join();
}

void Session::OnFrame(const FrameHeader& frame)
{
    switch (static_cast<FrameKind>(frame.kind))
    {
    case FrameKind::Cancel:
        cancel_.request_stop(); // no effect without a running prompt
        break;
    case FrameKind::Verify:
        Request();
        break;
    default:
        break; // read and dropped
    }
}

void Session::Request()
{
    if (busy_.exchange(true))
    {
        send_(FrameKind::Verify, AnswerBusy); // the running prompt answers its own request
        return;
    }
    if (verification_.joinable())
        verification_.join(); // it cleared the busy flag: it is at its end
    const std::uint32_t minutes = Host::HelloRememberMinutes();
    RememberedState& state = Remembered();
    bool remembered = false;
    {
        std::lock_guard guard(state.lock);
        remembered = AnswerFromMemory(state.memory, minutes, state.sessionNotifications.load(),
                                      state.generation.load(), ::GetTickCount64(), vm_);
    }
    if (remembered)
    {
        Core::Log("hello: verification requested, remembered (setting HelloRemember)");
        busy_.store(false);
        send_(FrameKind::Verify, AnswerVerified);
        return;
    }
    cancel_ = std::stop_source();
    std::wstring text = Core::Text(TextId::HelloPrompt);
    Core::Log("hello: verification requested");
    try
    {
        verification_ = std::thread(&Session::VerifyAndAnswer, this, std::move(text), cancel_.get_token());
    }
    catch (const std::system_error&)
    {
        Core::Log("hello: the verification thread cannot be started");
        busy_.store(false);
        send_(FrameKind::Verify, AnswerOf(VerifyResult::Failed));
    }
}

void Session::VerifyAndAnswer(std::wstring text, std::stop_token cancel)
{
    Core::ComApartment apartment(Core::Apartment::Multithreaded);
    const VerifyResult result = RequestVerification(text, cancel);
    Core::Log(fmt::format("hello: verification -> {}", static_cast<std::uint32_t>(result)));
    RememberedState& state = Remembered();
    {
        std::lock_guard guard(state.lock);
        if (result == VerifyResult::Verified)
            state.memory = {true, ::GetTickCount64(), state.generation.load(), vm_};
        else if (result == VerifyResult::Failed)
            state.memory.valid = false;
    }
    // Free before the answer goes out: Android may ask again the moment it reads it.
    busy_.store(false);
    send_(FrameKind::Verify, AnswerOf(result));
    ::SetEvent(availabilityChanged_);
}

} // namespace Pd::Bio::Hello
