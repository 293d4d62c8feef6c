// LE scanning backed by the Windows Bluetooth LE advertisement watcher: each received
// advertisement becomes an Advertisement for the controller.
#pragma once

#include "bt/controller/Scanner.h"
#include "platform/Bluetooth.h"

#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>

namespace Pd::Bt
{

// What a Received event of the watcher tells the controller: the report's event type (the
// legacy types keep their numbers; an extended advertisement counts as connectable, else
// scannable, else non-connectable), the signal held to -127..20 dBm, and the data sections
// re-encoded as AD structures within 31 bytes.
Advertisement ToAdvertisement(const Platform::ReceivedAdvertisement& received);

using WatcherFactory =
    std::function<Platform::Outcome<std::unique_ptr<Platform::AdvertisementWatcher>>(Platform::ScanningMode)>;

class AdvertisementScanner final : public Scanner
{
public:
    explicit AdvertisementScanner(AdvertisementCallback callback,
                                  WatcherFactory createWatcher = Platform::CreateAdvertisementWatcher);
    ~AdvertisementScanner() override;
    AdvertisementScanner(const AdvertisementScanner&) = delete;
    AdvertisementScanner& operator=(const AdvertisementScanner&) = delete;

    // Makes a new watcher in the given mode and starts it, unless one runs. A refusal of
    // Windows is logged ("scan: cannot start: ...") and leaves the scanner stopped.
    void Start(bool active) override;

    // Stops and releases the running watcher; Windows' errors on the way are ignored.
    void Stop() override;

    // Stops, then lets go of the callback: nothing reaches it any more.
    void Release();

private:
    // The part a Received handler holds: Windows may still run a handler after the scanner is
    // gone, so the handler shares this instead of pointing at the scanner.
    struct Receiver
    {
        std::shared_mutex lock; // the callback lock: shared while delivering, exclusive to change
        bool running = false;
        AdvertisementCallback callback;

        void OnReceived(const Platform::ReceivedAdvertisement& received) noexcept;
        void SetRunning(bool value);
    };

    WatcherFactory createWatcher_;
    std::shared_ptr<Receiver> receiver_;
    std::mutex startStopLock_; // orders starts and stops; guards the watcher and its token
    std::unique_ptr<Platform::AdvertisementWatcher> watcher_;
    std::int64_t receivedToken_ = 0;
};

// The scanner factory the controller gets in the product.
ScannerFactory AdvertisementScannerFactory();

} // namespace Pd::Bt
