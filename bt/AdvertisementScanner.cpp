#include "bt/AdvertisementScanner.h"

#include "bt/hci/AdvertisingData.h"
#include "bt/WindowsFailure.h"
#include "core/Log.h"

#include <fmt/format.h>

#include <algorithm>

namespace Pd::Bt
{
namespace
{

using Platform::AdvertisementType;

constexpr std::uint64_t AddressMask = 0xFFFF'FFFF'FFFF;

// LE Advertising Report event types.
constexpr std::uint8_t ConnectableUndirected = 0;
constexpr std::uint8_t ScannableUndirected = 2;
constexpr std::uint8_t NonConnectableUndirected = 3;

std::uint8_t ReportKind(const Platform::ReceivedAdvertisement& received)
{
    switch (received.type)
    {
    case AdvertisementType::ConnectableUndirected:
    case AdvertisementType::ConnectableDirected:
    case AdvertisementType::ScannableUndirected:
    case AdvertisementType::NonConnectableUndirected:
    case AdvertisementType::ScanResponse:
        return static_cast<std::uint8_t>(received.type); // the report uses Windows' numbers
    default:
        if (received.isConnectable)
            return ConnectableUndirected;
        return received.isScannable ? ScannableUndirected : NonConnectableUndirected;
    }
}

void LogCannotStart(const Platform::Error& error)
{
    Core::Log(fmt::format("scan: cannot start: {}", FailureText(error)));
}

} // namespace

Advertisement ToAdvertisement(const Platform::ReceivedAdvertisement& received)
{
    Advertisement advertisement;
    advertisement.address = received.address & AddressMask;
    advertisement.random = received.randomAddress;
    advertisement.kind = ReportKind(received);
    advertisement.rssi = static_cast<std::int8_t>(std::clamp<int>(received.rawSignalStrengthInDBm, -127, 20));
    for (const Platform::AdvertisementSection& section : received.sections)
        AppendAdStructure(advertisement.data, section.type, section.data);
    return advertisement;
}

void AdvertisementScanner::Receiver::OnReceived(const Platform::ReceivedAdvertisement& received) noexcept
{
    try
    {
        Advertisement advertisement = ToAdvertisement(received);
        std::shared_lock guard(lock);
        if (running && callback)
            callback(advertisement);
    }
    catch (...)
    {
        // Runs on a Windows thread: this advertisement is lost, the next one follows soon.
    }
}

void AdvertisementScanner::Receiver::SetRunning(bool value)
{
    std::unique_lock guard(lock);
    running = value;
}

AdvertisementScanner::AdvertisementScanner(AdvertisementCallback callback, WatcherFactory createWatcher)
    : createWatcher_(std::move(createWatcher)), receiver_(std::make_shared<Receiver>())
{
    receiver_->callback = std::move(callback);
}

AdvertisementScanner::~AdvertisementScanner()
{
    Release();
}

void AdvertisementScanner::Start(bool active)
{
    std::lock_guard guard(startStopLock_);
    if (watcher_)
        return;
    auto watcher = createWatcher_(active ? Platform::ScanningMode::Active : Platform::ScanningMode::Passive);
    if (!watcher)
        return LogCannotStart(watcher.error());
    auto token =
        (*watcher)->AddReceived([receiver = receiver_](const Platform::ReceivedAdvertisement& received) {
            receiver->OnReceived(received);
        });
    if (!token)
        return LogCannotStart(token.error());
    receiver_->SetRunning(true);
    if (auto started = (*watcher)->Start(); !started)
    {
        receiver_->SetRunning(false);
        watcher->reset();
        return LogCannotStart(started.error());
    }
    watcher_ = std::move(*watcher);
    receivedToken_ = *token;
    Core::Log(fmt::format("scan: started ({})", active ? "active" : "passive"));
}

void AdvertisementScanner::Stop()
{
    std::lock_guard guard(startStopLock_);
    if (!watcher_)
        return;
    receiver_->SetRunning(false);
    watcher_->RemoveReceived(receivedToken_);
    (void)watcher_->Stop(); // a watcher that fails to stop is released all the same
    watcher_.reset();
    Core::Log("scan: stopped");
}

void AdvertisementScanner::Release()
{
    Stop();
    std::unique_lock guard(receiver_->lock);
    receiver_->callback = nullptr;
}

ScannerFactory AdvertisementScannerFactory()
{
    return [](AdvertisementCallback callback) -> std::unique_ptr<Scanner> {
        return std::make_unique<AdvertisementScanner>(std::move(callback));
    };
}

} // namespace Pd::Bt
