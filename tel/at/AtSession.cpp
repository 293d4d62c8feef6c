#include "tel/at/AtSession.h"

#include "core/Log.h"
#include "tel/at/AtEngine.h"
#include "tel/at/AtText.h"

#include <fmt/format.h>

#include <algorithm>
#include <utility>

namespace Pd::Tel
{
namespace
{

constexpr char CtrlZ = 0x1A;
constexpr std::string_view PduEnds = "\x1A\x1B"; // Ctrl-Z sends, ESC cancels
constexpr std::string_view LineEnds = "\r\n";

// Distinct command words logged per connection; a peer inventing words cannot flood the log.
constexpr std::size_t MaxLoggedWords = 64;

bool IsLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string Framed(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += "\r\n" + line + "\r\n";
    return text;
}

} // namespace

AtSession::AtSession(Modem& modem, Send send) : modem_(modem), send_(std::move(send)), state_(modem)
{
    state_.lastRegistration = -1;
    state_.lastAccessTechnology = -1;
    state_.lastSignal = -1;
}

void AtSession::Receive(std::string_view bytes)
{
    pending_.append(bytes);
    while (true)
    {
        std::size_t end = pending_.find_first_of(pduMode_ ? PduEnds : LineEnds);
        if (end == std::string::npos)
        {
            // What is kept of a line already too long would only be dropped at its end.
            if (pending_.size() > MaxLine)
            {
                overlong_ = true;
                pending_.clear();
            }
            break;
        }
        std::string text = pending_.substr(0, end);
        const char terminator = pending_[end];
        pending_.erase(0, end + 1);
        const bool overlong = std::exchange(overlong_, false) || text.size() > MaxLine;
        if (!pduMode_)
        {
            if (overlong)
                Answer("line", {"ERROR"});
            else if (!text.empty())
                HandleLine(text);
            continue;
        }
        pduMode_ = false;
        if (terminator != CtrlZ)
            Answer({}, {"OK"}); // cancelled
        else if (overlong)
            Answer("PDU", {"+CMS ERROR: 304"}); // no valid PDU is that long: nothing is sent
        else
            // Without the session lock: the send blocks until Windows answers, and only this
            // thread touches the PDU fields of the state.
            Answer({}, AtEngine::SubmitPdu(state_, text).lines);
    }
}

void AtSession::Answer(std::string_view overlong, const std::vector<std::string>& lines)
{
    if (!overlong.empty())
        Core::Log(fmt::format("modem: Android sent a {} longer than {} bytes - refused", overlong, MaxLine));
    PostLines(lines);
    Flush();
}

void AtSession::HandleLine(std::string_view line)
{
    LogCommandWord(line);
    AtReply reply;
    std::string_view takesMessages;
    {
        std::lock_guard lock(sessionLock_);
        reply = AtEngine::HandleLine(state_, line);
        takesMessages = state_.takesMessages;
    }
    if (reply.awaitPdu)
    {
        Post("\r\n> ");
        pduMode_ = true;
    }
    else
        PostLines(reply.lines);
    Flush();
    if (!takesMessages.empty())
    {
        Core::Log(fmt::format("modem: Android takes messages ({}) - giving it the ones waiting in the modem",
                              takesMessages.substr(1)));
        modem_.DeliverStored();
    }
}

void AtSession::LogCommandWord(std::string_view line)
{
    constexpr std::size_t MaxWord = 16;
    std::size_t end = line.starts_with("AT") ? 2 : 0;
    if (end < line.size() && std::string_view("+%$&^").find(line[end]) != std::string_view::npos)
        ++end;
    while (end < line.size() && end < MaxWord && IsLetter(line[end]))
        ++end;
    std::string word(line.substr(0, std::min(end, MaxWord)));
    if (firstSent_.size() >= MaxLoggedWords || !firstSent_.insert(word).second)
        return;
    Core::Log(fmt::format("modem: RIL first sent {}", word));
}

void AtSession::ForwardMessage(const std::string& pdu, std::uint32_t index)
{
    {
        // Queued under the session lock, so that the "+CMT" reports reach Android in the order
        // in which their ids joined handed, the order "+CNMA" takes them out again.
        std::lock_guard lock(sessionLock_);
        PostLines(AtEngine::FormatNewMessage(state_, pdu, index));
    }
    Core::Log(fmt::format("modem: SMS for Android ({} octets)", pdu.size() / 2));
    Flush();
}

void AtSession::SendRegistrationNotices()
{
    std::vector<std::string> lines;
    {
        std::lock_guard lock(sessionLock_);
        ModemState snapshot = modem_.ReadState();
        if (snapshot.registration != state_.lastRegistration ||
            snapshot.accessTechnology != state_.lastAccessTechnology)
        {
            state_.lastRegistration = snapshot.registration;
            state_.lastAccessTechnology = snapshot.accessTechnology;
            AtEngine::FormatRegistration(snapshot, "+CREG:", state_.cregMode, lines);
            AtEngine::FormatRegistration(snapshot, "+CGREG:", state_.cgregMode, lines);
        }
        if (snapshot.signal != state_.lastSignal)
        {
            state_.lastSignal = snapshot.signal;
            lines.push_back(AtEngine::FormatSignalQuality(snapshot));
        }
    }
    PostLines(lines);
    Flush();
}

void AtSession::Post(std::string text)
{
    std::lock_guard lock(outboxLock_);
    outbox_.push_back(std::move(text));
}

void AtSession::PostLines(const std::vector<std::string>& lines)
{
    if (!lines.empty())
        Post(Framed(lines));
}

void AtSession::Flush()
{
    std::lock_guard sending(sendLock_);
    while (true)
    {
        std::string text;
        {
            std::lock_guard lock(outboxLock_);
            if (outbox_.empty())
                return;
            text = std::move(outbox_.front());
            outbox_.pop_front();
        }
        send_(text);
    }
}

} // namespace Pd::Tel
