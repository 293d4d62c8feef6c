// Publisher signature and catalog checks: a release is trusted only when a catalog signed by the
// program's publisher lists its data.
#pragma once

#include "platform/Certificates.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace Pd::Core
{

enum class SignatureState : std::int32_t
{
    Official = 0,    // a valid signature by the pinned publisher
    NotSigned = 1,   // no signature, or a file form that cannot carry one
    OtherSigner = 2, // a valid signature by someone else, or a chain that does not match the pins
    Modified = 3,    // any other failure: the content changed, the chain is not trusted, ...
};

// The program's own publisher, pinned.
const PublisherPins& ProductPublisher();

// The publisher whose signatures count: the program's own, or the simulated PC's test publisher.
PublisherPins TrustedPublisher();

// Asks Windows whether the file carries a valid Authenticode signature and whether its chain is
// the publisher's. With an open handle of the file Windows checks the content behind it, so the
// file cannot be exchanged between opening and checking. Works offline: no revocation check,
// URL retrieval from the cache only.
SignatureState VerifyPublisher(const std::wstring& path, HANDLE file = nullptr);

// Whether the catalog file is signed by the publisher and lists the data under its SHA-256.
// A catalog that is a reparse point (a link or junction) is refused.
bool VerifyCatalogMember(const std::wstring& catalogPath, std::string_view data);

// The same for a catalog held in memory (at most 16 MiB): written to a private temporary file
// that is always deleted again. Empty catalog or data are refused without touching the disk.
bool VerifyWithCatalogBytes(std::string_view catalog, std::string_view data);

namespace Detail
{
// The checks above with the publisher given: the tests' own publisher, and the simulated PC's.
SignatureState VerifyPublisherWith(const std::wstring& path, HANDLE file, const PublisherPins& pins);
bool VerifyCatalogMemberWith(const std::wstring& catalogPath, std::string_view data,
                             const PublisherPins& pins);
} // namespace Detail

} // namespace Pd::Core
