#include "platform/RealServices.h"
#include "platform/winrt/AbiAdvertisement.h"
#include "platform/winrt/AbiBluetoothAdapter.h"
#include "platform/winrt/Async.h"
#include "platform/winrt/Buffer.h"
#include "platform/winrt/Collections.h"
#include "platform/winrt/Events.h"
#include "platform/winrt/Runtime.h"

#include <map>
#include <mutex>

namespace Pd::Platform::Real
{
namespace
{

using namespace WinRt;

// The plain fields of one Received event; a field that cannot be read keeps its default.
ReceivedAdvertisement Describe(IInspectable* args)
{
    ReceivedAdvertisement received;
    auto event = QueryAs<Abi::IBluetoothLEAdvertisementReceivedEventArgs>(args);
    if (!event)
        return received;
    std::int32_t type = 0;
    event->get_BluetoothAddress(&received.address);
    received.address &= 0xFFFF'FFFF'FFFFull;
    event->get_RawSignalStrengthInDBm(&received.rawSignalStrengthInDBm);
    if (SUCCEEDED(event->get_AdvertisementType(&type)))
        received.type = static_cast<AdvertisementType>(type);
    if (auto event2 = QueryAs<Abi::IBluetoothLEAdvertisementReceivedEventArgs2>(args))
    {
        std::int32_t addressType = 0;
        Abi::Boolean connectable = 0, scannable = 0;
        if (SUCCEEDED(event2->get_BluetoothAddressType(&addressType)))
            received.randomAddress = addressType == 1;
        if (SUCCEEDED(event2->get_IsConnectable(&connectable)))
            received.isConnectable = connectable != 0;
        if (SUCCEEDED(event2->get_IsScannable(&scannable)))
            received.isScannable = scannable != 0;
    }
    else // an older Windows: what the type implies
    {
        received.isConnectable = received.type == AdvertisementType::ConnectableUndirected ||
                                 received.type == AdvertisementType::ConnectableDirected;
        received.isScannable = received.type == AdvertisementType::ConnectableUndirected ||
                               received.type == AdvertisementType::ScannableUndirected;
    }
    ComPtr<Abi::IBluetoothLEAdvertisement> advertisement;
    ComPtr<Abi::IVector<Abi::IBluetoothLEAdvertisementDataSection*>> sections;
    if (FAILED(event->get_Advertisement(advertisement.Put())) || !advertisement ||
        FAILED(advertisement->get_DataSections(sections.Put())) || !sections)
        return received;
    WalkVector<Abi::IBluetoothLEAdvertisementDataSection*>(
        sections.Get(),
        [&](ComPtr<Abi::IBluetoothLEAdvertisementDataSection> section) {
            AdvertisementSection plain;
            ComPtr<Abi::IBuffer> data;
            if (!section || FAILED(section->get_DataType(&plain.type)) ||
                FAILED(section->get_Data(data.Put())) || !data)
                return;
            if (auto bytes = BytesOf(data.Get()))
            {
                plain.data = std::move(*bytes);
                received.sections.push_back(std::move(plain));
            }
        },
        L"BluetoothLEAdvertisement.DataSections");
    return received;
}

class WinRtWatcher final : public AdvertisementWatcher
{
public:
    explicit WinRtWatcher(ComPtr<Abi::IBluetoothLEAdvertisementWatcher> watcher)
        : watcher_(std::move(watcher))
    {
    }

    ~WinRtWatcher() override
    {
        watcher_->Stop();
        std::map<std::int64_t, EventSubscription> gone;
        {
            std::lock_guard lock(mutex_);
            gone.swap(subscriptions_);
        }
    }

    Outcome<std::int64_t> AddReceived(ReceivedHandler handler) override
    {
        Abi::IBluetoothLEAdvertisementWatcher* watcher = watcher_.Get();
        auto subscription = Subscribe(
            Abi::Instances::ReceivedHandler.iid,
            [handler = std::move(handler)](IInspectable*, IInspectable* args) { handler(Describe(args)); },
            [&](Abi::ITypedEventHandler* h, Abi::EventToken* token) {
                return watcher->add_Received(h, token);
            },
            [keep = watcher_](Abi::EventToken token) { return keep->remove_Received(token); },
            L"BluetoothLEAdvertisementWatcher.Received");
        if (!subscription)
            return std::unexpected(subscription.error());
        const std::int64_t token = subscription->Token();
        std::lock_guard lock(mutex_);
        subscriptions_[token] = std::move(*subscription);
        return token;
    }

    void RemoveReceived(std::int64_t token) override
    {
        EventSubscription gone; // removed outside the lock: a running handler may call here too
        std::lock_guard lock(mutex_);
        if (auto found = subscriptions_.find(token); found != subscriptions_.end())
        {
            gone = std::move(found->second);
            subscriptions_.erase(found);
        }
    }

    Outcome<> Start() override
    {
        if (HRESULT hr = watcher_->Start(); FAILED(hr))
            return Failed(L"BluetoothLEAdvertisementWatcher.Start", hr);
        return {};
    }

    Outcome<> Stop() override
    {
        if (HRESULT hr = watcher_->Stop(); FAILED(hr))
            return Failed(L"BluetoothLEAdvertisementWatcher.Stop", hr);
        return {};
    }

private:
    ComPtr<Abi::IBluetoothLEAdvertisementWatcher> watcher_;
    std::mutex mutex_;
    std::map<std::int64_t, EventSubscription> subscriptions_;
};

} // namespace

Outcome<std::uint64_t> DefaultBluetoothAdapter()
{
    const std::wstring step = L"BluetoothAdapter.GetDefaultAsync";
    auto statics = Factory<Abi::IBluetoothAdapterStatics>(Abi::AdapterClass);
    if (!statics)
        return std::unexpected(statics.error());
    ComPtr<Abi::AdapterOperation> operation;
    if (HRESULT hr = (*statics)->GetDefaultAsync(operation.Put()); FAILED(hr) || !operation)
        return Failed(step, FAILED(hr) ? hr : E_POINTER);
    ComPtr<Abi::IBluetoothAdapter> adapter;
    if (auto ended = Await(operation.Get(), Abi::Instances::AdapterCompletedHandler.iid, adapter.Put(),
                           std::stop_token(), step);
        !ended)
        return std::unexpected(ended.error());
    if (!adapter)
        return 0; // no radio: Windows answers without an adapter
    std::uint64_t address = 0;
    if (HRESULT hr = adapter->get_BluetoothAddress(&address); FAILED(hr))
        return Failed(L"BluetoothAdapter.BluetoothAddress", hr);
    return address & 0xFFFF'FFFF'FFFFull;
}

Outcome<std::unique_ptr<AdvertisementWatcher>> CreateAdvertisementWatcher(ScanningMode mode)
{
    auto watcher = Activate<Abi::IBluetoothLEAdvertisementWatcher>(Abi::AdvertisementWatcherClass);
    if (!watcher)
        return std::unexpected(watcher.error());
    if (HRESULT hr = (*watcher)->put_ScanningMode(mode == ScanningMode::Active ? 1 : 0); FAILED(hr))
        return Failed(L"BluetoothLEAdvertisementWatcher.ScanningMode", hr);
    return std::make_unique<WinRtWatcher>(std::move(*watcher));
}

} // namespace Pd::Platform::Real
