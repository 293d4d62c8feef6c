// What the controller needs of the LE advertisement scanner. The Windows implementation (the
// advertisement watcher) plugs in through a ScannerFactory.
#pragma once

#include "bt/hci/Bytes.h"

#include <functional>
#include <memory>

namespace Pd::Bt
{

// One received LE advertisement.
struct Advertisement
{
    std::uint64_t address = 0; // 48 bits
    bool random = false;
    std::uint8_t kind = 0; // LE Advertising Report event type 0-4
    std::int8_t rssi = 0;  // dBm, -127..20
    Bytes data;            // AD structures, at most 31 bytes
};

class Scanner
{
public:
    // Destroying a scanner stops it first.
    virtual ~Scanner() = default;

    // Starts scanning unless it runs; never fails to its caller.
    virtual void Start(bool active) = 0;

    // Stops scanning if it runs; no advertisement reaches the callback once this returned.
    virtual void Stop() = 0;
};

using AdvertisementCallback = std::function<void(const Advertisement&)>;

// Makes the scanner (not started) that reports through the callback.
using ScannerFactory = std::function<std::unique_ptr<Scanner>(AdvertisementCallback callback)>;

} // namespace Pd::Bt
