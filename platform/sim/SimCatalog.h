// The simulated PC's catalog check. Under Wine the catalog functions cannot prove membership (the
// member lookup is a stub) and WinVerifyTrust checks neither a catalog's contents nor its chain,
// so in simulation the check is made here, from the crypt32 calls that do work there.
#pragma once

#include "platform/Certificates.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace Pd::Platform::Sim
{

// Whether the catalog is the publisher's and lists data of the given SHA-256 digest (64 lower-case
// hexadecimal characters). In this order: a PKCS#7 signed message whose inner content is a trust
// list; its first signer's signature over the signed attributes holds, with SHA-256 as digest
// algorithm; the signed messageDigest equals the SHA-256 of the trust list's contents octets; the
// signer's chain built without any error but an untrusted root, its signatures holding and its
// names and root key matching the pins; and then,
// enumerating the catalog's members, one tagged with the digest in upper case whose indirect data
// names SHA-256 and carries the digest. `catalog` holds the bytes of the file at `path`, which the
// caller keeps open against writers; the file is enumerated only once everything else held.
bool CatalogListsMember(const std::wstring& path, std::span<const std::uint8_t> catalog,
                        const Core::PublisherPins& pins, std::wstring_view sha256);

} // namespace Pd::Platform::Sim
