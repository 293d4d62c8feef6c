#include "platform/sim/SimCatalog.h"

#include "core/Sha256.h"
#include "core/Strings.h"

#include <mscat.h>
#include <mssip.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace Pd::Platform::Sim
{
namespace
{

constexpr const char* TrustListOid = "1.3.6.1.4.1.311.10.1";
constexpr const char* MessageDigestOid = "1.2.840.113549.1.9.4";
constexpr std::size_t MaxCatalogBytes = 16u << 20;

std::optional<std::vector<std::uint8_t>> MessageParam(HCRYPTMSG message, DWORD type, DWORD index = 0)
{
    DWORD size = 0;
    if (!::CryptMsgGetParam(message, type, index, nullptr, &size))
        return std::nullopt;
    std::vector<std::uint8_t> bytes(size);
    if (size > 0 && !::CryptMsgGetParam(message, type, index, bytes.data(), &size))
        return std::nullopt;
    bytes.resize(size);
    return bytes;
}

// The contents octets of one DER element that fills the bytes exactly: without tag and length.
std::optional<std::span<const std::uint8_t>> DerContents(std::span<const std::uint8_t> element)
{
    if (element.size() < 2)
        return std::nullopt;
    std::size_t header = 2;
    std::size_t length = element[1];
    if (length & 0x80)
    {
        const std::size_t count = length & 0x7F;
        if (count == 0 || count > 4 || element.size() < 2 + count)
            return std::nullopt;
        length = 0;
        for (std::size_t i = 0; i < count; ++i)
            length = (length << 8) | element[2 + i];
        header += count;
    }
    if (element.size() - header != length)
        return std::nullopt;
    return element.subspan(header);
}

// The 32 bytes of the signer's messageDigest attribute.
std::optional<std::vector<std::uint8_t>> SignedMessageDigest(HCRYPTMSG message)
{
    auto attributes = MessageParam(message, CMSG_SIGNER_AUTH_ATTR_PARAM);
    if (!attributes || attributes->size() < sizeof(CRYPT_ATTRIBUTES))
        return std::nullopt;
    const auto* list = reinterpret_cast<const CRYPT_ATTRIBUTES*>(attributes->data());
    for (DWORD i = 0; i < list->cAttr; ++i)
    {
        const CRYPT_ATTRIBUTE& attribute = list->rgAttr[i];
        if (!attribute.pszObjId || std::strcmp(attribute.pszObjId, MessageDigestOid) != 0 ||
            attribute.cValue != 1)
            continue;
        auto value = std::span<const std::uint8_t>(attribute.rgValue[0].pbData, attribute.rgValue[0].cbData);
        if (value.size() != 34 || value[0] != 0x04)
            return std::nullopt;
        auto digest = DerContents(value);
        if (!digest)
            return std::nullopt;
        return std::vector<std::uint8_t>(digest->begin(), digest->end());
    }
    return std::nullopt;
}

bool SignerUsesSha256(HCRYPTMSG message)
{
    auto info = MessageParam(message, CMSG_SIGNER_INFO_PARAM);
    if (!info || info->size() < sizeof(CMSG_SIGNER_INFO))
        return false;
    const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(info->data());
    return signer->HashAlgorithm.pszObjId &&
           std::strcmp(signer->HashAlgorithm.pszObjId, Core::Sha256Oid) == 0;
}

// The signer's certificate from the message's own store, once its signature over the signed
// attributes has been verified.
Core::UniqueCertificate VerifiedSigner(HCRYPTMSG message, HCERTSTORE store)
{
    auto info = MessageParam(message, CMSG_SIGNER_CERT_INFO_PARAM);
    if (!info || info->size() < sizeof(CERT_INFO))
        return {};
    Core::UniqueCertificate signer(::CertGetSubjectCertificateFromStore(
        store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, reinterpret_cast<PCERT_INFO>(info->data())));
    if (!signer || !::CryptMsgControl(message, 0, CMSG_CTRL_VERIFY_SIGNATURE, signer.Get()->pCertInfo))
        return {};
    return signer;
}

// The chain from the signer to its root, built from the message's certificates; none when the
// chain has any error but an untrusted root (a test root is never in the machine's store).
Core::UniqueCertChain SignerChain(PCCERT_CONTEXT signer, HCERTSTORE store)
{
    LPSTR codeSigning = const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING);
    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof(parameters);
    parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
    parameters.RequestedUsage.Usage.rgpszUsageIdentifier = &codeSigning;
    Core::UniqueCertChain chain;
    if (!::CertGetCertificateChain(nullptr, signer, nullptr, store, &parameters, 0, nullptr, chain.Put()))
        return {};
    if ((chain.Get()->TrustStatus.dwErrorStatus & ~CERT_TRUST_IS_UNTRUSTED_ROOT) != 0 ||
        chain.Get()->cChain < 1)
        return {};
    return chain;
}

bool ListsMember(const std::wstring& path, std::wstring_view sha256)
{
    std::wstring file = path;
    Core::UniqueCatalog catalog(
        ::CryptCATOpen(file.data(), CRYPTCAT_OPEN_EXISTING, 0, CRYPTCAT_VERSION_2, 0));
    if (!catalog)
        return false;
    const std::wstring tag = Core::MemberTag(sha256);
    for (CRYPTCATMEMBER* member = nullptr;
         (member = ::CryptCATEnumerateMember(catalog.Get(), member)) != nullptr;)
        if (member->pwszReferenceTag && tag == member->pwszReferenceTag &&
            Core::IndirectDataHolds(member->pIndirectData, sha256))
            return true;
    return false;
}

} // namespace

bool CatalogListsMember(const std::wstring& path, std::span<const std::uint8_t> catalog,
                        const Core::PublisherPins& pins, std::wstring_view sha256)
{
    if (catalog.empty() || catalog.size() > MaxCatalogBytes || sha256.size() != 64)
        return false;
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(catalog.size()), const_cast<BYTE*>(catalog.data())};
    DWORD encoding = 0, contentType = 0, format = 0;
    Core::UniqueCertStore store;
    Core::UniqueCryptMsg message;
    if (!::CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED,
                            CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &contentType, &format, store.Put(),
                            message.Put(), nullptr))
        return false;

    auto inner = MessageParam(message.Get(), CMSG_INNER_CONTENT_TYPE_PARAM);
    if (!inner || std::strlen(TrustListOid) + 1 != inner->size() ||
        std::memcmp(inner->data(), TrustListOid, inner->size()) != 0)
        return false;

    Core::UniqueCertificate signer = VerifiedSigner(message.Get(), store.Get());
    if (!signer || !SignerUsesSha256(message.Get()))
        return false;

    // The signature covers the attributes; the attributes cover the trust list through its digest.
    auto content = MessageParam(message.Get(), CMSG_CONTENT_PARAM);
    auto signedDigest = SignedMessageDigest(message.Get());
    if (!content || !signedDigest)
        return false;
    auto octets = DerContents(*content);
    if (!octets || content->front() != 0x30)
        return false;
    Pd::Sha256 hasher;
    hasher.Update(*octets);
    if (hasher.Finish() != Core::HexLower(*signedDigest))
        return false;

    Core::UniqueCertChain chain = SignerChain(signer.Get(), store.Get());
    if (!chain)
        return false;
    const CERT_SIMPLE_CHAIN* simple = chain.Get()->rgpChain[0];
    std::vector<PCCERT_CONTEXT> certificates;
    for (DWORD i = 0; i < simple->cElement; ++i)
        certificates.push_back(simple->rgpElement[i]->pCertContext);
    if (!Core::ChainSignaturesHold(certificates) || !Core::ChainMatchesPins(certificates, pins))
        return false;

    return ListsMember(path, sha256);
}

} // namespace Pd::Platform::Sim
