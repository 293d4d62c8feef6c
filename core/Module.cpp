#include "core/Module.h"

#include <vector>

namespace Pd::Core
{

HMODULE ModuleHandle()
{
    static const HMODULE module = [] {
        HMODULE found = nullptr;
        ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                 GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                             reinterpret_cast<LPCWSTR>(&ModuleHandle), &found);
        return found;
    }();
    return module;
}

std::wstring ModulePath()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;)
    {
        DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        // The answer filled the whole buffer: it may have been cut.
        if (buffer.size() >= 0x100000)
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace Pd::Core
