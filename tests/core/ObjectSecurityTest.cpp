// The security of the host's and the window's named objects. Wine enforces no integrity levels,
// so the descriptor itself is checked: what the objects carry once created, ACE by ACE, and who
// owns an object that existed before.
#include "core/ObjectSecurity.h"
#include "core/Elevation.h"
#include "tests/support/PlantedObject.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <map>
#include <vector>

namespace
{

// SID text -> access mask of every ACE of the given kind in a descriptor's DACL or SACL.
std::map<std::wstring, DWORD> AcesOf(PSECURITY_DESCRIPTOR descriptor, bool label)
{
    BOOL present = FALSE, defaulted = FALSE;
    PACL list = nullptr;
    BOOL read = label ? ::GetSecurityDescriptorSacl(descriptor, &present, &list, &defaulted)
                      : ::GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted);
    std::map<std::wstring, DWORD> aces;
    if (!read || !present || !list)
        return aces;
    for (DWORD at = 0; at < list->AceCount; ++at)
    {
        ACE_HEADER* header = nullptr;
        if (!::GetAce(list, at, reinterpret_cast<void**>(&header)))
            continue;
        BYTE wanted = label ? SYSTEM_MANDATORY_LABEL_ACE_TYPE : ACCESS_ALLOWED_ACE_TYPE;
        if (header->AceType != wanted)
            continue;
        // Both ACE kinds are laid out as header, mask, SID.
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        wchar_t* text = nullptr;
        if (::ConvertSidToStringSidW(&ace->SidStart, &text))
        {
            aces[text] = ace->Mask;
            ::LocalFree(text);
        }
    }
    return aces;
}

std::wstring SidText(PSID sid)
{
    wchar_t* text = nullptr;
    if (sid == nullptr || !::ConvertSidToStringSidW(sid, &text))
        return L"";
    std::wstring copy = text;
    ::LocalFree(text);
    return copy;
}

// This user may wait on and set the objects; SYSTEM and the administrators keep full access;
// nobody else is let in; the administrators own what an elevated process made.
void ExpectSessionAccess(PSECURITY_DESCRIPTOR descriptor)
{
    const std::wstring user = Pd::Core::ProcessUserSid();
    std::map<std::wstring, DWORD> found = AcesOf(descriptor, false);
    // A created object may carry the generic rights mapped to its specific ones.
    for (auto& [sid, mask] : found)
        if (sid != user && (mask & 0x001F0003) == 0x001F0003)
            mask = GENERIC_ALL;
    EXPECT_EQ(found, (std::map<std::wstring, DWORD>{{L"S-1-5-18", GENERIC_ALL},
                                                    {L"S-1-5-32-544", GENERIC_ALL},
                                                    {user, SYNCHRONIZE | EVENT_MODIFY_STATE}}));
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    ASSERT_TRUE(::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted));
    EXPECT_EQ(SidText(owner), L"S-1-5-32-544");
}

// The DACL and owner are checked on the objects created with the descriptor; the medium integrity
// label on the descriptor itself.
TEST(ObjectSecurity, CreatedObjectsLetThisUserWaitAndSetAndTellWhetherTheyExisted)
{
    Pd::Core::SessionObjectSecurity security;
    ASSERT_NE(security.Attributes(), nullptr);
    EXPECT_FALSE(security.Attributes()->bInheritHandle);
    EXPECT_EQ(AcesOf(security.Attributes()->lpSecurityDescriptor, true),
              (std::map<std::wstring, DWORD>{{L"S-1-16-8192", SYSTEM_MANDATORY_LABEL_NO_WRITE_UP}}));
    EXPECT_EQ(Pd::Core::SessionObjectSddl(L"S-1-5-21-7", false),
              L"O:S-1-5-21-7D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100002;;;S-1-5-21-7)S:(ML;;NW;;;ME)");

    std::wstring name = L"Local\\Peldra.Test.Security." + std::to_wstring(::GetCurrentProcessId());
    const std::wstring eventName = name + L".Event";
    Pd::UniqueHandle event = Pd::Core::CreateSessionEvent(eventName.c_str(), false);
    Pd::UniqueHandle mutex = Pd::Core::CreateSessionMutex(name.c_str(), true);
    ASSERT_TRUE(event && mutex);
    EXPECT_NE(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    Pd::UniqueHandle again = Pd::Core::CreateSessionMutex(name.c_str(), true);
    EXPECT_TRUE(again) << "a trusted owner's object is used";
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS))
        << "kept past the descriptor's release";

    for (HANDLE object : {event.Get(), mutex.Get()})
    {
        std::vector<BYTE> buffer(4096);
        DWORD needed = 0;
        ASSERT_TRUE(::GetKernelObjectSecurity(object, DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION,
                                              buffer.data(), static_cast<DWORD>(buffer.size()), &needed));
        ExpectSessionAccess(buffer.data());
    }
    EXPECT_TRUE(Pd::Core::SignalNamedEvent(eventName.c_str()));
    EXPECT_EQ(::WaitForSingleObject(event.Get(), 0), WAIT_OBJECT_0);
}

TEST(NamedEvent, SetsTheNamedEventOnceAndIgnoresAMissingOne)
{
    std::wstring name = L"Local\\Peldra.Test." + std::to_wstring(::GetCurrentProcessId());
    EXPECT_FALSE(Pd::Core::SignalNamedEvent(name.c_str()));
    Pd::UniqueHandle event(::CreateEventW(nullptr, FALSE, FALSE, name.c_str()));
    EXPECT_TRUE(Pd::Core::SignalNamedEvent(name.c_str()));
    EXPECT_EQ(::WaitForSingleObject(event.Get(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(::WaitForSingleObject(event.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "one wake per signal";
}

// Another account that made an object under one of the names first (Wine lets a test give an
// object any owner) does not get it used: no handle, and the owner is named, by its account where
// Windows knows one.
TEST(ObjectSecurity, AnObjectAnotherAccountMadeFirstIsRefusedNamingItsOwner)
{
    const std::wstring base = L"Local\\Peldra.Test.Foreign." + std::to_wstring(::GetCurrentProcessId());
    for (const auto& [owner, named] :
         {std::pair{L"S-1-5-21-1-2-3-4", L"S-1-5-21-1-2-3-4"}, std::pair{L"S-1-1-0", L"Everyone (S-1-1-0)"},
          std::pair{L"S-1-5-4", L"NT AUTHORITY\\INTERACTIVE (S-1-5-4)"}})
    {
        const std::wstring name = base + owner;
        Pd::UniqueHandle planted = PdTest::PlantObject(name, owner, PdTest::Planted::Event);
        ASSERT_TRUE(planted);
        std::wstring foreign;
        EXPECT_FALSE(Pd::Core::CreateSessionEvent(name.c_str(), true, &foreign));
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_OWNER));
        EXPECT_EQ(foreign, named);
    }

    struct Case
    {
        const wchar_t* owner;
        bool userMayOwn;
        bool trusted;
    };
    const std::wstring user = Pd::Core::ProcessUserSid();
    const Case cases[] = {
        {L"S-1-5-18", false, true},   {L"S-1-5-32-544", false, true},     {user.c_str(), true, true},
        {user.c_str(), false, false}, {L"S-1-5-21-1-2-3-4", true, false}, {L"S-1-5-32-545", true, false},
    };
    PSID userSid = nullptr;
    ASSERT_TRUE(::ConvertStringSidToSidW(user.c_str(), &userSid));
    for (const Case& c : cases)
    {
        PSID owner = nullptr;
        ASSERT_TRUE(::ConvertStringSidToSidW(c.owner, &owner));
        EXPECT_EQ(Pd::Core::IsTrustedOwner(owner, c.userMayOwn ? userSid : nullptr), c.trusted)
            << SidText(owner) << " user may own: " << c.userMayOwn;
        ::LocalFree(owner);
    }
    EXPECT_FALSE(Pd::Core::IsTrustedOwner(nullptr, userSid));
    ::LocalFree(userSid);
}

} // namespace
