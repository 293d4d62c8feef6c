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

    // The longest line or PDU text taken, without its end. Android's longest line, a PDU of 176
    // octets in hex, fits many times over.
    static constexpr std::size_t MaxLine = 4096;

    AtSession(Modem& modem, Send send);

    // Consumes received bytes on the receiving thread, answering every complete line and PDU. A
    // longer line is dropped up to its end, however it was cut into receives, and answered ERROR
    // (a longer PDU "+CMS ERROR: 304"); the connection goes on.
    void Receive(std::string_view bytes);

    // The modem's message handler: announces one SMS to Android. Any thread.
    void ForwardMessage(const std::string& pdu, std::uint32_t index);

    // The modem's change handler: reports registration and signal changes. Any thread.
    void SendRegistrationNotices();

private:
    void HandleLine(std::string_view line);
    // Sends the answer to a PDU or to a line or PDU that was too long (logged as the `overlong`
    // one unless that is empty).
    void Answer(std::string_view overlong, const std::vector<std::string>& lines);
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
    bool overlong_ = false; // the current line or PDU passed MaxLine: dropped up to its end
    std::set<std::string> firstSent_;

    // Taken inside the session lock or the send lock, never around either.
    std::mutex outboxLock_;
    std::deque<std::string> outbox_;
    std::mutex sendLock_; // one sender at a time, in queue order
};

} // namespace Pd::Tel
