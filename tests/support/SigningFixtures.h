// The signed test files that tests/support/signing.py makes before the tests run (CTest fixture
// "signing"), seen from a test exe under Wine: their folder comes in PD_SIGNING_FIXTURES as a
// Unix path, reached through Wine's drive Z:.
#pragma once

#include "core/Json.h"
#include "core/Strings.h"
#include "platform/Certificates.h"
#include "tests/support/UnixPath.h"

#include <windows.h>

#include <wincrypt.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace PdTest
{

inline std::filesystem::path SigningFolder()
{
    return PathFromEnvironment(L"PD_SIGNING_FIXTURES");
}

// A file of the fixture set, e.g. L"official.exe" or L"test\\root.pem".
inline std::wstring SigningFile(const std::wstring& name)
{
    return (SigningFolder() / name).wstring();
}

inline std::string ReadFileBytes(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The pins of one fixture publisher ("test", "foreign", "forged"), from its pins.json.
inline Pd::Core::PublisherPins PublisherPinsOf(const std::wstring& publisher)
{
    Pd::Core::PublisherPins pins;
    auto value =
        Pd::Json::Parser(Pd::Core::FromUtf8(ReadFileBytes(SigningFolder() / publisher / L"pins.json")))
            .Parse();
    if (!value)
        return pins;
    pins.subject = value->TextOr(L"publisher", L"");
    pins.rootPrefix = value->TextOr(L"rootPrefix", L"");
    for (const auto& key : value->Member(L"rootKeys").Items())
        pins.rootKeys.push_back(key.text);
    return pins;
}

// scenario.json of a simulated PC that trusts the publisher with these pins.
inline std::string TrustingScenario(const Pd::Core::PublisherPins& pins)
{
    std::wstring json = L"{\"trust\": {\"publisher\": ";
    Pd::Json::AppendQuoted(pins.subject, json);
    json += L", \"rootPrefix\": ";
    Pd::Json::AppendQuoted(pins.rootPrefix, json);
    json += L", \"rootKeys\": [";
    for (std::size_t i = 0; i < pins.rootKeys.size(); ++i)
    {
        json += i > 0 ? L", " : L"";
        Pd::Json::AppendQuoted(pins.rootKeys[i], json);
    }
    json += L"]}}";
    return Pd::Core::ToUtf8(json);
}

// A certificate from a PEM file of the fixture set.
inline Pd::Core::UniqueCertificate LoadCertificate(const std::wstring& name)
{
    std::string pem = ReadFileBytes(SigningFolder() / name);
    DWORD size = 0;
    if (!::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                                nullptr, &size, nullptr, nullptr))
        return {};
    std::string der(size, '\0');
    if (!::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                                reinterpret_cast<BYTE*>(der.data()), &size, nullptr, nullptr))
        return {};
    return Pd::Core::UniqueCertificate(
        ::CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), size));
}

// The base of the trust tests: fails at once when the fixture set is missing.
class SigningTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(SigningFolder().empty()) << "PD_SIGNING_FIXTURES is not set";
        ASSERT_TRUE(std::filesystem::exists(SigningFolder() / L"official.cat"))
            << "the signing fixtures are missing";
    }
};

} // namespace PdTest
