#include "platform/SmsRouter.h"

#include "platform/RealServices.h"

namespace Pd::Platform
{
namespace
{

class UnavailableRouter final : public SmsRouter
{
public:
    Outcome<std::size_t> UnregisterAll(std::wstring_view) override { return Unavailable(); }
    Outcome<std::unique_ptr<SmsRegistration>> RegisterWapPeek(std::wstring_view, RoutedSmsHandler) override
    {
        return Unavailable();
    }

private:
    static std::unexpected<Error> Unavailable()
    {
        return Failure(REGDB_E_CLASSNOTREG, L"Windows' SMS router is not available");
    }
};

} // namespace

std::shared_ptr<SmsRouter> Real::SmsRouting()
{
    static const auto unavailable = std::make_shared<UnavailableRouter>();
    return unavailable;
}

} // namespace Pd::Platform
