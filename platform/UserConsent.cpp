#include "platform/UserConsent.h"

#include "platform/RealServices.h"

namespace Pd::Platform
{
namespace
{

class UnavailableVerifier final : public UserConsentVerifier
{
public:
    Outcome<std::uint32_t> CheckAvailability() override { return std::unexpected(Unavailable()); }
    Outcome<std::unique_ptr<ConsentRequest>> RequestVerification(HWND, const std::wstring&) override
    {
        return std::unexpected(Unavailable());
    }

private:
    static Error Unavailable() { return Error{REGDB_E_CLASSNOTREG, L"Windows Hello is not available"}; }
};

} // namespace

std::shared_ptr<UserConsentVerifier> Real::UserConsent()
{
    static const auto unavailable = std::make_shared<UnavailableVerifier>();
    return unavailable;
}

} // namespace Pd::Platform
