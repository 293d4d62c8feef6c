// What the PC's modem shares with its event sink and the SMS router's handler: the
// session's handlers, the requests waiting for their completion events and the delivery
// bookkeeping. Held by std::shared_ptr, so that an event arriving while the modem is being closed
// touches only this.
#pragma once

#include "core/Handles.h"
#include "core/ScopeExit.h"
#include "tel/at/Modem.h"

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace Pd::Tel
{

// One message of the modem's store.
struct StoredMessage
{
    std::uint32_t index = 0;
    std::uint8_t status = 1; // 0 new, 1 old, 2 draft, 3 sent (any other value reads as 3)
    std::string pdu;         // hexadecimal
};

// One PDU of an MMS notice from Windows' SMS router, kept until Android acknowledges it.
struct KeptNotice
{
    std::uint32_t id = 0;
    std::string pdu;
    bool delivered = false;
    std::uint32_t message = 0; // the id of the notice's first PDU: its parts go together
};

struct Shared
{
    // One SMS send waiting for its completion.
    struct Pending
    {
        UniqueHandle event{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        HRESULT status = E_PENDING;
    };

    // One message-store read waiting for its completions. Partial completions may arrive on
    // several threads at once: each counts itself in `arriving` while it reads its messages, and
    // the read is signalled only once the last one (more to come false) is in and none is
    // still arriving.
    struct Read
    {
        UniqueHandle event{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        HRESULT status = E_PENDING;
        std::vector<StoredMessage> messages;
        std::uint32_t arriving = 0;
        bool last = false;
        bool signalled = false;
    };

    std::mutex lock;
    std::function<void(const std::string& pdu, std::uint32_t index)> messageHandler;
    std::function<void()> changeHandler;
    std::map<std::uint32_t, std::shared_ptr<Pending>> sends;
    std::map<std::uint32_t, std::shared_ptr<Read>> reads;
    // Ids of recorded reads that are finished: their late completions are dropped, never taken
    // for new messages. Only the most recent ones are remembered.
    std::set<std::uint32_t> finishedReads;
    std::set<std::uint32_t> handed;
    std::vector<KeptNotice> keptNotices;
    std::uint32_t noticeCounter = 0;
    std::uint8_t referenceCounter = 0;
    // Set when the modem closes: a routed message arriving later is dropped.
    bool closed = false;

    // Handler calls under way: DisconnectSinks waits for them, so that no handler runs once it
    // has returned.
    std::uint32_t handlerCalls = 0;
    std::condition_variable handlerDone;
};

// Runs a handler copied under the shared lock (which the caller holds through `held`), with the
// lock released, counted as under way until it returns.
template <typename Handler, typename... Args>
void CallHandler(Shared& shared, std::unique_lock<std::mutex>& held, const Handler& handler, Args&&... args)
{
    ++shared.handlerCalls;
    held.unlock();
    Core::ScopeExit counted([&] {
        held.lock();
        if (--shared.handlerCalls == 0)
            shared.handlerDone.notify_all();
    });
    handler(std::forward<Args>(args)...);
}

} // namespace Pd::Tel
