#include "platform/sim/SimModem.h"

#include "core/Handles.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/ScenarioReaders.h"
#include "platform/sim/Simulation.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace Pd::Platform::Sim
{
namespace
{

constexpr HRESULT DeviceGone = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_AVAILABLE);
constexpr std::uint32_t ReadyStateSimNotInserted = 2;
constexpr const wchar_t* StoreKey = L"modemStore";
constexpr const wchar_t* IncomingKey = L"modemIncoming";
constexpr const wchar_t* SentKey = L"modemSent";

using UniqueChangeNotification = Unique<HANDLE, &::FindCloseChangeNotification, -1>;

Error Gone()
{
    return Error{DeviceGone, L"The simulated modem is gone"};
}

// The store as state.json keeps it, or the scenario's while it is unchanged.
std::vector<ScenarioStoredSms> StoreOf(const Json::Value& state, const ScenarioModem& modem)
{
    const Json::Value& kept = state.Member(StoreKey);
    if (kept.kind != Json::Kind::Array)
        return modem.store;
    std::vector<ScenarioStoredSms> store;
    for (const Json::Value& entry : kept.Items())
    {
        auto index = entry.Member(L"index").AsUInt64();
        auto status = entry.Member(L"status").AsUInt64();
        if (index && status && *index <= 0xFFFFFFFFu && *status <= 3)
            store.push_back({static_cast<std::uint32_t>(*index), static_cast<std::uint32_t>(*status),
                             entry.TextOr(L"pdu", L"")});
    }
    return store;
}

Json::Value StoreJson(const std::vector<ScenarioStoredSms>& store)
{
    Json::Value list = Json::Value::MakeArray();
    for (const ScenarioStoredSms& message : store)
    {
        Json::Value entry = Json::Value::MakeObject();
        (*entry.members)[L"index"] = Json::Value::MakeNumber(message.index);
        (*entry.members)[L"status"] = Json::Value::MakeNumber(message.status);
        (*entry.members)[L"pdu"] = Json::Value::MakeString(message.pdu);
        list.items->push_back(std::move(entry));
    }
    return list;
}

std::uint32_t FreeIndex(const std::vector<ScenarioStoredSms>& store)
{
    std::uint32_t index = 1;
    while (std::any_of(store.begin(), store.end(), [&](const auto& m) { return m.index == index; }))
        ++index;
    return index;
}

MbnSmsMessage AsMessage(const ScenarioStoredSms& stored)
{
    return MbnSmsMessage{true, stored.index, stored.status, stored.pdu};
}

// The simulated device behind every object of one interface manager: its clock, connection
// points, and the requests its event thread (owned by the manager) completes.
class Device
{
public:
    Device(std::filesystem::path folder, UniqueChangeNotification folderChanged)
        : folder_(std::move(folder)), openedMs_(NowMs()), folderChanged_(std::move(folderChanged)),
          wake_(::CreateEventW(nullptr, FALSE, FALSE, nullptr))
    {
    }

    // Ends Run.
    void Stop()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        ::SetEvent(wake_.Get());
    }

    // The event thread: due tasks, the network's messages and the radio's changes until Stop.
    // Starts from the state at opening, not at the thread's start: a change that falls due before
    // a late start is still reported.
    void Run(ScenarioModemRadio last)
    {
        for (;;)
        {
            TakeIncoming();
            ReportRadioChanges(last);
            std::vector<std::function<void()>> due;
            DWORD waitMs = INFINITE;
            {
                std::lock_guard lock(mutex_);
                if (stopping_)
                    return;
                const std::uint64_t now = NowMs();
                while (!tasks_.empty() && tasks_.begin()->first <= now)
                {
                    due.push_back(std::move(tasks_.begin()->second));
                    tasks_.erase(tasks_.begin());
                }
                if (!tasks_.empty())
                    waitMs = static_cast<DWORD>(std::min<std::uint64_t>(tasks_.begin()->first - now, 60000));
            }
            for (auto& task : due)
                task();
            if (!due.empty())
                continue;
            if (auto change = NextChangeMs(); change && *change < waitMs)
                waitMs = *change;
            HANDLE handles[] = {wake_.Get(), folderChanged_.Get()};
            if (::WaitForMultipleObjects(2, handles, FALSE, waitMs) == WAIT_OBJECT_0 + 1)
                ::FindNextChangeNotification(folderChanged_.Get());
        }
    }

    ScenarioModem Modem() const { return LoadScenario(folder_).modem; }

    // What the modem reports now: the last change that fell due, else the scenario's state.
    ScenarioModemRadio Radio() const { return RadioOf(Modem()); }

    ScenarioModemRadio RadioOf(const ScenarioModem& modem) const
    {
        const std::uint64_t elapsed = NowMs() - openedMs_;
        ScenarioModemRadio radio = modem.radio;
        for (const ScenarioModemChange& change : modem.changes)
            if (change.afterMs <= elapsed)
                radio = change.radio;
        if (!modem.present)
            radio.gone = true;
        return radio;
    }

    std::uint32_t Advise(MbnEventFamily family, std::shared_ptr<MbnEvents> sink)
    {
        std::lock_guard lock(mutex_);
        advices_[++lastCookie_] = {family, std::move(sink)};
        return lastCookie_;
    }

    void Unadvise(MbnEventFamily family, std::uint32_t cookie)
    {
        std::lock_guard lock(mutex_);
        if (auto found = advices_.find(cookie); found != advices_.end() && found->second.first == family)
            advices_.erase(found);
    }

    std::uint32_t NextRequestId()
    {
        std::lock_guard lock(mutex_);
        return ++lastRequest_;
    }

    // Runs `task` on the event thread once `delayMs` have passed.
    void Schedule(std::uint64_t delayMs, std::function<void()> task)
    {
        {
            std::lock_guard lock(mutex_);
            tasks_.emplace(NowMs() + delayMs, std::move(task));
        }
        ::SetEvent(wake_.Get());
    }

    // Calls every sink advised for the family (outside the lock, as the service calls back).
    void Raise(MbnEventFamily family, const std::function<void(MbnEvents&)>& call)
    {
        std::vector<std::shared_ptr<MbnEvents>> sinks;
        {
            std::lock_guard lock(mutex_);
            for (const auto& [cookie, advice] : advices_)
                if (advice.first == family)
                    sinks.push_back(advice.second);
        }
        for (const auto& sink : sinks)
            call(*sink);
    }

    MbnSmsStatus SmsStatus(const ScenarioModem& modem)
    {
        std::vector<ScenarioStoredSms> store = StoreOf(StateStore(folder_).Read(), modem);
        std::lock_guard lock(mutex_);
        MbnSmsStatus status = lastStatus_;
        if (store.size() >= modem.capacity)
            status.flag |= MbnSmsFlagMessageStoreFull;
        return status;
    }

    // Reads the store, lets `change` edit it, and keeps it in state.json.
    std::vector<ScenarioStoredSms> UpdateStore(
        const std::function<void(std::vector<ScenarioStoredSms>&)>& change)
    {
        ScenarioModem modem = Modem();
        std::vector<ScenarioStoredSms> store;
        auto updated = StateStore(folder_).Update([&](Json::Value& state) {
            store = StoreOf(state, modem);
            change(store);
            (*state.members)[StoreKey] = StoreJson(store);
            return true;
        });
        if (!updated)
            ReportScenarioProblem(updated.error());
        return store;
    }

    void RecordSent(const std::wstring& pdu)
    {
        auto updated = StateStore(folder_).Update([&](Json::Value& state) {
            Json::Value& sent = (*state.members)[SentKey];
            if (sent.kind != Json::Kind::Array)
                sent = Json::Value::MakeArray();
            sent.items->push_back(Json::Value::MakeString(pdu));
            return true;
        });
        if (!updated)
            ReportScenarioProblem(updated.error());
    }

    const std::filesystem::path& Folder() const { return folder_; }

private:
    std::optional<DWORD> NextChangeMs() const
    {
        const std::uint64_t elapsed = NowMs() - openedMs_;
        std::optional<DWORD> next;
        for (const ScenarioModemChange& change : Modem().changes)
            if (change.afterMs > elapsed && (!next || change.afterMs - elapsed < *next))
                next = static_cast<DWORD>(std::min<std::uint64_t>(change.afterMs - elapsed, 60000));
        return next;
    }

    void ReportRadioChanges(ScenarioModemRadio& last)
    {
        ScenarioModemRadio now = Radio();
        bool registration = now.registerState != last.registerState || now.dataClass != last.dataClass ||
                            now.providerId != last.providerId || now.gone != last.gone;
        bool signal = now.signal != last.signal || now.gone != last.gone;
        last = now;
        if (registration)
            Raise(MbnEventFamily::Registration, [](MbnEvents& sink) { sink.OnRegisterStateChange(); });
        if (signal)
            Raise(MbnEventFamily::Signal, [](MbnEvents& sink) { sink.OnSignalStateChange(); });
    }

    // The network's messages that no process has taken yet: stored, then announced.
    void TakeIncoming()
    {
        ScenarioModem modem = Modem();
        if (RadioOf(modem).gone)
            return;
        std::vector<ScenarioIncomingSms> arrived;
        std::vector<std::uint32_t> stored;
        auto updated = StateStore(folder_).Update([&](Json::Value& state) {
            std::uint64_t taken = state.Member(IncomingKey).AsUInt64().value_or(0);
            if (taken >= modem.incoming.size())
                return false;
            std::vector<ScenarioStoredSms> store = StoreOf(state, modem);
            for (std::size_t i = taken; i < modem.incoming.size(); ++i)
            {
                const ScenarioIncomingSms& message = modem.incoming[i];
                arrived.push_back(message);
                if (message.class0)
                    continue;
                std::uint32_t index = FreeIndex(store);
                store.push_back({index, 0, message.pdu});
                stored.push_back(index);
            }
            (*state.members)[StoreKey] = StoreJson(store);
            (*state.members)[IncomingKey] = Json::Value::MakeNumber(modem.incoming.size());
            return true;
        });
        if (!updated)
            ReportScenarioProblem(updated.error());
        for (const ScenarioIncomingSms& message : arrived)
        {
            if (message.class0)
            {
                std::vector<MbnSmsMessage> messages{MbnSmsMessage{true, 0u, 0u, message.pdu}};
                Raise(MbnEventFamily::Sms,
                      [&](MbnEvents& sink) { sink.OnSmsNewClass0Message(MbnSmsFormatPdu, messages); });
            }
        }
        for (std::uint32_t index : stored)
        {
            {
                std::lock_guard lock(mutex_);
                lastStatus_ = {MbnSmsFlagNewMessage, index};
            }
            Raise(MbnEventFamily::Sms, [](MbnEvents& sink) { sink.OnSmsStatusChange(); });
        }
    }

    std::filesystem::path folder_;
    std::uint64_t openedMs_;
    UniqueChangeNotification folderChanged_;
    UniqueHandle wake_;
    std::mutex mutex_;
    bool stopping_ = false;
    std::map<std::uint32_t, std::pair<MbnEventFamily, std::shared_ptr<MbnEvents>>> advices_;
    std::uint32_t lastCookie_ = 0;
    std::uint32_t lastRequest_ = 0;
    std::multimap<std::uint64_t, std::function<void()>> tasks_;
    MbnSmsStatus lastStatus_;
};

class SimRegistration final : public MbnRegistration
{
public:
    explicit SimRegistration(std::shared_ptr<Device> device) : device_(std::move(device)) {}

    Outcome<std::uint32_t> GetRegisterState() override
    {
        return Read<std::uint32_t>([](const ScenarioModemRadio& radio) { return radio.registerState; });
    }
    Outcome<std::wstring> GetProviderId() override
    {
        return Read<std::wstring>([](const ScenarioModemRadio& radio) { return radio.providerId; });
    }
    Outcome<std::wstring> GetProviderName() override
    {
        return Read<std::wstring>([](const ScenarioModemRadio& radio) { return radio.providerName; });
    }
    Outcome<std::uint32_t> GetCurrentDataClass() override
    {
        return Read<std::uint32_t>([](const ScenarioModemRadio& radio) { return radio.dataClass; });
    }

private:
    template <typename T> Outcome<T> Read(const std::function<T(const ScenarioModemRadio&)>& field)
    {
        ScenarioModemRadio radio = device_->Radio();
        if (radio.gone)
            return std::unexpected(Gone());
        return field(radio);
    }

    std::shared_ptr<Device> device_;
};

class SimSignal final : public MbnSignal
{
public:
    explicit SimSignal(std::shared_ptr<Device> device) : device_(std::move(device)) {}

    Outcome<std::uint32_t> GetSignalStrength() override
    {
        ScenarioModemRadio radio = device_->Radio();
        if (radio.gone)
            return std::unexpected(Gone());
        return radio.signal;
    }

private:
    std::shared_ptr<Device> device_;
};

class SimSms final : public MbnSms
{
public:
    explicit SimSms(std::shared_ptr<Device> device) : device_(std::move(device)) {}

    Outcome<std::wstring> GetServiceCenterAddress() override
    {
        ScenarioModemRadio radio = device_->Radio();
        if (radio.gone)
            return std::unexpected(Gone());
        return radio.serviceCentre;
    }

    Outcome<std::uint32_t> SmsSendPdu(const std::wstring& pduData, std::uint8_t) override
    {
        ScenarioModem modem = device_->Modem();
        if (device_->RadioOf(modem).gone)
            return std::unexpected(Gone());
        if (modem.sendCall)
            return Failure(*modem.sendCall, L"The simulated modem refuses to send");
        device_->RecordSent(pduData);
        std::uint32_t id = device_->NextRequestId();
        if (modem.send == L"silent")
            return id;
        HRESULT status = modem.send == L"sent" ? S_OK : *ParseFailureHresult(modem.send);
        Device* device = device_.get();
        device_->Schedule(modem.sendMs, [device, id, status] {
            device->Raise(MbnEventFamily::Sms, [&](MbnEvents& sink) { sink.OnSmsSendComplete(id, status); });
        });
        return id;
    }

    Outcome<std::uint32_t> SmsRead(MbnSmsFilter filter, std::uint32_t format) override
    {
        ScenarioModem modem = device_->Modem();
        if (device_->RadioOf(modem).gone)
            return std::unexpected(Gone());
        if (modem.readCall)
            return Failure(*modem.readCall, L"The simulated modem refuses to read");
        std::uint32_t id = device_->NextRequestId();
        if (modem.read == L"silent")
            return id;
        Device* device = device_.get();
        if (modem.read != L"answers")
        {
            HRESULT status = *ParseFailureHresult(modem.read);
            device_->Schedule(0, [device, id, format, status] {
                device->Raise(MbnEventFamily::Sms, [&](MbnEvents& sink) {
                    sink.OnSmsReadComplete(format, {}, false, id, status);
                });
            });
            return id;
        }
        std::vector<MbnSmsMessage> messages;
        for (const ScenarioStoredSms& stored : StoreOf(StateStore(device_->Folder()).Read(), modem))
            if (filter.flag == MbnSmsFlagAll || stored.index == filter.messageIndex)
                messages.push_back(AsMessage(stored));
        std::uint32_t parts = modem.readParts;
        device_->Schedule(0, [device, id, format, parts, messages = std::move(messages)] {
            // Every part but the last on a thread of its own, all at once, as the service may
            // deliver them; the last one once the others have been called.
            std::vector<std::thread> threads;
            std::atomic<std::uint32_t> called{0};
            for (std::uint32_t part = 0; part < parts; ++part)
            {
                std::vector<MbnSmsMessage> slice;
                for (std::size_t i = part; i < messages.size(); i += parts)
                    slice.push_back(messages[i]);
                const bool more = part + 1 < parts;
                if (!more)
                    while (called.load() + 1 < parts)
                        std::this_thread::yield();
                threads.emplace_back([device, id, format, more, &called, slice = std::move(slice)] {
                    bool counted = false;
                    device->Raise(MbnEventFamily::Sms, [&](MbnEvents& sink) {
                        if (!std::exchange(counted, true))
                            ++called;
                        sink.OnSmsReadComplete(format, slice, more, id, S_OK);
                    });
                    if (!counted)
                        ++called;
                });
            }
            for (std::thread& thread : threads)
                thread.join();
        });
        return id;
    }

    Outcome<std::uint32_t> SmsDelete(MbnSmsFilter filter) override
    {
        ScenarioModem modem = device_->Modem();
        if (device_->RadioOf(modem).gone)
            return std::unexpected(Gone());
        std::uint32_t id = device_->NextRequestId();
        HRESULT status = modem.deleteStatus.value_or(S_OK);
        if (SUCCEEDED(status))
            device_->UpdateStore([&](std::vector<ScenarioStoredSms>& store) {
                std::erase_if(store, [&](const ScenarioStoredSms& m) {
                    return filter.flag == MbnSmsFlagAll || m.index == filter.messageIndex;
                });
            });
        Device* device = device_.get();
        device_->Schedule(0, [device, id, status] {
            device->Raise(MbnEventFamily::Sms,
                          [&](MbnEvents& sink) { sink.OnSmsDeleteComplete(id, status); });
        });
        return id;
    }

    Outcome<MbnSmsStatus> GetSmsStatus() override
    {
        ScenarioModem modem = device_->Modem();
        if (device_->RadioOf(modem).gone)
            return std::unexpected(Gone());
        return device_->SmsStatus(modem);
    }

private:
    std::shared_ptr<Device> device_;
};

class SimInterface final : public MbnInterface
{
public:
    SimInterface(std::shared_ptr<Device> device, const ScenarioModem& modem) : device_(std::move(device))
    {
        if (modem.registration)
            registration_ = std::make_shared<SimRegistration>(device_);
        if (modem.signalInterface)
            signal_ = std::make_shared<SimSignal>(device_);
        if (modem.smsInterface)
            sms_ = std::make_shared<SimSms>(device_);
    }

    Outcome<std::uint32_t> GetReadyState() override
    {
        ScenarioModemRadio radio = device_->Radio();
        if (radio.gone)
            return std::unexpected(Gone());
        return radio.simReady ? MbnReadyStateInitialized : ReadyStateSimNotInserted;
    }
    Outcome<std::wstring> GetDeviceId() override
    {
        ScenarioModemRadio radio = device_->Radio();
        if (radio.gone)
            return std::unexpected(Gone());
        return radio.imei;
    }
    Outcome<MbnSubscriberInformation> GetSubscriberInformation() override
    {
        ScenarioModemRadio radio = device_->Radio();
        if (radio.gone || !radio.simReady)
            return Failure(radio.gone ? DeviceGone : E_FAIL, L"The simulated SIM is not ready");
        return MbnSubscriberInformation{radio.imsi, radio.iccid};
    }
    std::shared_ptr<MbnRegistration> Registration() override { return registration_; }
    std::shared_ptr<MbnSignal> Signal() override { return signal_; }
    std::shared_ptr<MbnSms> Sms() override { return sms_; }

private:
    std::shared_ptr<Device> device_;
    std::shared_ptr<MbnRegistration> registration_;
    std::shared_ptr<MbnSignal> signal_;
    std::shared_ptr<MbnSms> sms_;
};

// The one owner of the event thread. Every simulated object shares the device, and a sink the
// thread calls may hold the last of those shares (through the SMS object it keeps), so the device
// is released wherever that happens while the thread stays with the manager, which no sink holds.
class SimManager final : public MbnInterfaceManager
{
public:
    explicit SimManager(std::shared_ptr<Device> device)
        : device_(std::move(device)),
          events_([device = device_, opened = device_->Radio()] { device->Run(opened); })
    {
    }
    ~SimManager() override
    {
        device_->Stop();
        events_.join();
    }
    SimManager(const SimManager&) = delete;
    SimManager& operator=(const SimManager&) = delete;

    Outcome<std::vector<std::shared_ptr<MbnInterface>>> GetInterfaces() override
    {
        ScenarioModem modem = device_->Modem();
        std::vector<std::shared_ptr<MbnInterface>> interfaces;
        if (!device_->RadioOf(modem).gone)
            interfaces.push_back(std::make_shared<SimInterface>(device_, modem));
        return interfaces;
    }

    Outcome<std::uint32_t> Advise(MbnEventFamily family, std::shared_ptr<MbnEvents> sink) override
    {
        return device_->Advise(family, std::move(sink));
    }

    void Unadvise(MbnEventFamily family, std::uint32_t cookie) override { device_->Unadvise(family, cookie); }

private:
    std::shared_ptr<Device> device_;
    std::thread events_; // last: it starts once the device exists
};

} // namespace

Outcome<std::shared_ptr<MbnInterfaceManager>> MakeMobileBroadband(const std::filesystem::path& folder)
{
    if (!LoadScenario(folder).modem.present)
        return Failure(REGDB_E_CLASSNOTREG, L"The simulated PC has no mobile broadband modem");
    UniqueChangeNotification changed(::FindFirstChangeNotificationW(
        folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE));
    if (!changed)
        return Failure(HRESULT_FROM_WIN32(::GetLastError()), L"the scenario folder cannot be watched");
    return std::make_shared<SimManager>(std::make_shared<Device>(folder, std::move(changed)));
}

} // namespace Pd::Platform::Sim
