// Test support for the host controls: the host's named objects as a running host holds them,
// and the per-user settings that a test changes.
#pragma once

#include "core/Handles.h"
#include "core/host/HostObjects.h"

#include <windows.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace Pd::Test
{

// Set by this test exe when it is started as "host --background".
inline constexpr const wchar_t* HostStartedEventName = L"Local\\Peldra.Test.HostStarted";

// The named objects of a host that runs in this session: its mutex and its Stop and Reload
// events. With `ownMutex`, a thread owns the mutex until Stop is set, then releases it (or,
// with `abandon`, ends without releasing it).
class HostObjects
{
public:
    explicit HostObjects(bool ownMutex = false, bool abandon = false)
    {
        stop_.Reset(::CreateEventW(nullptr, TRUE, FALSE, Host::StopEventName));
        reload_.Reset(::CreateEventW(nullptr, FALSE, FALSE, Host::ReloadEventName));
        if (!ownMutex)
        {
            mutex_.Reset(::CreateMutexW(nullptr, FALSE, Host::HostMutexName));
            return;
        }
        UniqueHandle ready(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        owner_ = std::thread([this, abandon, signal = ready.Get()] {
            UniqueHandle mutex(::CreateMutexW(nullptr, TRUE, Host::HostMutexName));
            mutex_.Reset(::OpenMutexW(SYNCHRONIZE, FALSE, Host::HostMutexName)); // keeps it for the checks
            ::SetEvent(signal);
            ::WaitForSingleObject(stop_.Get(), INFINITE);
            if (!abandon)
                ::ReleaseMutex(mutex.Get());
        }); // a thread that ends while it owns a mutex abandons it
        ::WaitForSingleObject(ready.Get(), INFINITE);
    }
    ~HostObjects()
    {
        if (owner_.joinable())
        {
            ::SetEvent(stop_.Get());
            owner_.join();
        }
    }
    HostObjects(const HostObjects&) = delete;
    HostObjects& operator=(const HostObjects&) = delete;

    bool StopSet() const { return ::WaitForSingleObject(stop_.Get(), 0) == WAIT_OBJECT_0; }

    // Whether another thread can take the host's mutex now: nobody holds it any more.
    bool MutexFree() const
    {
        DWORD result = WAIT_FAILED;
        std::thread([&] {
            result = ::WaitForSingleObject(mutex_.Get(), 0);
            if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED)
                ::ReleaseMutex(mutex_.Get());
        }).join();
        return result == WAIT_OBJECT_0;
    }
    bool ReloadSet() const { return ::WaitForSingleObject(reload_.Get(), 0) == WAIT_OBJECT_0; }
    bool WaitForReload(DWORD waitMs) const
    {
        return ::WaitForSingleObject(reload_.Get(), waitMs) == WAIT_OBJECT_0;
    }

private:
    UniqueHandle mutex_;
    UniqueHandle stop_;
    UniqueHandle reload_;
    std::thread owner_;
};

// Removes the named per-user values before and after a test (the test prefix is nobody's real
// settings).
class ClearedSettings
{
public:
    explicit ClearedSettings(std::vector<std::wstring> names) : names_(std::move(names)) { Clear(); }
    ~ClearedSettings() { Clear(); }
    ClearedSettings(const ClearedSettings&) = delete;
    ClearedSettings& operator=(const ClearedSettings&) = delete;

    static void SetDword(const wchar_t* name, DWORD value)
    {
        ::RegSetKeyValueW(HKEY_CURRENT_USER, Key, name, REG_DWORD, &value, sizeof(value));
    }
    static void SetText(const wchar_t* name, const wchar_t* value)
    {
        ::RegSetKeyValueW(HKEY_CURRENT_USER, Key, name, REG_SZ, value,
                          static_cast<DWORD>((std::wcslen(value) + 1) * sizeof(wchar_t)));
    }
    // The stored DWORD, or none when the value is missing.
    static std::optional<DWORD> Dword(const wchar_t* name)
    {
        DWORD value = 0;
        DWORD size = sizeof(value);
        if (::RegGetValueW(HKEY_CURRENT_USER, Key, name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
            ERROR_SUCCESS)
            return std::nullopt;
        return value;
    }

private:
    void Clear() const
    {
        for (const std::wstring& name : names_)
            ::RegDeleteKeyValueW(HKEY_CURRENT_USER, Key, name.c_str());
    }

    static constexpr const wchar_t* Key = L"Software\\Ormel\\Peldra";
    std::vector<std::wstring> names_;
};

} // namespace Pd::Test
