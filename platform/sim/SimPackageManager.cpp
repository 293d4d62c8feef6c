#include "platform/sim/SimPackageManager.h"

#include "platform/Account.h"
#include "platform/sim/Scenario.h"

#include <fmt/xchar.h>

#include <algorithm>

namespace Pd::Platform::Sim
{
namespace
{

constexpr const wchar_t* CurrentAccount = L"current";

Package Describe(const ScenarioPackage& entry)
{
    Package package;
    package.name = entry.name;
    package.familyName = entry.name + L"_" + entry.publisherId;
    package.version = {entry.version[0], entry.version[1], entry.version[2], entry.version[3]};
    package.fullName = fmt::format(L"{}_{}.{}.{}.{}_{}__{}", entry.name, entry.version[0], entry.version[1],
                                   entry.version[2], entry.version[3], entry.architecture, entry.publisherId);
    package.installLocation = entry.installLocation;
    package.developmentMode = entry.developmentMode;
    return package;
}

class SimPackageManager final : public PackageManager
{
public:
    explicit SimPackageManager(std::filesystem::path folder) : folder_(std::move(folder)) {}

    PackageWalk FindPackagesForCurrentUser() override
    {
        Scenario scenario = LoadScenario(folder_);
        std::wstring me = ProcessUserSid();
        return Walk(scenario, [&](const ScenarioPackage& package) {
            return std::ranges::any_of(package.users, [&](const std::wstring& user) {
                return user == CurrentAccount || user == me;
            });
        });
    }

    PackageWalk FindPackagesByFamilyName(const std::wstring& familyName) override
    {
        Scenario scenario = LoadScenario(folder_);
        return Walk(scenario, [&](const ScenarioPackage& package) {
            return !package.users.empty() && Describe(package).familyName == familyName;
        });
    }

    Outcome<std::vector<std::wstring>> FindUsers(const std::wstring& packageFullName) override
    {
        Scenario scenario = LoadScenario(folder_);
        std::vector<std::wstring> users;
        for (const ScenarioPackage& package : scenario.packages)
        {
            if (Describe(package).fullName != packageFullName)
                continue;
            for (const std::wstring& user : package.users)
                users.push_back(user == CurrentAccount ? ProcessUserSid() : user);
        }
        return users;
    }

private:
    template <typename Filter> PackageWalk Walk(const Scenario& scenario, Filter&& wanted)
    {
        PackageWalk walk;
        for (const ScenarioPackage& package : scenario.packages)
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

    std::filesystem::path folder_;
};

} // namespace

std::shared_ptr<PackageManager> MakePackageManager(const std::filesystem::path& folder)
{
    return std::make_shared<SimPackageManager>(folder);
}

} // namespace Pd::Platform::Sim
