#include "platform/CellularApn.h"

#include "platform/RealServices.h"

namespace Pd::Platform
{
namespace
{

class UnavailableConnectivity final : public CellularConnectivity
{
public:
    Outcome<std::unique_ptr<ConnectionSession>> AcquireConnection(const ApnContext&, std::stop_token) override
    {
        return Failure(REGDB_E_CLASSNOTREG, L"Cellular access point connections are not available");
    }
};

} // namespace

std::shared_ptr<CellularConnectivity> Real::CellularConnections()
{
    static const auto unavailable = std::make_shared<UnavailableConnectivity>();
    return unavailable;
}

} // namespace Pd::Platform
