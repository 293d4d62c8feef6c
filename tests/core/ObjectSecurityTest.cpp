// The security of the host's and the window's named objects. Wine enforces no integrity levels,
// so the descriptor itself is checked: what the objects carry once created, ACE by ACE.
#include "core/ObjectSecurity.h"
#include "core/HostChanged.h"

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

// The interactive user may wait on and set the objects; SYSTEM and the administrators keep full
// access; nobody else is let in.
void ExpectSessionAccess(PSECURITY_DESCRIPTOR descriptor)
{
    std::map<std::wstring, DWORD> found = AcesOf(descriptor, false);
    // A created object may carry the generic rights mapped to its specific ones.
    for (auto& [sid, mask] : found)
        if (sid != L"S-1-5-4" && (mask & 0x001F0003) == 0x001F0003)
            mask = GENERIC_ALL;
    EXPECT_EQ(found, (std::map<std::wstring, DWORD>{{L"S-1-5-18", GENERIC_ALL},
                                                    {L"S-1-5-32-544", GENERIC_ALL},
                                                    {L"S-1-5-4", SYNCHRONIZE | EVENT_MODIFY_STATE}}));
}

// The DACL is checked on the objects created with the descriptor; the medium integrity label
// on the descriptor itself.
TEST(ObjectSecurity, CreatedObjectsLetTheInteractiveUserWaitAndSetAndTellWhetherTheyExisted)
{
    Pd::Core::SessionObjectSecurity security;
    ASSERT_NE(security.Attributes(), nullptr);
    EXPECT_FALSE(security.Attributes()->bInheritHandle);
    EXPECT_EQ(AcesOf(security.Attributes()->lpSecurityDescriptor, true),
              (std::map<std::wstring, DWORD>{{L"S-1-16-8192", SYSTEM_MANDATORY_LABEL_NO_WRITE_UP}}));

    std::wstring name = L"Local\\Peldra.Test.Security." + std::to_wstring(::GetCurrentProcessId());
    Pd::UniqueHandle changed = Pd::Core::CreateHostChangedEvent();
    Pd::UniqueHandle mutex = Pd::Core::CreateSessionMutex(name.c_str(), true);
    ASSERT_TRUE(changed && mutex);
    EXPECT_NE(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    Pd::UniqueHandle again = Pd::Core::CreateSessionMutex(name.c_str(), true);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS))
        << "kept past the descriptor's release";

    for (HANDLE object : {changed.Get(), mutex.Get()})
    {
        std::vector<BYTE> buffer(4096);
        DWORD needed = 0;
        ASSERT_TRUE(::GetKernelObjectSecurity(object, DACL_SECURITY_INFORMATION, buffer.data(),
                                              static_cast<DWORD>(buffer.size()), &needed));
        ExpectSessionAccess(buffer.data());
    }
    EXPECT_TRUE(Pd::Core::SignalHostChanged());
    EXPECT_EQ(::WaitForSingleObject(changed.Get(), 0), WAIT_OBJECT_0);
}

} // namespace
