// Where releases come from and whose signature makes them official: the publisher's pins, the
// release hosts and the Magisk repository, in one place.
#pragma once

#include <array>
#include <string_view>

namespace Pd::Core
{

// The publisher that signs official releases, catalogs and the program's own installer package.
// A signature counts only when its leaf certificate carries exactly this simple name, its root's
// simple name begins with the prefix, and the root's public key is one of the two pinned keys
// (SHA-256 of the DER SubjectPublicKeyInfo): the current root and its designated successor.
inline constexpr std::wstring_view PublisherSubject = L"Ormel Software GmbH Release Signing 01";
inline constexpr std::wstring_view PublisherRootPrefix = L"Ormel Code Signing Root C";
inline constexpr std::array<std::wstring_view, 2> PublisherRootKeys = {
    L"5b0e3c5a9f1d27e84c6b1f09a2d4e87c31f65b7a0c9e2d4f8a1b3c5d7e9f0a2b",
    L"c47a19e03b5d8f26a1e4c7b90d2f5a83e6b1c4d7f0a3b6c9e2d5f8a1b4c7d0e3",
};

// The project's releases on the code host: "https://<ReleaseWebHost>/<ReleaseRepository>/releases/...".
inline constexpr std::wstring_view ReleaseWebHost = L"github.com";
inline constexpr std::wstring_view ReleaseRepository = L"ormel-software/peldra";

// The maker's second release server.
inline constexpr std::wstring_view MirrorHost = L"releases.ormel.software";

// The Magisk project's latest release is looked up through the code host's release API and
// downloaded from its release-download host.
inline constexpr std::wstring_view MagiskApiHost = L"api.github.com";
inline constexpr std::wstring_view MagiskDownloadHost = L"github.com";
inline constexpr std::wstring_view MagiskOwner = L"magisk-project";

} // namespace Pd::Core
