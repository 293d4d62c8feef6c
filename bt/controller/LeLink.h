// What the controller needs of one LE link: a real device behind an LE connection that Android
// believes it made. The Windows implementation (device, GATT mirror, ATT server, pairing) plugs
// in through a LinkConnector.
#pragma once

#include "bt/hci/Bytes.h"

#include <functional>
#include <memory>
#include <stop_token>

namespace Pd::Bt
{

// The two ends of one LE link.
struct LinkAddresses
{
    std::uint64_t localAddress = 0; // Android's side, the initiator
    bool localIsRandom = false;
    std::uint64_t peerAddress = 0; // the real device, the responder
    bool peerIsRandom = false;

    friend bool operator==(const LinkAddresses&, const LinkAddresses&) = default;
};

class LeLink
{
public:
    // Destroying a link closes it first.
    virtual ~LeLink() = default;

    // Queues one L2CAP PDU from Android (CID and payload) for the link's worker; never blocks
    // for long. Returns false to hold back the ACL credit of the packet that completed the PDU
    // (its queue is full): the controller keeps it until the link calls its LinkCreditsFreed,
    // and Android, out of credits, stops sending meanwhile.
    virtual bool PushFromAndroid(std::uint16_t cid, Bytes pdu) = 0;

    // Encryption is on: the link distributes its keys once the PDUs queued before have been
    // handled. Asking again before that changes nothing; never blocks for long.
    virtual void DistributeKeys() = 0;

    // True once the real device went away.
    virtual bool IsDisconnected() const = 0;

    // Stops the worker and releases the device; runs once, further calls return at once.
    // Never calls the on-disconnect callback. Neither Close nor the release of the link may run
    // inside one of its callbacks: it waits for the threads that run them.
    virtual void Close() = 0;
};

// Sends one L2CAP PDU (CID, payload) from the link to Android.
using LinkSend = std::function<void(std::uint16_t cid, Bytes payload)>;

// Tells the controller that the device went away, with the HCI reason; called at most once.
using LinkDisconnected = std::function<void(std::uint8_t reason)>;

// Tells the controller that the link has room again: Android gets back every ACL credit the link
// held back. Harmless when none is held.
using LinkCreditsFreed = std::function<void()>;

// Opens the device of the addresses and returns its link, or null when that failed. Writes
// 0x3E to status on failure and 0x00 with a link. May block for as long as Windows needs, until
// stop is requested (the attempt is cancelled or the controller goes away), which ends it.
using LinkConnector = std::function<std::unique_ptr<LeLink>(
    const LinkAddresses& addresses, LinkSend send, LinkDisconnected onDisconnect,
    LinkCreditsFreed creditsFreed, std::uint8_t& status, std::stop_token stop)>;

} // namespace Pd::Bt
