// What our ABI declarations claim, as data: each interface's id and the vtable slot of each
// declared method as the compiler laid it out, and each parameterized instance's signature and
// computed id. The platform tests compare it with the published ABI facts.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace Pd::Platform::WinRt
{

struct DeclaredSlot
{
    std::string_view method; // ABI name: get_X, put_X, add_X, remove_X or the method's own
    int slot;
};

struct DeclaredInterface
{
    std::string_view name; // as the ABI facts name it; generic definitions without arguments
    const GUID* iid;       // none for a generic definition
    std::vector<DeclaredSlot> slots;
};

struct DeclaredInstance
{
    std::string_view name; // e.g. "IIterable<String>"
    std::string_view signature;
    GUID iid;
};

const std::vector<DeclaredInterface>& DeclaredInterfaces();
const std::vector<DeclaredInstance>& DeclaredInstances();

// The vtable slot of a virtual member function (the Itanium C++ ABI GCC uses stores one more
// than the byte offset into the vtable); -1 for a non-virtual one.
template <typename Member> int SlotOf(Member member)
{
    struct
    {
        std::uintptr_t pointer;
        std::ptrdiff_t adjustment;
    } raw;
    static_assert(sizeof(member) == sizeof(raw));
    std::memcpy(&raw, &member, sizeof(raw));
    if ((raw.pointer & 1) == 0)
        return -1;
    return static_cast<int>((raw.pointer - 1) / sizeof(void*));
}

} // namespace Pd::Platform::WinRt
