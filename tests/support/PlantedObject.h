// A named mutex or event that "another program" made first under one of Peldra's names: owned by
// the given account (Wine lets a test give an object any owner) and open to everyone.
#pragma once

#include "core/Handles.h"

#include <windows.h>

#include <sddl.h>

#include <string>

namespace PdTest
{

enum class Planted
{
    Mutex,
    Event,
};

// owner: a SID text or an SDDL alias ("BA" for the Administrators, as a run of Peldra makes it).
inline Pd::UniqueHandle PlantObject(const std::wstring& name, const std::wstring& owner, Planted kind)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW((L"O:" + owner + L"D:(A;;GA;;;WD)").c_str(),
                                                                SDDL_REVISION_1, &descriptor, nullptr))
        return {};
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    Pd::UniqueHandle object(kind == Planted::Mutex ? ::CreateMutexW(&attributes, FALSE, name.c_str())
                                                   : ::CreateEventW(&attributes, TRUE, FALSE, name.c_str()));
    ::LocalFree(descriptor);
    return object;
}

} // namespace PdTest
