// Certificates and catalogs as the publisher checks see them: simple names, public-key pins, the
// rule that decides whether a signing chain is the pinned publisher's, and catalog members.
#pragma once

#include "core/Handles.h"
#include "core/Hex.h"

#include <windows.h>

#include <wincrypt.h>

#include <mscat.h>
#include <mssip.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Pd::Core
{

inline BOOL CloseCertStore(HCERTSTORE store) noexcept
{
    return ::CertCloseStore(store, 0);
}
using UniqueCertStore = Pd::Unique<HCERTSTORE, &CloseCertStore>;                     // CryptQueryObject
using UniqueCryptMsg = Pd::Unique<HCRYPTMSG, &::CryptMsgClose>;                      // CryptQueryObject
using UniqueCertificate = Pd::Unique<PCCERT_CONTEXT, &::CertFreeCertificateContext>; // CertGet...FromStore
using UniqueCertChain =
    Pd::Unique<PCCERT_CHAIN_CONTEXT, &::CertFreeCertificateChain>; // CertGetCertificateChain
inline BOOL CloseCatalog(HANDLE catalog) noexcept
{
    return ::CryptCATClose(catalog);
}
using UniqueCatalog = Pd::Unique<HANDLE, &CloseCatalog, -1>; // CryptCATOpen

inline constexpr const char* Sha256Oid = "2.16.840.1.101.3.4.2.1";

// The publisher a signature must come from: the leaf's exact simple name, the start of the
// root's simple name, and the accepted root keys (SHA-256 of the DER SubjectPublicKeyInfo,
// 64 lower-case hexadecimal characters).
struct PublisherPins
{
    std::wstring subject;
    std::wstring rootPrefix;
    std::vector<std::wstring> rootKeys;
};

// The certificate's simple display name, without the terminating zero; empty when it has none.
std::wstring CertSimpleName(PCCERT_CONTEXT certificate);

// SHA-256 of the certificate's encoded SubjectPublicKeyInfo in lower-case hexadecimal; empty
// when encoding or hashing fails.
std::wstring PublicKeyPin(PCCERT_CONTEXT certificate);

// Whether a chain, leaf first and root last, is the pinned publisher's: more than one
// certificate, the leaf's simple name equal to the subject, the root's simple name at least as
// long as the prefix and beginning with it (letter case counts), and the root's key pinned.
// Only names and keys are compared; ChainSignaturesHold checks the signatures.
bool ChainMatchesPins(std::span<const PCCERT_CONTEXT> chain, const PublisherPins& pins);

// Whether every certificate of a chain (leaf first) is signed by the next one and the last one by
// itself. Windows checks this while it builds a chain; Wine does not, and there a leaf forged under
// the publisher's names, carrying the genuine root, would otherwise pass the pins.
bool ChainSignaturesHold(std::span<const PCCERT_CONTEXT> chain);

// A catalog member's tag for data of this SHA-256: the 64 digits in upper case.
std::wstring MemberTag(std::wstring_view sha256);

// Whether a member's indirect data names SHA-256 and carries exactly this digest (lower case).
bool IndirectDataHolds(const SIP_INDIRECT_DATA* indirect, std::wstring_view sha256);

} // namespace Pd::Core
