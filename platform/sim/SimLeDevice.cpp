#include "platform/sim/SimLeDevice.h"

#include "platform/sim/SimGattOperations.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace Pd::Platform::Sim
{
namespace
{

using Bytes = std::vector<std::uint8_t>;

// One opened device: its values as they change, its configurations, whether it is still
// connected, and the handlers registered on its objects.
class DeviceState : public std::enable_shared_from_this<DeviceState>
{
public:
    explicit DeviceState(ScenarioLeDevice data) : data_(std::move(data))
    {
        for (const auto& service : data_.services)
            for (const auto& characteristic : service.characteristics)
            {
                values_[characteristic.handle] = characteristic.value;
                for (const auto& descriptor : characteristic.descriptors)
                    values_[descriptor.handle] = descriptor.value;
            }
    }

    const ScenarioLeDevice& Data() const { return data_; }

    // Waits as long as the operation lasts; then the status it ends with on a lost device.
    Outcome<GattStatus> Operate(std::wstring_view name, std::stop_token stop)
    {
        if (auto waited =
                SimulateOperation(name, std::chrono::milliseconds(data_.operationMs), data_.hangs, stop);
            !waited)
            return std::unexpected(waited.error());
        std::lock_guard guard(lock_);
        return connected_ ? GattStatus::Success : GattStatus::Unreachable;
    }

    // A listing of the database lasts only when the scenario makes "discover" hang.
    Outcome<> Discover(std::stop_token stop)
    {
        return SimulateOperation(L"discover", std::chrono::milliseconds(0), data_.hangs, stop);
    }

    Bytes Value(std::uint16_t handle)
    {
        std::lock_guard guard(lock_);
        return values_[handle];
    }
    void SetValue(std::uint16_t handle, Bytes value)
    {
        std::lock_guard guard(lock_);
        values_[handle] = std::move(value);
    }

    GattClientConfiguration Configuration(std::uint16_t characteristic)
    {
        std::lock_guard guard(lock_);
        return configurations_[characteristic];
    }

    // Starts the characteristic's value changes when it has any and they are not running yet.
    void Configure(const ScenarioGattCharacteristic& characteristic, GattClientConfiguration configuration)
    {
        bool start = false;
        {
            std::lock_guard guard(lock_);
            configurations_[characteristic.handle] = configuration;
            if (configuration != GattClientConfiguration::None && !characteristic.changes.empty() &&
                !changing_[characteristic.handle])
                start = changing_[characteristic.handle] = true;
        }
        if (start)
            ScheduleChange(characteristic);
    }

    bool Connected()
    {
        std::lock_guard guard(lock_);
        return connected_;
    }

    bool Paired()
    {
        std::lock_guard guard(lock_);
        return paired_;
    }
    void SetPaired()
    {
        std::lock_guard guard(lock_);
        paired_ = true;
    }

    // ---- handlers ----

    template <typename Handler> std::int64_t Add(std::map<std::int64_t, Handler>& handlers, Handler handler)
    {
        std::lock_guard calls(callLock_);
        handlers.emplace(++lastToken_, std::move(handler));
        return lastToken_;
    }
    template <typename Handler> void Remove(std::map<std::int64_t, Handler>& handlers, std::int64_t token)
    {
        std::lock_guard calls(callLock_); // waits for a handler that runs now
        handlers.erase(token);
    }

    std::map<std::int64_t, std::pair<std::uint16_t, GattValueChangedHandler>> valueHandlers;
    std::map<std::int64_t, GattSessionStatusHandler> sessionHandlers;
    std::map<std::int64_t, std::function<void(BluetoothConnectionStatus)>> connectionHandlers;

    // After the session opened: the device goes away when the scenario says so.
    void SessionOpened()
    {
        if (data_.disconnectAfterMs == 0)
            return;
        RunLater(std::chrono::milliseconds(data_.disconnectAfterMs), [weak = weak_from_this()] {
            if (auto self = weak.lock())
                self->Disconnect();
        });
    }

private:
    void Disconnect()
    {
        {
            std::lock_guard guard(lock_);
            connected_ = false;
        }
        std::lock_guard calls(callLock_);
        for (auto& [token, handler] : sessionHandlers)
            handler(GattSessionStatus::Closed);
        for (auto& [token, handler] : connectionHandlers)
            handler(BluetoothConnectionStatus::Disconnected);
    }

    void ScheduleChange(const ScenarioGattCharacteristic& characteristic)
    {
        RunLater(std::chrono::milliseconds(characteristic.changeEveryMs),
                 [weak = weak_from_this(), &characteristic] {
                     if (auto self = weak.lock())
                         self->Change(characteristic);
                 });
    }

    // The next value of the characteristic, raised to its handlers; stops once unconfigured.
    void Change(const ScenarioGattCharacteristic& characteristic)
    {
        Bytes value;
        {
            std::lock_guard guard(lock_);
            if (!connected_ || configurations_[characteristic.handle] == GattClientConfiguration::None)
            {
                changing_[characteristic.handle] = false;
                return;
            }
            std::size_t& next = nextChange_[characteristic.handle];
            value = characteristic.changes[next++ % characteristic.changes.size()];
            values_[characteristic.handle] = value;
        }
        {
            std::lock_guard calls(callLock_);
            for (auto& [token, handler] : valueHandlers)
                if (handler.first == characteristic.handle)
                    handler.second(value);
        }
        ScheduleChange(characteristic);
    }

    const ScenarioLeDevice data_; // the characteristics' addresses stay valid for the events
    std::mutex lock_;
    std::map<std::uint16_t, Bytes> values_; // by characteristic or descriptor handle
    std::map<std::uint16_t, GattClientConfiguration> configurations_;
    std::map<std::uint16_t, bool> changing_;
    std::map<std::uint16_t, std::size_t> nextChange_;
    bool connected_ = true;
    bool paired_ = data_.paired;

    // Held while handlers run and while they are added or removed; a handler may remove one.
    std::recursive_mutex callLock_;
    std::int64_t lastToken_ = 0;
};

using State = std::shared_ptr<DeviceState>;

GattReadResult ReadResult(GattStatus status, const ScenarioGattAnswer& answer, Bytes value)
{
    if (status != GattStatus::Success)
        return {status, std::nullopt, {}};
    if (answer.status != 0)
        return {static_cast<GattStatus>(answer.status), answer.protocolError, {}};
    return {GattStatus::Success, std::nullopt, std::move(value)};
}

GattWriteResult WriteResult(GattStatus status, const ScenarioGattAnswer& answer)
{
    if (status != GattStatus::Success)
        return {status, std::nullopt};
    return {static_cast<GattStatus>(answer.status), answer.status != 0 ? answer.protocolError : std::nullopt};
}

class SimDescriptor final : public GattDescriptor
{
public:
    using Interface = GattDescriptor;
    SimDescriptor(const ScenarioGattDescriptor& data, State state) : data_(data), state_(std::move(state)) {}
    std::uint16_t AttributeHandle() const override { return data_.handle; }
    GUID Uuid() const override { return data_.uuid; }

    Outcome<GattReadResult> ReadValue(std::stop_token stop) override
    {
        auto status = state_->Operate(L"read", stop);
        if (!status)
            return std::unexpected(status.error());
        return ReadResult(*status, {}, state_->Value(data_.handle));
    }

    Outcome<GattWriteResult> WriteValueWithResult(const Bytes& value, std::stop_token stop) override
    {
        auto status = state_->Operate(L"write", stop);
        if (!status)
            return std::unexpected(status.error());
        if (*status == GattStatus::Success)
            state_->SetValue(data_.handle, value);
        return WriteResult(*status, {});
    }

private:
    const ScenarioGattDescriptor& data_;
    State state_;
};

// A listing of the scenario's items with its status; nothing listed unless that is Success.
template <typename Object, typename Data>
GattListing<typename Object::Interface> List(std::int32_t status, const std::vector<Data>& items,
                                             const State& state)
{
    GattListing<typename Object::Interface> listing;
    listing.status = static_cast<GattStatus>(status);
    if (listing.status == GattStatus::Success)
        for (const Data& item : items)
            listing.items.push_back(std::make_shared<Object>(item, state));
    return listing;
}

class SimCharacteristic final : public GattCharacteristic
{
public:
    using Interface = GattCharacteristic;
    SimCharacteristic(const ScenarioGattCharacteristic& data, State state)
        : data_(data), state_(std::move(state))
    {
    }
    std::uint16_t AttributeHandle() const override { return data_.handle; }
    GUID Uuid() const override { return data_.uuid; }
    std::uint32_t Properties() const override { return data_.properties; }
    Outcome<GattListing<GattDescriptor>> GetDescriptors(std::stop_token stop) override
    {
        if (auto waited = state_->Discover(stop); !waited)
            return std::unexpected(waited.error());
        return List<SimDescriptor>(data_.status, data_.descriptors, state_);
    }

    Outcome<GattReadResult> ReadValue(std::stop_token stop) override
    {
        auto status = state_->Operate(L"read", stop);
        if (!status)
            return std::unexpected(status.error());
        return ReadResult(*status, data_.read, state_->Value(data_.handle));
    }

    Outcome<GattWriteResult> WriteValueWithResult(const Bytes& value, GattWriteOption,
                                                  std::stop_token stop) override
    {
        auto status = state_->Operate(L"write", stop);
        if (!status)
            return std::unexpected(status.error());
        GattWriteResult result = WriteResult(*status, data_.write);
        if (result.status == GattStatus::Success)
            state_->SetValue(data_.handle, value);
        return result;
    }

    Outcome<GattConfigurationResult> ReadClientCharacteristicConfigurationDescriptor(
        std::stop_token stop) override
    {
        auto status = state_->Operate(L"read", stop);
        if (!status)
            return std::unexpected(status.error());
        return GattConfigurationResult{*status, std::nullopt, state_->Configuration(data_.handle)};
    }

    Outcome<GattWriteResult> WriteClientCharacteristicConfigurationDescriptorWithResult(
        GattClientConfiguration configuration, std::stop_token stop) override
    {
        auto status = state_->Operate(L"configure", stop);
        if (!status)
            return std::unexpected(status.error());
        if (*status == GattStatus::Success)
            state_->Configure(data_, configuration);
        return GattWriteResult{*status, std::nullopt};
    }

    Outcome<std::int64_t> AddValueChanged(GattValueChangedHandler handler) override
    {
        return state_->Add(state_->valueHandlers, std::pair(data_.handle, std::move(handler)));
    }
    void RemoveValueChanged(std::int64_t token) override { state_->Remove(state_->valueHandlers, token); }

private:
    const ScenarioGattCharacteristic& data_;
    State state_;
};

class SimService final : public GattDeviceService
{
public:
    using Interface = GattDeviceService;
    SimService(const ScenarioGattService& data, State state) : data_(data), state_(std::move(state)) {}
    std::uint16_t AttributeHandle() const override { return data_.handle; }
    GUID Uuid() const override { return data_.uuid; }
    Outcome<GattListing<GattCharacteristic>> GetCharacteristics(std::stop_token stop) override
    {
        if (auto waited = state_->Discover(stop); !waited)
            return std::unexpected(waited.error());
        return List<SimCharacteristic>(data_.status, data_.characteristics, state_);
    }

private:
    const ScenarioGattService& data_;
    State state_;
};

class SimSession final : public GattSession
{
public:
    explicit SimSession(State state) : state_(std::move(state)) {}
    Outcome<> SetMaintainConnection(bool) override { return {}; }
    Outcome<GattSessionStatus> SessionStatus() override
    {
        return state_->Connected() ? GattSessionStatus::Active : GattSessionStatus::Closed;
    }
    Outcome<std::int64_t> AddSessionStatusChanged(GattSessionStatusHandler handler) override
    {
        return state_->Add(state_->sessionHandlers, std::move(handler));
    }
    void RemoveSessionStatusChanged(std::int64_t token) override
    {
        state_->Remove(state_->sessionHandlers, token);
    }

private:
    State state_;
};

class SimPairing final : public DeviceInformationPairing
{
public:
    explicit SimPairing(State state) : state_(std::move(state)) {}
    Outcome<bool> IsPaired() override { return state_->Paired(); }
    Outcome<bool> CanPair() override { return state_->Data().canPair; }
    Outcome<std::int32_t> PairAsync(std::stop_token stop) override
    {
        const ScenarioLeDevice& data = state_->Data();
        if (auto waited =
                SimulateOperation(L"pair", std::chrono::milliseconds(data.pairingMs), data.hangs, stop);
            !waited)
            return std::unexpected(waited.error());
        if (state_->Paired())
            return PairingAlreadyPaired;
        if (data.pairingResult == PairingPaired)
            state_->SetPaired();
        return data.pairingResult;
    }

private:
    State state_;
};

class SimLeDevice final : public LeDevice
{
public:
    explicit SimLeDevice(ScenarioLeDevice data) : state_(std::make_shared<DeviceState>(std::move(data))) {}
    Outcome<GattListing<GattDeviceService>> GetGattServices(std::stop_token stop) override
    {
        if (auto waited = state_->Discover(stop); !waited)
            return std::unexpected(waited.error());
        const ScenarioLeDevice& data = state_->Data();
        if (data.servicesError)
            return Failure(*data.servicesError, L"The GATT services could not be read");
        return List<SimService>(data.servicesStatus, data.services, state_);
    }

    Outcome<BluetoothConnectionStatus> ConnectionStatus() override
    {
        return state_->Connected() ? BluetoothConnectionStatus::Connected
                                   : BluetoothConnectionStatus::Disconnected;
    }
    Outcome<std::int64_t> AddConnectionStatusChanged(
        std::function<void(BluetoothConnectionStatus)> handler) override
    {
        return state_->Add(state_->connectionHandlers, std::move(handler));
    }
    void RemoveConnectionStatusChanged(std::int64_t token) override
    {
        state_->Remove(state_->connectionHandlers, token);
    }

    Outcome<std::shared_ptr<GattSession>> OpenGattSession(std::stop_token stop) override
    {
        if (auto status = state_->Operate(L"session", stop); !status)
            return std::unexpected(status.error());
        state_->SessionOpened();
        return std::make_shared<SimSession>(state_);
    }

    Outcome<std::shared_ptr<DeviceInformationPairing>> Pairing() override
    {
        return std::make_shared<SimPairing>(state_);
    }

private:
    State state_;
};

const ScenarioLeDevice* Find(const std::vector<ScenarioLeDevice>& devices, std::uint64_t address,
                             bool randomAddress)
{
    for (const ScenarioLeDevice& device : devices)
        if (device.address == address && device.random == randomAddress)
            return &device;
    return nullptr;
}

} // namespace

Outcome<std::unique_ptr<LeDevice>> OpenLeDevice(const std::vector<ScenarioLeDevice>& devices,
                                                std::uint64_t address, bool randomAddress)
{
    const ScenarioLeDevice* device = Find(devices, address, randomAddress);
    return device ? std::make_unique<SimLeDevice>(*device) : std::unique_ptr<LeDevice>();
}

Outcome<std::unique_ptr<LeDevice>> OpenLeDevice(const std::vector<ScenarioLeDevice>& devices,
                                                std::uint64_t address, bool randomAddress,
                                                std::stop_token stop)
{
    const ScenarioLeDevice* device = Find(devices, address, randomAddress);
    if (!device)
        return std::unique_ptr<LeDevice>();
    if (auto waited =
            SimulateOperation(L"open", std::chrono::milliseconds(device->operationMs), device->hangs, stop);
        !waited)
        return std::unexpected(waited.error());
    return std::make_unique<SimLeDevice>(*device);
}

} // namespace Pd::Platform::Sim
