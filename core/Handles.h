// Owning wrappers: one template for every kind of handle, with its close function as a
// parameter, and a line per kind. A wrapper closes what it holds when it goes.
#pragma once

#include <windows.h>

#include <bcrypt.h>
#include <oleauto.h>

#include <cstdint>
#include <type_traits>
#include <utility>

namespace Pd
{

// Owns one value of type T that is released with Close; Invalid is the "holds nothing" value
// (0 for most handles, -1 for file handles and sockets).
template <typename T, auto Close, std::intptr_t Invalid = 0> class Unique
{
public:
    static T InvalidValue() noexcept
    {
        if constexpr (std::is_pointer_v<T>)
            return reinterpret_cast<T>(Invalid);
        else
            return static_cast<T>(Invalid);
    }

    Unique() noexcept = default;
    explicit Unique(T value) noexcept : value_(value) {}
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    Unique(Unique&& other) noexcept : value_(other.Release()) {}
    Unique& operator=(Unique&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    ~Unique() { Reset(); }

    T Get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != InvalidValue(); }

    // Gives up ownership without closing.
    [[nodiscard]] T Release() noexcept { return std::exchange(value_, InvalidValue()); }

    void Reset(T value = InvalidValue()) noexcept
    {
        T old = std::exchange(value_, value);
        if (old != InvalidValue())
            static_cast<void>(Close(old));
    }

    // For functions that return a new value through a pointer: closes the old one first.
    T* Put() noexcept
    {
        Reset();
        return &value_;
    }

private:
    T value_ = InvalidValue();
};

using UniqueHandle = Unique<HANDLE, &::CloseHandle>;   // events, mutexes, processes, threads
using UniqueFile = Unique<HANDLE, &::CloseHandle, -1>; // CreateFileW (INVALID_HANDLE_VALUE)
using UniqueFind = Unique<HANDLE, &::FindClose, -1>;   // FindFirstFileW
using UniqueRegKey = Unique<HKEY, &::RegCloseKey>;     // RegOpenKeyExW, RegCreateKeyExW
using UniqueLocal = Unique<HLOCAL, &::LocalFree>;      // LocalAlloc, FormatMessageW buffers
using UniqueModule = Unique<HMODULE, &::FreeLibrary>;  // LoadLibraryExW
using UniqueBstr = Unique<BSTR, &::SysFreeString>;     // SysAllocString
using UniqueGlobal = Unique<HGLOBAL, &::GlobalFree>;   // GlobalAlloc
using UniqueWindow = Unique<HWND, &::DestroyWindow>;   // CreateWindowExW, on the thread that made it
using UniqueView = Unique<void*, &::UnmapViewOfFile>;  // MapViewOfFile
using UniqueHook = Unique<HHOOK, &::UnhookWindowsHookEx>; // SetWindowsHookExW, on its own thread

inline NTSTATUS CloseAlgorithmProvider(BCRYPT_ALG_HANDLE provider) noexcept
{
    return ::BCryptCloseAlgorithmProvider(provider, 0);
}
using UniqueAlgorithm = Unique<BCRYPT_ALG_HANDLE, &CloseAlgorithmProvider>; // BCryptOpenAlgorithmProvider
using UniqueHash = Unique<BCRYPT_HASH_HANDLE, &::BCryptDestroyHash>;        // BCryptCreateHash

// Unregisters a thread-pool wait and waits for a callback that is running; never release a
// wait from inside its own callback.
inline BOOL UnregisterWaitAndDrain(HANDLE wait) noexcept
{
    return ::UnregisterWaitEx(wait, INVALID_HANDLE_VALUE);
}
using UniqueWait = Unique<HANDLE, &UnregisterWaitAndDrain>; // RegisterWaitForSingleObject

// Owns one reference to a COM interface.
template <typename I> class ComPtr
{
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    ComPtr(const ComPtr& other) noexcept : ptr_(other.ptr_) { AddRef(); }
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept
    {
        std::swap(ptr_, other.ptr_);
        return *this;
    }
    ~ComPtr() { Reset(); }

    // Takes over a reference the caller already owns.
    static ComPtr Attach(I* ptr) noexcept
    {
        ComPtr result;
        result.ptr_ = ptr;
        return result;
    }

    I* Get() const noexcept { return ptr_; }
    I* operator->() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }

    void Reset() noexcept
    {
        if (I* old = std::exchange(ptr_, nullptr))
            old->Release();
    }

    // For functions that return a new reference through an out parameter.
    I** Put() noexcept
    {
        Reset();
        return &ptr_;
    }
    void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }

    // QueryInterface into another wrapper; an empty result when the object lacks it.
    template <typename J> ComPtr<J> As() const noexcept
    {
        ComPtr<J> result;
        if (ptr_)
            ptr_->QueryInterface(__uuidof(J), result.PutVoid());
        return result;
    }

private:
    void AddRef() noexcept
    {
        if (ptr_)
            ptr_->AddRef();
    }

    I* ptr_ = nullptr;
};

} // namespace Pd
