#include "platform/Certificates.h"

#include "core/Sha256.h"

#include <algorithm>
#include <cstring>

namespace Pd::Core
{

std::wstring CertSimpleName(PCCERT_CONTEXT certificate)
{
    if (!certificate)
        return {};
    DWORD length = ::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    if (length <= 1)
        return {};
    std::wstring name(length, L'\0');
    length =
        ::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(), length);
    name.resize(length > 0 ? length - 1 : 0);
    return name;
}

std::wstring PublicKeyPin(PCCERT_CONTEXT certificate)
{
    if (!certificate || !certificate->pCertInfo)
        return {};
    DWORD size = 0;
    const auto* info = &certificate->pCertInfo->SubjectPublicKeyInfo;
    if (!::CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, info, 0, nullptr, nullptr, &size) ||
        size == 0)
        return {};
    std::vector<std::uint8_t> encoded(size);
    if (!::CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, info, 0, nullptr, encoded.data(),
                               &size))
        return {};
    encoded.resize(size);
    Pd::Sha256 hasher;
    hasher.Update(std::span<const std::uint8_t>(encoded));
    return hasher.Finish();
}

bool ChainMatchesPins(std::span<const PCCERT_CONTEXT> chain, const PublisherPins& pins)
{
    if (chain.size() < 2 || pins.subject.empty())
        return false;
    if (CertSimpleName(chain.front()) != pins.subject)
        return false;
    const std::wstring rootName = CertSimpleName(chain.back());
    if (rootName.size() < pins.rootPrefix.size() || !rootName.starts_with(pins.rootPrefix))
        return false;
    const std::wstring rootKey = PublicKeyPin(chain.back());
    return !rootKey.empty() && std::ranges::find(pins.rootKeys, rootKey) != pins.rootKeys.end();
}

std::wstring MemberTag(std::wstring_view sha256)
{
    std::wstring tag(sha256);
    std::ranges::transform(tag, tag.begin(), [](wchar_t c) { return c >= L'a' && c <= L'f' ? c - 32 : c; });
    return tag;
}

bool IndirectDataHolds(const SIP_INDIRECT_DATA* indirect, std::wstring_view sha256)
{
    return indirect && indirect->DigestAlgorithm.pszObjId &&
           std::strcmp(indirect->DigestAlgorithm.pszObjId, Sha256Oid) == 0 &&
           HexLower({indirect->Digest.pbData, indirect->Digest.cbData}) == sha256;
}

bool ChainSignaturesHold(std::span<const PCCERT_CONTEXT> chain)
{
    if (chain.empty())
        return false;
    for (std::size_t i = 0; i < chain.size(); ++i)
    {
        PCCERT_CONTEXT issuer = chain[std::min(i + 1, chain.size() - 1)];
        if (!::CryptVerifyCertificateSignatureEx(0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CERT,
                                                 const_cast<CERT_CONTEXT*>(chain[i]),
                                                 CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT,
                                                 const_cast<CERT_CONTEXT*>(issuer), 0, nullptr))
            return false;
    }
    return true;
}

} // namespace Pd::Core
