// The delay-load helper of Peldra.exe. The system DLLs that Windows would otherwise look for
// beside the exe first (the folder it was started from, Downloads say) are delay-loaded: the first
// call of one of their functions comes here through the import library's thunk, and the DLL is
// loaded from System32 alone, whatever the process's DLL directories are at that moment (a static
// constructor may get here before wWinMain sets them). A DLL or function that is not there ends
// the process with a text that names it, instead of a jump to nowhere.
#include "cli/DelayLoad.h"

#include "cli/ExitCode.h"
#include "core/ErrorText.h"
#include "core/Strings.h"
#include "core/Text.h"
#include "pd/DelayLoadedDlls.h"

#include <windows.h>

#include <delayimp.h>

#include <atomic>
#include <string>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace
{

template <typename T> T* AtRva(RVA rva)
{
    return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(&__ImageBase) + rva);
}

bool IsUsable(HANDLE handle)
{
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// Ends the process with the text on standard error, or in a message box when it has none (the
// window, the host started at logon). Reached again while the text is made (its own code needing
// a DLL that failed), it ends at once.
[[noreturn]] void Fail(const std::wstring& dll, const std::wstring& function, DWORD error) noexcept
{
    constexpr UINT code = static_cast<UINT>(Pd::Cli::ExitCode::Unavailable);
    static std::atomic<bool> failing{false};
    if (failing.exchange(true))
        ::ExitProcess(code);
    try
    {
        std::wstring step = function.empty()
                                ? Pd::Core::FormatText(Pd::TextId::SystemDllNotLoaded, dll)
                                : Pd::Core::FormatText(Pd::TextId::SystemDllFunctionMissing, function, dll);
        std::wstring text = Pd::Core::ErrorText(step, error);
        HANDLE errors = ::GetStdHandle(STD_ERROR_HANDLE);
        std::string bytes = Pd::Core::ToUtf8(text + L"\r\n");
        DWORD written = 0;
        if (!IsUsable(errors) ||
            !::WriteFile(errors, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
            ::MessageBoxW(nullptr, text.c_str(), L"Peldra", MB_ICONERROR);
    }
    catch (...)
    {
        // Out of memory: the exit code alone must do.
    }
    ::ExitProcess(code);
}

std::wstring Widened(const char* name)
{
    std::wstring result;
    for (; *name != '\0' && result.size() < MAX_PATH; ++name)
        result += static_cast<wchar_t>(static_cast<unsigned char>(*name));
    return result;
}

} // namespace

void Pd::Cli::LoadDelayLoadedDlls()
{
    // Never freed: the modules stay loaded for the process, as static imports would.
    for (const wchar_t* dll : DelayLoadedDlls)
        ::LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// Called by every thunk of a delay-import library with the DLL's descriptor and the import
// address slot of the function called; returns the function, which the thunk then jumps to.
// Threads may race here: each stores the same address, and a second handle of the DLL is released.
extern "C" FARPROC WINAPI __delayLoadHelper2(PCImgDelayDescr descriptor, FARPROC* slot)
{
    if ((descriptor->grAttrs & dlattrRva) == 0)
        Fail(L"?", {}, ERROR_BAD_EXE_FORMAT);
    const auto* dllName = AtRva<const char>(descriptor->rvaDLLName);
    std::wstring dll = Widened(dllName);
    auto* moduleSlot = AtRva<HMODULE>(descriptor->rvaHmod);

    auto module = static_cast<HMODULE>(
        ::InterlockedCompareExchangePointer(reinterpret_cast<void**>(moduleSlot), nullptr, nullptr));
    if (module == nullptr)
    {
        HMODULE loaded = ::LoadLibraryExW(dll.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (loaded == nullptr)
        {
            DWORD error = ::GetLastError();
            Fail(dll, {}, error);
        }
        module = static_cast<HMODULE>(
            ::InterlockedCompareExchangePointer(reinterpret_cast<void**>(moduleSlot), loaded, nullptr));
        if (module != nullptr)
            ::FreeLibrary(loaded);
        else
            module = loaded;
    }

    // The slot's index in the address table is the entry's index in the name table.
    auto index = static_cast<std::size_t>(slot - AtRva<FARPROC>(descriptor->rvaIAT));
    const IMAGE_THUNK_DATA& entry = AtRva<const IMAGE_THUNK_DATA>(descriptor->rvaINT)[index];
    FARPROC function = nullptr;
    if (IMAGE_SNAP_BY_ORDINAL(entry.u1.Ordinal))
    {
        WORD ordinal = IMAGE_ORDINAL(entry.u1.Ordinal);
        function = ::GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
        if (function == nullptr)
        {
            DWORD error = ::GetLastError();
            Fail(dll, L"#" + std::to_wstring(ordinal), error);
        }
    }
    else
    {
        const auto* byName = AtRva<const IMAGE_IMPORT_BY_NAME>(static_cast<RVA>(entry.u1.AddressOfData));
        function = ::GetProcAddress(module, byName->Name);
        if (function == nullptr)
        {
            DWORD error = ::GetLastError();
            Fail(dll, Widened(byName->Name), error);
        }
    }
    ::InterlockedExchangePointer(reinterpret_cast<void**>(slot), reinterpret_cast<void*>(function));
    return function;
}
