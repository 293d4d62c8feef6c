#include "release/download/ManifestLoader.h"

#include "core/Text.h"
#include "release/download/Net.h"
#include "release/manifest/Trust.h"

namespace Pd::Core
{
namespace
{

// As many as a component download gets.
constexpr int FetchAttempts = 5;

// Whether a fetch error says that the server has no such file: the transfer's own text for the
// statuses 404 and 410, formed in the same language as the transfer formed it.
bool IsMissingOnServer(const std::wstring& error, const std::wstring& url)
{
    return error == FormatText(TextId::ServerAnsweredHttpFor, 404u, url) ||
           error == FormatText(TextId::ServerAnsweredHttpFor, 410u, url);
}

} // namespace

Pd::Result<Manifest> LoadManifest(std::wstring_view url, std::stop_token stop, std::uint32_t connectTimeoutMs,
                                  std::uint32_t receiveTimeoutMs, const LogText& log,
                                  const Net::WaitSlice& waitSlice)
{
    const Net::Retries retries{FetchAttempts, log, waitSlice};
    auto body = Net::FetchText(url, stop, connectTimeoutMs, receiveTimeoutMs, retries);
    if (!body)
        return Pd::Fail(std::move(body.error()));
    auto manifest = ParseManifest(*body, url);
    if (!manifest)
        return Pd::Fail(std::move(manifest.error()));
    if (auto fetchable = CheckAddresses(*manifest); !fetchable)
        return Pd::Fail(std::move(fetchable.error()));
    manifest->manifestBytes = std::move(*body);

    const std::wstring catalogUrl = ResolveUrl(url, L"manifest.cat");
    auto catalog = Net::FetchText(catalogUrl, stop, connectTimeoutMs, receiveTimeoutMs, retries);
    if (stop.stop_requested())
        return Pd::Fail(Text(TextId::Canceled));
    if (!catalog)
    {
        if (!IsMissingOnServer(catalog.error(), catalogUrl))
            return Pd::Fail(std::move(catalog.error()));
        return manifest;
    }
    manifest->catalogBytes = std::move(*catalog);
    manifest->isSigned = VerifyWithCatalogBytes(manifest->catalogBytes, manifest->manifestBytes);
    return manifest;
}

} // namespace Pd::Core
