#include "core/Sha256.h"

#include "tests/core/ScratchFolder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

std::wstring Digest(std::string_view bytes)
{
    Pd::Sha256 hasher;
    EXPECT_TRUE(hasher.Update(bytes));
    return hasher.Finish();
}

TEST(Sha256, MatchesThePublishedVectors)
{
    EXPECT_EQ(Pd::Sha256().Finish(), L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Digest("abc"), L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              L"248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Digest(std::string(1'000'000, 'a')),
              L"cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, ChunksGiveTheSameDigestAsOneBuffer)
{
    std::string data;
    for (int i = 0; i < 100'000; ++i)
        data.push_back(static_cast<char>(i * 7 + i / 13));
    Pd::Sha256 chunked;
    std::size_t at = 0;
    for (std::size_t size = 1; at < data.size(); size = size * 3 + 1)
    {
        std::size_t part = std::min(size, data.size() - at);
        ASSERT_TRUE(chunked.Update(data.data() + at, part));
        at += part;
    }
    EXPECT_EQ(chunked.Finish(), Digest(data));
}

// A hasher whose algorithm cannot be opened.
class BrokenHasher : public Pd::Sha256
{
public:
    BrokenHasher() : Pd::Sha256(L"NO-SUCH-ALGORITHM") {}
};

TEST(Sha256, AFinishedOrUnusableHasherGivesTheEmptyText)
{
    Pd::Sha256 hasher;
    hasher.Update(std::string_view("abc"));
    EXPECT_FALSE(hasher.Finish().empty());
    EXPECT_EQ(hasher.Finish(), L"");
    EXPECT_FALSE(hasher.Update(std::string_view("more")));

    BrokenHasher broken;
    EXPECT_FALSE(broken.Usable());
    EXPECT_FALSE(broken.Update(std::string_view("abc")));
    EXPECT_EQ(broken.Finish(), L"");
}

class HashFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (std::size_t i = 0; i < bytes_.size(); ++i)
            bytes_[i] = static_cast<char>(i * 7 + i / 13);
        path_ = scratch_.Write(L"data", bytes_);
    }

    Pd::UniqueFile Open() const
    {
        return Pd::UniqueFile(
            ::CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    }

    std::string bytes_ = std::string((2u << 20) + 5, '\0'); // crosses two chunk boundaries
    PdTest::ScratchFolder scratch_;
    std::filesystem::path path_;
};

TEST_F(HashFileTest, HashesUpToTheLimitOrTheEnd)
{
    struct Case
    {
        std::uint64_t limit;
        DWORD status;
        std::size_t hashed;
    };
    for (const Case& c : {
             Case{Pd::WholeFile, ERROR_SUCCESS, bytes_.size()},
             Case{(1u << 20) + 3, ERROR_SUCCESS, (1u << 20) + 3},
             Case{0, ERROR_SUCCESS, 0},
             Case{bytes_.size() + 1, ERROR_HANDLE_EOF, 0},
         })
    {
        Pd::UniqueFile file = Open();
        ASSERT_TRUE(file);
        Pd::Sha256 hasher;
        EXPECT_EQ(Pd::HashFile(file.Get(), hasher, {}, c.limit), c.status) << c.limit;
        if (c.status == ERROR_SUCCESS)
        {
            EXPECT_EQ(hasher.Finish(), Digest(std::string_view(bytes_).substr(0, c.hashed))) << c.limit;
        }
    }
}

TEST_F(HashFileTest, StopsBeforeTheNextChunk)
{
    Pd::UniqueFile file = Open();
    ASSERT_TRUE(file);
    Pd::Sha256 hasher;
    std::vector<std::uint64_t> told;
    std::stop_source stop;
    EXPECT_EQ(Pd::HashFile(file.Get(), hasher, stop.get_token(), Pd::WholeFile,
                           [&](std::uint64_t done) {
                               told.push_back(done);
                               stop.request_stop();
                           }),
              static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_EQ(told, std::vector<std::uint64_t>{1u << 20});
}

} // namespace
