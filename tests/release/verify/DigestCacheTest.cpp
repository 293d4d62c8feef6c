// The digest cache. Wine keeps no change journal, so QueryFileIdentity never finds a USN there and
// nothing is cached; the rules of the cache are shown with identities of the test's own making.
#include "release/verify/DigestCache.h"

#include "core/Handles.h"
#include "tests/core/ScratchFolder.h"
#include "tests/release/Helpers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace
{

using Pd::Core::FileIdentity;
using PdTest::Sha256Of;

std::optional<std::vector<std::uint8_t>> CacheValue(const std::wstring& path)
{
    std::vector<std::uint8_t> value(512);
    DWORD size = static_cast<DWORD>(value.size());
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, Pd::Core::DigestCacheKey, Pd::Core::CacheValueName(path).c_str(),
                       RRF_RT_REG_BINARY, nullptr, value.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    value.resize(size);
    return value;
}

class DigestCache : public ::testing::Test
{
protected:
    void TearDown() override
    {
        for (const auto& path : {file_.wstring(), other_.wstring()})
            ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, Pd::Core::DigestCacheKey,
                                 Pd::Core::CacheValueName(path).c_str());
    }

    // Identities come from here: a fixed one, changed by the test at will.
    Pd::Core::Detail::IdentitySource Source()
    {
        return [this](HANDLE, FileIdentity& identity) {
            identity = identity_;
            return true;
        };
    }

    std::wstring Digest(std::stop_token stop = {})
    {
        return Pd::Core::Detail::CachedFileSha256With(file_.wstring(), stop, Source());
    }

    PdTest::ScratchFolder scratch_;
    std::filesystem::path file_ = scratch_.Write(L"system.vhdx", "disk image");
    std::filesystem::path other_ = scratch_.Path() / L"other.vhdx";
    FileIdentity identity_{0x1122334455667788ull,
                           {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
                           10,
                           0x01DA000000000000ll,
                           0x77};
};

TEST_F(DigestCache, ValueHoldsTheIdentityThenTheDigestAsUtf16AndServesOnlyThatIdentity)
{
    const std::wstring digest = Sha256Of("disk image");
    auto value = Pd::Core::EncodeCacheValue(identity_, digest);
    ASSERT_EQ(value.size(), 176u);
    EXPECT_EQ(value[0], 0x88); // volume serial, little-endian
    EXPECT_EQ(value[7], 0x11);
    EXPECT_EQ(value[8], 1); // file id
    EXPECT_EQ(value[23], 16);
    EXPECT_EQ(value[24], 10);   // size
    EXPECT_EQ(value[39], 0x01); // change time, high byte
    EXPECT_EQ(value[40], 0x77); // USN
    EXPECT_EQ(value[48], static_cast<std::uint8_t>(digest[0]));
    EXPECT_EQ(value[49], 0);
    EXPECT_EQ(Pd::Core::DecodeCacheValue(value, identity_), digest);

    // A value of another identity or shape is not used.
    for (auto change : {+[](FileIdentity& i) { ++i.size; }, +[](FileIdentity& i) { ++i.usn; },
                        +[](FileIdentity& i) { ++i.changeTime; }, +[](FileIdentity& i) { i.fileId[15] = 0; },
                        +[](FileIdentity& i) { ++i.volumeSerial; }})
    {
        FileIdentity other = identity_;
        change(other);
        EXPECT_EQ(Pd::Core::DecodeCacheValue(value, other), std::nullopt);
    }
    auto shorter = value;
    shorter.pop_back();
    EXPECT_EQ(Pd::Core::DecodeCacheValue(shorter, identity_), std::nullopt);
    auto upper = Pd::Core::EncodeCacheValue(identity_, std::wstring(64, L'A'));
    EXPECT_EQ(Pd::Core::DecodeCacheValue(upper, identity_), std::nullopt);
}

TEST_F(DigestCache, FirstHashIsCachedAndUsedUntilTheIdentityChanges)
{
    EXPECT_EQ(Digest(), Sha256Of("disk image"));
    EXPECT_EQ(CacheValue(file_.wstring()), Pd::Core::EncodeCacheValue(identity_, Sha256Of("disk image")));
    // Same identity, other content: only the cache can answer the old digest.
    scratch_.Write(L"system.vhdx", "DISK IMAGE");
    EXPECT_EQ(Digest(), Sha256Of("disk image"));
    identity_.usn += 1;
    EXPECT_EQ(Digest(), Sha256Of("DISK IMAGE"));
    EXPECT_EQ(CacheValue(file_.wstring()), Pd::Core::EncodeCacheValue(identity_, Sha256Of("DISK IMAGE")));
}

TEST_F(DigestCache, ForeignEntryOnlyCostsAFullHashAndAFileWithoutUsnIsNeverCached)
{
    const std::uint8_t junk[] = {1, 2, 3};
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, Pd::Core::DigestCacheKey,
                                Pd::Core::CacheValueName(file_.wstring()).c_str(), REG_BINARY, junk,
                                sizeof(junk)),
              ERROR_SUCCESS);
    EXPECT_EQ(Digest(), Sha256Of("disk image"));
    EXPECT_EQ(CacheValue(file_.wstring()), Pd::Core::EncodeCacheValue(identity_, Sha256Of("disk image")));

    scratch_.Write(L"other.vhdx", "other");
    identity_.usn = 0;
    EXPECT_EQ(Pd::Core::Detail::CachedFileSha256With(other_.wstring(), {}, Source()), Sha256Of("other"));
    EXPECT_EQ(CacheValue(other_.wstring()), std::nullopt);
}

TEST_F(DigestCache, RememberedDigestIsUsedWithoutReadingAndStopOrAMissingFileGivesNone)
{
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_EQ(Digest(stopped.get_token()), L"");
    EXPECT_EQ(CacheValue(file_.wstring()), std::nullopt);
    EXPECT_EQ(Pd::Core::Detail::CachedFileSha256With(other_.wstring(), {}, Source()), L"");

    const std::wstring told = Sha256Of("what the install run wrote");
    Pd::Core::Detail::RememberFileSha256With(file_.wstring(), told, Source());
    EXPECT_EQ(Digest(), told);
    Pd::Core::Detail::RememberFileSha256With(other_.wstring(), told, Source()); // missing file: ignored
    EXPECT_EQ(CacheValue(other_.wstring()), std::nullopt);
    EXPECT_EQ(Pd::Core::CacheValueName(L"C:/Program Files/Peldra/./System/../system.VHDX"),
              L"c:\\program files\\peldra\\system.vhdx");
}

TEST_F(DigestCache, WineHasNoChangeJournalSoNothingIsCached)
{
    Pd::UniqueFile file(
        ::CreateFileW(file_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    FileIdentity identity;
    EXPECT_FALSE(Pd::Core::QueryFileIdentity(file.Get(), identity));
    EXPECT_EQ(identity.size, 10u); // the parts before the USN were read
    EXPECT_EQ(Pd::Core::CachedFileSha256(file_.wstring(), {}), Sha256Of("disk image"));
    EXPECT_EQ(CacheValue(file_.wstring()), std::nullopt);
}

} // namespace
