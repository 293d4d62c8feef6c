#include "platform/PackageManager.h"

#include "platform/RealServices.h"

namespace Pd::Platform
{
namespace
{

class UnavailablePackageManager final : public PackageManager
{
public:
    PackageWalk FindPackagesForCurrentUser() override { return {{}, Unavailable()}; }
    PackageWalk FindPackagesByFamilyName(const std::wstring&) override { return {{}, Unavailable()}; }
    Outcome<std::vector<std::wstring>> FindUsers(const std::wstring&) override
    {
        return std::unexpected(Unavailable());
    }
    Outcome<> AddPackage(const std::wstring&, std::uint32_t) override
    {
        return std::unexpected(Unavailable());
    }
    Outcome<> RegisterPackage(const std::wstring&, std::uint32_t) override
    {
        return std::unexpected(Unavailable());
    }
    Outcome<> RemovePackage(const std::wstring&, std::uint32_t) override
    {
        return std::unexpected(Unavailable());
    }
    Outcome<bool> HasSettingValue(const std::wstring&, const std::wstring&) override
    {
        return std::unexpected(Unavailable());
    }
    Outcome<> InsertSettingValue(const std::wstring&, const std::wstring&, bool) override
    {
        return std::unexpected(Unavailable());
    }

private:
    static Error Unavailable() { return Error{REGDB_E_CLASSNOTREG, L"The package manager is not available"}; }
};

} // namespace

std::shared_ptr<PackageManager> Real::Packages()
{
    static const auto unavailable = std::make_shared<UnavailablePackageManager>();
    return unavailable;
}

} // namespace Pd::Platform
