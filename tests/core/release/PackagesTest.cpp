#include "core/release/Packages.h"

#include "tests/support/SimScenario.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

namespace
{

using Pd::Install::FindInstalledPackage;
using Pd::Install::FindPackageUsers;
using Pd::Install::OtherDevelopmentPackages;

constexpr const char* Publisher = "tv9kp7a3nqe2r";
// A SID that names no account on this computer.
constexpr const char* Stranger = "S-1-5-21-1111111111-2222222222-3333333333-1001";
constexpr const char* OtherStranger = "S-1-5-21-1111111111-2222222222-3333333333-1002";

std::string Tovik(std::string_view users, std::string_view extra = "")
{
    return fmt::format(R"({{"name":"TovikPackage","publisherId":"{}","installLocation":"C:\\Tovik",
        "users":[{}]{}}})",
                       Publisher, users, extra);
}

std::string Packages(std::initializer_list<std::string> packages, std::string_view extra = "")
{
    std::string list;
    for (const std::string& package : packages)
        list += (list.empty() ? "" : ",") + package;
    return fmt::format(R"({{"packages":[{}]{}}})", list, extra);
}

TEST(FindInstalledPackage, DescribesTheCurrentAccountsRegistration)
{
    Pd::Test::SimScenario scenario(
        Packages({Tovik(R"("current")", R"(,"version":"1.0.0.0","developmentMode":true)")}));
    auto package = FindInstalledPackage();
    ASSERT_TRUE(package);
    EXPECT_EQ(package->fullName, L"TovikPackage_1.0.0.0_x64__tv9kp7a3nqe2r");
    EXPECT_EQ(package->version, L"1.0.0.0") << "four parts, also when the last are zero";
    EXPECT_EQ(package->installLocation, L"C:\\Tovik");
    EXPECT_TRUE(package->developmentMode);
}

TEST(FindInstalledPackage, AStoreInstallationIsNotInDevelopmentMode)
{
    Pd::Test::SimScenario scenario(Packages({Tovik(R"("current")", R"(,"version":"12.0.300.4")")}));
    auto package = FindInstalledPackage();
    ASSERT_TRUE(package);
    EXPECT_FALSE(package->developmentMode);
    EXPECT_EQ(package->version, L"12.0.300.4");
}

TEST(FindInstalledPackage, AFamilyNameThatDiffersOnlyInCaseIsNotTovik)
{
    Pd::Test::SimScenario scenario(
        R"({"packages":[{"name":"tovikpackage","publisherId":"tv9kp7a3nqe2r","installLocation":"C:\\x","users":["current"]}]})");
    EXPECT_FALSE(FindInstalledPackage());
}

TEST(FindInstalledPackage, NothingWhenOnlyAnotherAccountHasItOrTheLocationCannotBeRead)
{
    {
        Pd::Test::SimScenario scenario(Packages({Tovik(fmt::format(R"("{}")", Stranger))}));
        EXPECT_FALSE(FindInstalledPackage());
    }
    {
        Pd::Test::SimScenario scenario(
            R"({"packages":[{"name":"TovikPackage","publisherId":"tv9kp7a3nqe2r","users":["current"]}]})");
        EXPECT_FALSE(FindInstalledPackage()) << "never a partly filled record";
    }
}

TEST(FindInstalledPackage, NothingWithoutAPackageManager)
{
    EXPECT_FALSE(FindInstalledPackage()); // this build has no Windows Runtime binding
    EXPECT_FALSE(FindPackageUsers());
    EXPECT_TRUE(OtherDevelopmentPackages().empty());
}

TEST(FindPackageUsers, NothingWhenTheCurrentAccountHoldsItToo)
{
    Pd::Test::SimScenario scenario(Packages({Tovik(fmt::format(R"("{}","current")", Stranger))}));
    EXPECT_FALSE(FindPackageUsers());
    EXPECT_TRUE(FindInstalledPackage());
}

TEST(FindPackageUsers, AnAccountThatNoLongerExistsIsNamedByItsSid)
{
    Pd::Test::SimScenario scenario(Packages({Tovik(fmt::format(R"("{}")", Stranger))}));
    auto user = FindPackageUsers();
    ASSERT_TRUE(user);
    EXPECT_EQ(user->account, std::wstring(Stranger, Stranger + std::strlen(Stranger)));
    EXPECT_EQ(user->installLocation, L"C:\\Tovik");
}

TEST(FindPackageUsers, TheFirstOtherAccountIsReported)
{
    Pd::Test::SimScenario scenario(Packages({Tovik(fmt::format(R"("{}","{}")", OtherStranger, Stranger))}));
    auto user = FindPackageUsers();
    ASSERT_TRUE(user);
    EXPECT_EQ(user->account, std::wstring(OtherStranger, OtherStranger + std::strlen(OtherStranger)));
}

TEST(FindPackageUsers, AnUnreadableLocationStaysEmptyAndTheLookupGoesOn)
{
    Pd::Test::SimScenario scenario(fmt::format(
        R"({{"packages":[{{"name":"TovikPackage","publisherId":"tv9kp7a3nqe2r","users":["{}"]}}]}})",
        Stranger));
    auto user = FindPackageUsers();
    ASSERT_TRUE(user);
    EXPECT_EQ(user->installLocation, L"");
}

TEST(OtherDevelopmentPackages, ListsOtherFamiliesInDevelopmentModeButNeverTovik)
{
    Pd::Test::SimScenario scenario(Packages({
        R"({"name":"First","publisherId":"a","developmentMode":true,"users":["current"]})",
        Tovik(R"("current")", R"(,"developmentMode":true)"),
        R"({"name":"Store","publisherId":"b","developmentMode":false,"users":["current"]})",
        R"({"name":"Elsewhere","publisherId":"c","developmentMode":true,"users":["S-1-5-21-1-2-3-4"]})",
        R"({"name":"Second","publisherId":"d","developmentMode":true,"users":["current"]})",
    }));
    EXPECT_EQ(OtherDevelopmentPackages(), (std::vector<std::wstring>{L"First", L"Second"}));
}

TEST(OtherDevelopmentPackages, AWalkThatFailsPartWayKeepsWhatItRead)
{
    Pd::Test::SimScenario scenario(Packages(
        {
            R"({"name":"First","publisherId":"a","developmentMode":true,"users":["current"]})",
            R"({"name":"Second","publisherId":"d","developmentMode":true,"users":["current"]})",
        },
        R"(,"packageWalkFailsAfter":1)"));
    EXPECT_EQ(OtherDevelopmentPackages(), (std::vector<std::wstring>{L"First"}));
}

} // namespace
