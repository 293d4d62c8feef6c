#include "platform/sim/SimAdvertisementWatcher.h"

#include "core/StoppableSleep.h"

#include <chrono>
#include <map>
#include <mutex>
#include <thread>

namespace Pd::Platform::Sim
{
namespace
{

using Clock = std::chrono::steady_clock;

ReceivedAdvertisement Heard(const ScenarioAdvertiser& advertiser)
{
    ReceivedAdvertisement received;
    received.address = advertiser.address;
    received.randomAddress = advertiser.random;
    received.type = static_cast<AdvertisementType>(advertiser.type);
    received.isConnectable = advertiser.connectable;
    received.isScannable = advertiser.scannable;
    received.rawSignalStrengthInDBm = advertiser.rssi;
    received.sections = advertiser.sections;
    return received;
}

class SimAdvertisementWatcher final : public AdvertisementWatcher
{
public:
    SimAdvertisementWatcher(std::vector<ScenarioAdvertiser> advertisers, ScanningMode mode)
    {
        for (ScenarioAdvertiser& advertiser : advertisers)
            if (mode == ScanningMode::Active ||
                advertiser.type != static_cast<std::int32_t>(AdvertisementType::ScanResponse))
                advertisers_.push_back(std::move(advertiser));
    }

    ~SimAdvertisementWatcher() override { StopDelivery(); }

    Outcome<std::int64_t> AddReceived(ReceivedHandler handler) override
    {
        std::lock_guard guard(lock_);
        handlers_[++lastToken_] = std::move(handler);
        return lastToken_;
    }

    void RemoveReceived(std::int64_t token) override
    {
        std::lock_guard guard(lock_);
        handlers_.erase(token);
    }

    Outcome<> Start() override
    {
        std::lock_guard guard(startLock_);
        if (!delivery_.joinable())
            delivery_ = std::jthread([this](std::stop_token stop) { Deliver(stop); });
        return {};
    }

    Outcome<> Stop() override
    {
        StopDelivery();
        return {};
    }

private:
    void StopDelivery()
    {
        std::lock_guard guard(startLock_);
        if (delivery_.joinable())
        {
            delivery_.request_stop();
            delivery_.join();
        }
        delivery_ = {};
    }

    // Calls the handlers registered now, outside the lock, as Windows does: a handler removed
    // meanwhile may still see this one advertisement.
    void Raise(const ReceivedAdvertisement& received)
    {
        std::vector<ReceivedHandler> handlers;
        {
            std::lock_guard guard(lock_);
            for (const auto& [token, handler] : handlers_)
                handlers.push_back(handler);
        }
        for (const ReceivedHandler& handler : handlers)
        {
            try
            {
                handler(received);
            }
            catch (...)
            {
                // A handler's failure stays with that advertisement.
            }
        }
    }

    void Deliver(std::stop_token stop)
    {
        std::vector<Clock::time_point> due(advertisers_.size(), Clock::now());
        while (!stop.stop_requested())
        {
            Clock::time_point next = Clock::now() + std::chrono::hours(1);
            for (std::size_t i = 0; i < advertisers_.size() && !stop.stop_requested(); ++i)
            {
                if (due[i] <= Clock::now())
                {
                    Raise(Heard(advertisers_[i]));
                    due[i] =
                        std::max(due[i] + std::chrono::milliseconds(advertisers_[i].everyMs), Clock::now());
                }
                next = std::min(next, due[i]);
            }
            Core::SleepUntil(stop, next);
        }
    }

    std::vector<ScenarioAdvertiser> advertisers_;
    std::mutex lock_; // guards the handlers
    std::map<std::int64_t, ReceivedHandler> handlers_;
    std::int64_t lastToken_ = 0;
    std::mutex startLock_; // orders starts and stops
    std::jthread delivery_;
};

} // namespace

Outcome<std::unique_ptr<AdvertisementWatcher>> CreateAdvertisementWatcher(
    std::vector<ScenarioAdvertiser> advertisers, ScanningMode mode)
{
    return std::make_unique<SimAdvertisementWatcher>(std::move(advertisers), mode);
}

} // namespace Pd::Platform::Sim
