#include "platform/sim/SimPackageManager.h"

#include "core/Sha256.h"
#include "core/Strings.h"
#include "platform/Account.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/SimAppxManifest.h"
#include "platform/sim/Simulation.h"
#include "platform/WindowsVersion.h"

#include <windows.h>

#include <fmt/xchar.h>

#include <algorithm>
#include <chrono>

namespace Pd::Platform::Sim
{
namespace
{

constexpr const wchar_t* CurrentAccount = L"current";

// What the real deployment service answers in the cases the simulator knows.
constexpr HRESULT FileNotFound = static_cast<HRESULT>(0x80070002L);
constexpr HRESULT InvalidManifest = static_cast<HRESULT>(0x80080204L);
constexpr HRESULT PackageNotFound = static_cast<HRESULT>(0x80073CF1L);
constexpr HRESULT DependencyMissing = static_cast<HRESULT>(0x80073CF3L);
constexpr HRESULT PackageConflict = static_cast<HRESULT>(0x80073CFBL);
constexpr HRESULT PolicyFailure = static_cast<HRESULT>(0x80073CFFL);
constexpr HRESULT ElementNotFound = static_cast<HRESULT>(0x80070490L);

std::wstring FullName(const ScenarioPackage& entry)
{
    return fmt::format(L"{}_{}.{}.{}.{}_{}__{}", entry.name, entry.version[0], entry.version[1],
                       entry.version[2], entry.version[3], entry.architecture, entry.publisherId);
}

std::wstring FamilyName(const ScenarioPackage& entry)
{
    return entry.name + L"_" + entry.publisherId;
}

Package Describe(const ScenarioPackage& entry)
{
    Package package;
    package.name = entry.name;
    package.familyName = FamilyName(entry);
    package.version = {entry.version[0], entry.version[1], entry.version[2], entry.version[3]};
    package.architecture = entry.architecture;
    package.fullName = FullName(entry);
    package.installLocation = entry.installLocation;
    package.developmentMode = entry.developmentMode;
    return package;
}

PackageVersionNumber VersionOf(const ScenarioPackage& entry)
{
    PackageVersionNumber value = 0;
    for (std::uint16_t part : entry.version)
        value = value << 16 | part;
    return value;
}

bool HeldByCurrent(const ScenarioPackage& entry)
{
    const std::wstring me = ProcessUserSid();
    return std::ranges::any_of(entry.users, [&](const std::wstring& user) {
        return user == CurrentAccount || Core::EqualsIgnoringCase(user, me);
    });
}

void DropCurrent(ScenarioPackage& entry)
{
    const std::wstring me = ProcessUserSid();
    std::erase_if(entry.users, [&](const std::wstring& user) {
        return user == CurrentAccount || Core::EqualsIgnoringCase(user, me);
    });
}

// The package list as deployments left it (state.json), else the scenario's.
std::vector<ScenarioPackage> CurrentPackages(const Scenario& scenario, const Json::Value& state)
{
    const Json::Value& saved = state.Member(L"packages");
    if (saved.kind != Json::Kind::Array)
        return scenario.packages;
    std::vector<ScenarioPackage> packages;
    for (const Json::Value& entry : saved.Items())
        if (auto package = ParsePackage(entry))
            packages.push_back(std::move(*package));
    return packages;
}

void SavePackages(Json::Value& state, const std::vector<ScenarioPackage>& packages)
{
    Json::Value list = Json::Value::MakeArray();
    for (const ScenarioPackage& package : packages)
        if (!package.users.empty())
            list.items->push_back(PackageJson(package));
    (*state.members)[L"packages"] = std::move(list);
}

// The settings values of every family, as last written (state.json), else the scenario's.
Json::Value CurrentSettings(const Scenario& scenario, const Json::Value& state)
{
    const Json::Value& saved = state.Member(L"appSettings");
    if (saved.kind == Json::Kind::Object)
        return saved;
    return scenario.appSettings.kind == Json::Kind::Object ? scenario.appSettings : Json::Value::MakeObject();
}

// An object whose member list is its own (copies of a value share their members).
Json::Value Copy(const Json::Value& object)
{
    Json::Value copy = Json::Value::MakeObject();
    *copy.members = *object.members;
    return copy;
}

std::wstring PublisherId(const Scenario& scenario, const std::wstring& publisher)
{
    if (auto known = scenario.publisherIds.find(publisher); known != scenario.publisherIds.end())
        return known->second;
    Sha256 hash;
    hash.Update(Core::ToUtf8(publisher));
    return hash.Finish().substr(0, 13);
}

// A deployment's failure: its text is what the deployment itself reports.
Outcome<> AsDeployment(Outcome<> outcome)
{
    if (!outcome && outcome.error().detail.empty())
        outcome.error().detail = outcome.error().text;
    return outcome;
}

std::optional<Error> InjectedFailure(const Scenario& scenario, const wchar_t* operation)
{
    auto failure = scenario.deploymentFailures.find(operation);
    if (failure == scenario.deploymentFailures.end())
        return std::nullopt;
    return Error{failure->second, fmt::format(L"The simulated {} operation failed", operation)};
}

// The first dependency that the current account lacks at its minimum version (any architecture
// that runs on x64).
std::optional<Error> MissingDependency(const AppxIdentity& identity,
                                       const std::vector<ScenarioPackage>& packages)
{
    for (const AppxDependency& dependency : identity.dependencies)
    {
        bool installed = std::ranges::any_of(packages, [&](const ScenarioPackage& package) {
            return package.name == dependency.name && HeldByCurrent(package) &&
                   VersionOf(package) >= dependency.minVersion &&
                   (package.architecture == L"x64" || package.architecture == L"neutral");
        });
        if (!installed)
            return Error{DependencyMissing,
                         L"The package depends on " + dependency.name + L", which is not installed."};
    }
    return std::nullopt;
}

ScenarioPackage NewEntry(const Scenario& scenario, const AppxIdentity& identity)
{
    ScenarioPackage entry;
    entry.name = identity.name;
    entry.publisherId = PublisherId(scenario, identity.publisher);
    std::copy(std::begin(identity.version), std::end(identity.version), entry.version);
    entry.architecture = identity.architecture;
    entry.users = {CurrentAccount};
    return entry;
}

class SimPackageManager final : public PackageManager
{
public:
    explicit SimPackageManager(std::filesystem::path folder) : folder_(std::move(folder)) {}

    PackageWalk FindPackagesForCurrentUser() override
    {
        Scenario scenario = LoadScenario(folder_);
        return Walk(scenario, [](const ScenarioPackage& package) { return HeldByCurrent(package); });
    }

    PackageWalk FindPackagesByFamilyName(const std::wstring& familyName) override
    {
        Scenario scenario = LoadScenario(folder_);
        return Walk(scenario, [&](const ScenarioPackage& package) {
            return !package.users.empty() && FamilyName(package) == familyName;
        });
    }

    Outcome<std::vector<std::wstring>> FindUsers(const std::wstring& packageFullName) override
    {
        Scenario scenario = LoadScenario(folder_);
        std::vector<std::wstring> users;
        for (const ScenarioPackage& package : CurrentPackages(scenario, StateStore(folder_).Read()))
        {
            if (FullName(package) != packageFullName)
                continue;
            for (const std::wstring& user : package.users)
                users.push_back(user == CurrentAccount ? ProcessUserSid() : user);
        }
        return users;
    }

    Outcome<> RegisterPackage(const std::wstring& manifestPath, std::uint32_t options) override
    {
        auto identity = ReadAppxManifest(manifestPath);
        if (!identity)
            return AsDeployment(Failure(
                std::filesystem::exists(manifestPath) ? InvalidManifest : FileNotFound, identity.error()));
        if ((options & DevelopmentMode) != 0 && !Platform::DeveloperModeOn())
            return AsDeployment(
                Failure(PolicyFailure, L"Registering an unpacked package needs developer mode."));
        const std::wstring folder = std::filesystem::path(manifestPath).parent_path().wstring();
        return AsDeployment(Deploy(
            L"register",
            [&](const Scenario& scenario, std::vector<ScenarioPackage>& packages, Json::Value&) -> Outcome<> {
                if (auto missing = MissingDependency(*identity, packages))
                    return std::unexpected(*missing);
                for (ScenarioPackage& package : packages)
                {
                    if (package.name != identity->name || package.users.empty())
                        continue;
                    bool sameFolder =
                        package.installLocation && Core::EqualsIgnoringCase(*package.installLocation, folder);
                    if (sameFolder && package.developmentMode)
                    {
                        // Registering the same folder again takes its place for every account.
                        package.users.clear();
                        continue;
                    }
                    bool conflicts =
                        !package.developmentMode || package.keepsRegistration || !HeldByCurrent(package);
                    if (conflicts)
                        return Failure(PackageConflict,
                                       L"The package " + package.name + L" is already registered from " +
                                           package.installLocation.value_or(L"another location") + L".");
                    DropCurrent(package);
                }
                ScenarioPackage entry = NewEntry(scenario, *identity);
                entry.installLocation = folder;
                entry.developmentMode = (options & DevelopmentMode) != 0;
                packages.push_back(std::move(entry));
                return {};
            }));
    }

    Outcome<> AddPackage(const std::wstring& packagePath, std::uint32_t) override
    {
        auto identity = ReadAppxManifest(packagePath);
        if (!identity)
            return AsDeployment(Failure(std::filesystem::exists(packagePath) ? InvalidManifest : FileNotFound,
                                        identity.error()));
        return AsDeployment(Deploy(
            L"add",
            [&](const Scenario& scenario, std::vector<ScenarioPackage>& packages, Json::Value&) -> Outcome<> {
                ScenarioPackage entry = NewEntry(scenario, *identity);
                for (ScenarioPackage& package : packages)
                    if (package.name == entry.name && package.architecture == entry.architecture)
                        DropCurrent(package); // the added version takes the older one's place
                entry.installLocation = L"C:\\Program Files\\WindowsApps\\" + FullName(entry);
                packages.push_back(std::move(entry));
                return {};
            }));
    }

    Outcome<> RemovePackage(const std::wstring& packageFullName, std::uint32_t options) override
    {
        return AsDeployment(Deploy(
            L"remove",
            [&](const Scenario&, std::vector<ScenarioPackage>& packages, Json::Value& settings) -> Outcome<> {
                auto held = std::ranges::find_if(packages, [&](const ScenarioPackage& package) {
                    return FullName(package) == packageFullName && HeldByCurrent(package);
                });
                if (held == packages.end())
                    return Failure(PackageNotFound,
                                   L"The package " + packageFullName + L" is not installed.");
                DropCurrent(*held);
                if ((options & PreserveApplicationData) == 0)
                    settings.members->erase(FamilyName(*held)); // the app data goes with the package
                return {};
            }));
    }

    Outcome<bool> HasSettingValue(const std::wstring& familyName, const std::wstring& name) override
    {
        Scenario scenario = LoadScenario(folder_);
        Json::Value state = StateStore(folder_).Read();
        if (!FamilyRegistered(CurrentPackages(scenario, state), familyName))
            return Failure(ElementNotFound, L"Element not found.");
        return CurrentSettings(scenario, state).Member(familyName).Member(name).kind != Json::Kind::Null;
    }

    Outcome<> InsertSettingValue(const std::wstring& familyName, const std::wstring& name,
                                 bool value) override
    {
        Scenario scenario = LoadScenario(folder_);
        Outcome<> result;
        auto written = StateStore(folder_).Update([&](Json::Value& state) {
            if (!FamilyRegistered(CurrentPackages(scenario, state), familyName))
            {
                result = Failure(ElementNotFound, L"Element not found.");
                return false;
            }
            Json::Value settings = Copy(CurrentSettings(scenario, state));
            Json::Value family = settings.Member(familyName).kind == Json::Kind::Object
                                     ? Copy(settings.Member(familyName))
                                     : Json::Value::MakeObject();
            (*family.members)[name] = Json::Value::MakeBool(value);
            (*settings.members)[familyName] = family;
            (*state.members)[L"appSettings"] = settings;
            return true;
        });
        if (!written)
            return Failure(E_FAIL, written.error());
        return result;
    }

private:
    static bool FamilyRegistered(const std::vector<ScenarioPackage>& packages, const std::wstring& familyName)
    {
        return std::ranges::any_of(packages, [&](const ScenarioPackage& package) {
            return FamilyName(package) == familyName && HeldByCurrent(package);
        });
    }

    template <typename Filter> PackageWalk Walk(const Scenario& scenario, Filter&& wanted)
    {
        PackageWalk walk;
        for (const ScenarioPackage& package : CurrentPackages(scenario, StateStore(folder_).Read()))
        {
            if (!wanted(package))
                continue;
            if (scenario.packageWalkFailsAfter && walk.packages.size() >= *scenario.packageWalkFailsAfter)
            {
                walk.stoppedBy = Error{E_FAIL, L"The simulated package walk failed"};
                break;
            }
            walk.packages.push_back(Describe(package));
        }
        return walk;
    }

    // Runs one deployment on the package list and the settings values under the state lock; both
    // are written back only when the deployment succeeds.
    template <typename Change> Outcome<> Deploy(const wchar_t* operation, Change&& change)
    {
        WaitWhileHeld();
        Scenario scenario = LoadScenario(folder_);
        if (auto failure = InjectedFailure(scenario, operation))
            return std::unexpected(*failure);
        Outcome<> result;
        auto written = StateStore(folder_).Update([&](Json::Value& state) {
            std::vector<ScenarioPackage> packages = CurrentPackages(scenario, state);
            Json::Value settings = Copy(CurrentSettings(scenario, state));
            result = change(scenario, packages, settings);
            if (!result)
                return false;
            SavePackages(state, packages);
            (*state.members)[L"appSettings"] = settings;
            return true;
        });
        if (!written)
            return Failure(E_FAIL, written.error());
        return result;
    }

    // A test that needs a run to be inside a deployment (to end it there) holds deployments with
    // the file deployments.hold in the folder; a guard ends the hold after ten minutes.
    void WaitWhileHeld() const
    {
        const auto held = folder_ / L"deployments.hold";
        const auto guard = std::chrono::steady_clock::now() + std::chrono::minutes(10);
        std::error_code error;
        while (std::filesystem::exists(held, error) && std::chrono::steady_clock::now() < guard)
            ::Sleep(20);
    }

    std::filesystem::path folder_;
};

} // namespace

std::shared_ptr<PackageManager> MakePackageManager(const std::filesystem::path& folder)
{
    return std::make_shared<SimPackageManager>(folder);
}

} // namespace Pd::Platform::Sim
