// The byte stream of one radio-interface connection: AT lines in, framed answers and unsolicited
// reports out, with the SMS PDU prompt in between. Platform-free: the owner receives from its
// socket and feeds the bytes here, and gives the send that writes one framed text to the socket.
#pragma once

#include "tel/at/Modem.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

namespace Pd::Tel
{

class AtSession
{
public:
    // Writes one framed text to Android; continues a partial send and gives up on an error.
    using Send = std::function<void(std::string_view text)>;

    // Bytes that may wait for their line end or PDU terminator. Android's longest line, a PDU of
    // 176 octets in hex, fits many times over.
    static constexpr std::size_t MaxPending = 4096;

    AtSession(Modem& modem, Send send);

    // Consumes received bytes on the receiving thread, answering every complete line and PDU.
    // False when the peer sent more than MaxPending bytes without an end: the caller closes the
    // connection, and later calls consume nothing.
    bool Receive(std::string_view bytes);

    // The modem's message handler: announces one SMS to Android. Any thread.
    void ForwardMessage(const std::string& pdu, std::uint32_t index);

    // The modem's change handler: reports registration and signal changes. Any thread.
    void SendRegistrationNotices();

private:
    void HandleLine(std::string_view line);
    void LogCommandWord(std::string_view line);
    // Queues texts for Android; the queue's order is the order on the wire.
    void Post(std::string text);
    void PostLines(const std::vector<std::string>& lines);
    void Flush();

    Modem& modem_;
    Send send_;

    std::mutex sessionLock_; // guards state_
    AtState state_;

    // The receiving thread's own.
    std::string pending_;
    bool pduMode_ = false;
    bool cutOff_ = false;
    std::set<std::string> firstSent_;

    // Taken inside the session lock or the send lock, never around either.
    std::mutex outboxLock_;
    std::deque<std::string> outbox_;
    std::mutex sendLock_; // one sender at a time, in queue order
};

} // namespace Pd::Tel
