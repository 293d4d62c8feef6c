// The Android virtual machine among the Host Compute Service's compute systems: finding it,
// watching it end, and stopping it.
#pragma once

#include "platform/ComputeCore.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>

namespace Pd::Guest
{

struct AndroidVm
{
    GUID id{};
    std::string owner; // the listing's "Owner" as UTF-8, case unchanged
};

enum class VmStop : std::int32_t
{
    NotRunning = 0,
    ShutDown = 1,   // ended by itself after the shutdown hook
    Terminated = 2, // ended after the service terminated it
    Failed = 3,
};

// The service's listing of compute systems (a JSON array), or an empty text when the service
// cannot be asked or does not answer within 10 s.
std::wstring EnumerateComputeSystems();

// A running Android VM of any account, when the service lists one (the elevated host sees every
// account's VMs).
std::optional<AndroidVm> FindAndroidVm();

// The first entry of a listing that is a running "VirtualMachine" whose owner contains
// "android" in any case and whose id is a GUID; what FindAndroidVm applies to the listing.
std::optional<AndroidVm> SelectAndroidVm(std::wstring_view listing);

// Whose Android a VM is, as far as its owner text tells: one that names an account by its SID
// ("TovikAndroid S-1-5-21-...") is that account's.
enum class VmAccount
{
    ThisUser,
    OtherUser,
    Unknown, // the owner names no account, or this one and another
};

// What the owner text names, as a word of its own, compared with the user's SID text.
VmAccount AccountOfOwner(std::string_view owner, std::wstring_view userSid);

// The current user's running Android VM; when there is none, the Android VMs passed over and why,
// as one text for the log (empty when none runs at all).
struct OwnVmLookup
{
    std::optional<AndroidVm> vm;
    std::string passedOver;
};

// The first Android VM (as SelectAndroidVm qualifies them) whose owner names the user, else the
// only one whose owner names no account, while no other account is signed in to the PC (a VM of
// another account in the listing says that one is); VMs of other accounts are never served.
OwnVmLookup SelectOwnAndroidVm(std::wstring_view listing, std::wstring_view userSid,
                               bool anotherAccountSignedIn);

// SelectOwnAndroidVm for the service's listing, this process's user and the PC's sessions.
OwnVmLookup FindOwnAndroidVm();

// An open compute system with its exit watch; closing it (through the service it came from)
// also ends the watch's callback.
class ComputeSystem
{
public:
    ComputeSystem() = default;
    ComputeSystem(std::shared_ptr<Platform::ComputeCore> service, HCS_SYSTEM system) noexcept
        : service_(std::move(service)), system_(system)
    {
    }
    ComputeSystem(ComputeSystem&& other) noexcept
        : service_(std::move(other.service_)), system_(std::exchange(other.system_, nullptr))
    {
    }
    ComputeSystem& operator=(ComputeSystem&& other) noexcept
    {
        if (this != &other)
        {
            Reset();
            service_ = std::move(other.service_);
            system_ = std::exchange(other.system_, nullptr);
        }
        return *this;
    }
    ~ComputeSystem() { Reset(); }

    explicit operator bool() const noexcept { return system_ != nullptr; }
    HCS_SYSTEM Get() const noexcept { return system_; }
    Platform::ComputeCore& Service() const noexcept { return *service_; }

    void Reset() noexcept
    {
        if (system_ != nullptr)
            service_->CloseComputeSystem(std::exchange(system_, nullptr));
    }

private:
    std::shared_ptr<Platform::ComputeCore> service_;
    HCS_SYSTEM system_ = nullptr;
};

// Opens the compute system and has the service set `exitEvent` when it exits or the service
// goes away. An empty result when either step fails.
ComputeSystem OpenComputeSystem(const GUID& id, HANDLE exitEvent);

// How long StopAndroidVm waits: for the shutdown after the hook, for the service to take the
// termination, and for the end after it.
struct VmStopTimings
{
    DWORD shutdownMs = 30000;
    DWORD terminateMs = 15000;
    DWORD endAfterTerminateMs = 15000;
};

// Stops the current user's Android VM: calls the hook (which starts Android's own shutdown), waits
// for the end, and terminates the VM through the service when it does not end in time. The hook
// is not called when no VM of the user runs or the VM cannot be opened. Another account's VM is
// never stopped. A stop request ends the waits at once and leaves the VM to Android's own
// shutdown: the result is then Failed, unless the VM had ended.
VmStop StopAndroidVm(const std::function<void()>& shutdownHook, const VmStopTimings& timings = {},
                     std::stop_token stop = {});

} // namespace Pd::Guest
