#include "platform/sim/SimCellularApn.h"

#include "core/StoppableSleep.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/Simulation.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>

#include <chrono>
#include <cwchar>
#include <memory>

namespace Pd::Platform::Sim
{
namespace
{

constexpr const wchar_t* SessionsKey = L"apnSessions";
constexpr HRESULT Canceled = HRESULT_FROM_WIN32(ERROR_CANCELLED);

Error ScenarioFailure(HRESULT code)
{
    return Error{code, L"The simulated cellular connection failed"};
}

// The GUID of this PC's loopback interface, which stands in for the access point's adapter.
std::optional<GUID> LoopbackInterfaceGuid()
{
    PMIB_IF_TABLE2 raw = nullptr;
    if (::GetIfTable2(&raw) != NO_ERROR)
        return std::nullopt;
    std::unique_ptr<MIB_IF_TABLE2, decltype(&::FreeMibTable)> table(raw, &::FreeMibTable);
    for (ULONG i = 0; i < table->NumEntries; ++i)
        if (table->Table[i].Type == IF_TYPE_SOFTWARE_LOOPBACK)
            return table->Table[i].InterfaceGuid;
    return std::nullopt;
}

std::optional<GUID> AdapterOf(const ScenarioCellular& cellular)
{
    return cellular.adapter ? cellular.adapter : LoopbackInterfaceGuid();
}

Pd::Result<> UpdateSession(const std::filesystem::path& folder,
                           const std::function<void(Json::Value&)>& change)
{
    return StateStore(folder).Update([&](Json::Value& state) {
        Json::Value& sessions = (*state.members)[SessionsKey];
        if (sessions.kind != Json::Kind::Array)
            sessions = Json::Value::MakeArray();
        change(sessions);
        return true;
    });
}

class SimConnectionSession final : public ConnectionSession
{
public:
    SimConnectionSession(std::filesystem::path folder, std::size_t record, std::optional<GUID> adapter,
                         bool closeFails)
        : folder_(std::move(folder)), record_(record), adapter_(adapter), closeFails_(closeFails)
    {
    }

    Outcome<std::optional<GUID>> NetworkAdapterId() override { return adapter_; }

    // The simulated access point's adapter is this PC's loopback interface: its servers listen there.
    bool CarriesLoopbackNetwork() const override { return true; }

    Outcome<> Close() override
    {
        if (closeFails_)
            return std::unexpected(ScenarioFailure(E_FAIL));
        auto recorded = UpdateSession(folder_, [this](Json::Value& sessions) {
            if (record_ < sessions.items->size())
                (*(*sessions.items)[record_].members)[L"closed"] = Json::Value::MakeBool(true);
        });
        if (!recorded)
            ReportScenarioProblem(recorded.error());
        return {};
    }

private:
    std::filesystem::path folder_;
    std::size_t record_;
    std::optional<GUID> adapter_;
    bool closeFails_;
};

class SimCellularConnectivity final : public CellularConnectivity
{
public:
    explicit SimCellularConnectivity(std::filesystem::path folder) : folder_(std::move(folder)) {}

    Outcome<std::unique_ptr<ConnectionSession>> AcquireConnection(const ApnContext& context,
                                                                  std::stop_token stop) override
    {
        const ScenarioCellular cellular = LoadScenario(folder_).cellular;
        if (!cellular.present)
            return Failure(REGDB_E_CLASSNOTREG, L"The simulated PC has no cellular modem");

        // The acquisition takes acquireMs; a stop request cancels it.
        if (cellular.acquireMs > 0 && !Core::SleepFor(stop, std::chrono::milliseconds(cellular.acquireMs)))
            return Failure(Canceled, L"The operation was canceled");

        const std::wstring& outcome = cellular.acquire;
        if (outcome == L"canceled")
            return Failure(Canceled, L"The operation was canceled");
        if (outcome.starts_with(L"0x"))
            return std::unexpected(
                ScenarioFailure(static_cast<HRESULT>(std::wcstoul(outcome.c_str() + 2, nullptr, 16))));
        if (outcome == L"noSession")
            return std::unique_ptr<ConnectionSession>();

        std::size_t record = Record(context);
        std::optional<GUID> adapter;
        if (outcome != L"noAdapter")
            adapter = AdapterOf(cellular);
        return std::make_unique<SimConnectionSession>(folder_, record, adapter, cellular.closeFails);
    }

private:
    std::size_t Record(const ApnContext& context)
    {
        std::size_t index = 0;
        auto recorded = UpdateSession(folder_, [&](Json::Value& sessions) {
            Json::Value session = Json::Value::MakeObject();
            (*session.members)[L"apn"] = Json::Value::MakeString(context.accessPointName);
            (*session.members)[L"user"] = Json::Value::MakeString(context.userName);
            (*session.members)[L"password"] = Json::Value::MakeString(context.password);
            (*session.members)[L"authentication"] =
                Json::Value::MakeNumber(static_cast<std::uint64_t>(context.authenticationType));
            (*session.members)[L"closed"] = Json::Value::MakeBool(false);
            index = sessions.items->size();
            sessions.items->push_back(std::move(session));
        });
        if (!recorded)
            ReportScenarioProblem(recorded.error());
        return index;
    }

    std::filesystem::path folder_;
};

} // namespace

std::shared_ptr<CellularConnectivity> MakeCellularConnectivity(const std::filesystem::path& folder)
{
    return std::make_shared<SimCellularConnectivity>(folder);
}

Outcome<std::vector<std::vector<std::uint8_t>>> QueryApnDns(const std::filesystem::path& folder,
                                                            const std::wstring& name, WORD type)
{
    const int family = type == 1 ? AF_INET : AF_INET6;
    std::vector<std::vector<std::uint8_t>> addresses;
    const ScenarioCellular cellular = LoadScenario(folder).cellular;
    auto found = cellular.names.find(name);
    for (const std::wstring& entry :
         found != cellular.names.end() ? found->second : std::vector<std::wstring>{})
    {
        std::uint8_t bytes[16] = {};
        if (::InetPtonW(family, entry.c_str(), bytes) == 1)
            addresses.emplace_back(bytes, bytes + (family == AF_INET ? 4 : 16));
    }
    if (addresses.empty())
        return Failure(HRESULT_FROM_WIN32(DNS_ERROR_RCODE_NAME_ERROR), L"The name is not known");
    return addresses;
}

std::vector<ApnSessionRecord> RecordedApnSessions(const std::filesystem::path& folder)
{
    std::vector<ApnSessionRecord> sessions;
    const Json::Value state = StateStore(folder).Read(); // the loop below only borrows from it
    for (const Json::Value& entry : state.Member(SessionsKey).Items())
    {
        ApnSessionRecord record;
        record.context.accessPointName = entry.Member(L"apn").text;
        record.context.userName = entry.Member(L"user").text;
        record.context.password = entry.Member(L"password").text;
        record.context.authenticationType =
            static_cast<ApnAuthenticationType>(entry.Member(L"authentication").AsUInt64().value_or(99));
        record.closed = entry.Member(L"closed").AsBool().value_or(false);
        sessions.push_back(std::move(record));
    }
    return sessions;
}

} // namespace Pd::Platform::Sim
