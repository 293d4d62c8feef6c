#include "guest/AndroidVm.h"

#include "guest/SignedInAccounts.h"

#include "core/Elevation.h"
#include "core/Handles.h"
#include "core/Json.h"
#include "core/LogEscape.h"
#include "core/SetEventOnStop.h"
#include "core/Strings.h"
#include "platform/Guid.h"

#include <fmt/format.h>

#include <algorithm>
#include <vector>

namespace Pd::Guest
{
namespace
{

constexpr DWORD EnumerationTimeoutMs = 10000;

// Owns an operation of the service.
class Operation
{
public:
    explicit Operation(Platform::ComputeCore& service) : service_(service), handle_(service.CreateOperation())
    {
    }
    ~Operation()
    {
        if (handle_ != nullptr)
            service_.CloseOperation(handle_);
    }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    explicit operator bool() const noexcept { return handle_ != nullptr; }
    HCS_OPERATION Get() const noexcept { return handle_; }

    // Waits for the result; a result document is freed here.
    HRESULT Wait(DWORD timeoutMs, std::wstring* document = nullptr)
    {
        PWSTR raw = nullptr;
        HRESULT hr = service_.WaitForOperationResult(handle_, timeoutMs, &raw);
        UniqueLocal owner(raw);
        if (document != nullptr && raw != nullptr)
            *document = raw;
        return hr;
    }

private:
    Platform::ComputeCore& service_;
    HCS_OPERATION handle_;
};

void CALLBACK OnComputeSystemEvent(HCS_EVENT* event, void* context)
{
    if (event != nullptr && (event->Type == HcsEventSystemExited || event->Type == HcsEventServiceDisconnect))
        ::SetEvent(static_cast<HANDLE>(context));
}

bool Qualifies(const Json::Value& entry)
{
    std::wstring state = entry.TextOr(L"State", L"");
    return Core::ToLower(entry.TextOr(L"Owner", L"")).find(L"android") != std::wstring::npos &&
           entry.TextOr(L"SystemType", L"") == L"VirtualMachine" && (state.empty() || state == L"Running");
}

// Every entry of a listing that qualifies as an Android VM, in the listing's order.
std::vector<AndroidVm> AndroidVms(std::wstring_view listing)
{
    // Through UTF-8 and back, without a byte-order mark, as the listing would be read from a file.
    std::string bytes = Core::ToUtf8(listing);
    std::string_view withoutMark = bytes;
    if (withoutMark.starts_with("\xEF\xBB\xBF"))
        withoutMark.remove_prefix(3);
    std::wstring text = Core::FromUtf8(withoutMark);
    std::vector<AndroidVm> vms;
    auto document = Json::Parser(text).Parse();
    if (!document)
        return vms;
    for (const Json::Value& entry : document->Items())
    {
        if (!Qualifies(entry))
            continue;
        std::optional<GUID> id = Platform::ParseGuid(L"{" + entry.TextOr(L"Id", L"") + L"}");
        if (id)
            vms.push_back(AndroidVm{*id, Core::ToUtf8(entry.TextOr(L"Owner", L""))});
    }
    return vms;
}

bool IsSidCharacter(char c)
{
    return (c >= '0' && c <= '9') || c == '-' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool StartsSid(std::string_view text)
{
    return text.size() > 4 && (text[0] == 'S' || text[0] == 's') && text.substr(1, 3) == "-1-" &&
           text[4] >= '0' && text[4] <= '9';
}

bool IsSet(HANDLE event)
{
    return ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

// Whether the VM has gone: its exit was reported, or the service no longer lists it.
bool HasEnded(const AndroidVm& vm, HANDLE exitEvent)
{
    if (IsSet(exitEvent))
        return true;
    std::optional<AndroidVm> now = FindOwnAndroidVm().vm;
    return !now || now->id != vm.id;
}

} // namespace

std::wstring EnumerateComputeSystems()
{
    std::shared_ptr<Platform::ComputeCore> service = Platform::ComputeService();
    if (!service)
        return {};
    Operation operation(*service);
    if (!operation)
        return {};
    std::wstring document;
    if (FAILED(service->EnumerateComputeSystems(nullptr, operation.Get())) ||
        FAILED(operation.Wait(EnumerationTimeoutMs, &document)))
        return {};
    return document;
}

std::optional<AndroidVm> SelectAndroidVm(std::wstring_view listing)
{
    std::vector<AndroidVm> vms = AndroidVms(listing);
    if (vms.empty())
        return std::nullopt;
    return vms.front();
}

std::optional<AndroidVm> FindAndroidVm()
{
    std::wstring listing = EnumerateComputeSystems();
    if (listing.empty())
        return std::nullopt;
    return SelectAndroidVm(listing);
}

VmAccount AccountOfOwner(std::string_view owner, std::wstring_view userSid)
{
    bool thisUser = false;
    bool otherUser = false;
    for (std::size_t at = 0; at < owner.size(); ++at)
    {
        if (!StartsSid(owner.substr(at)) || (at > 0 && IsSidCharacter(owner[at - 1])))
            continue;
        std::size_t end = at + 2;
        while (end < owner.size() && IsSidCharacter(owner[end]))
            ++end;
        const std::wstring sid = Core::FromUtf8(owner.substr(at, end - at));
        (Core::EqualsIgnoringCase(sid, userSid) ? thisUser : otherUser) = true;
        at = end;
    }
    if (thisUser == otherUser)
        return VmAccount::Unknown;
    return thisUser ? VmAccount::ThisUser : VmAccount::OtherUser;
}

OwnVmLookup SelectOwnAndroidVm(std::wstring_view listing, std::wstring_view userSid,
                               bool anotherAccountSignedIn)
{
    std::vector<AndroidVm> vms = AndroidVms(listing);
    std::vector<VmAccount> accounts;
    for (const AndroidVm& vm : vms)
        accounts.push_back(userSid.empty() ? VmAccount::Unknown : AccountOfOwner(vm.owner, userSid));
    OwnVmLookup lookup;
    for (std::size_t at = 0; at < vms.size(); ++at)
        if (accounts[at] == VmAccount::ThisUser)
        {
            lookup.vm = std::move(vms[at]);
            return lookup;
        }
    // An owner that names no account is this user's only when no other account could run a VM.
    const bool othersRun = anotherAccountSignedIn || userSid.empty() ||
                           std::ranges::count(accounts, VmAccount::OtherUser) > 0 ||
                           std::ranges::count(accounts, VmAccount::Unknown) > 1;
    for (std::size_t at = 0; at < vms.size(); ++at)
    {
        if (accounts[at] == VmAccount::Unknown && !othersRun)
        {
            lookup.vm = std::move(vms[at]);
            lookup.passedOver.clear();
            return lookup;
        }
        if (!lookup.passedOver.empty())
            lookup.passedOver += "; ";
        lookup.passedOver +=
            fmt::format("Android VM {} (owner {}) {}", Core::ToUtf8(Platform::GuidText(vms[at].id, true)),
                        Core::EscapeForLog(vms[at].owner),
                        accounts[at] == VmAccount::OtherUser ? "belongs to another account"
                                                             : "names no account of its own");
    }
    return lookup;
}

OwnVmLookup FindOwnAndroidVm()
{
    std::wstring listing = EnumerateComputeSystems();
    if (listing.empty())
        return {};
    return SelectOwnAndroidVm(listing, Core::ProcessUserSid(), AnotherAccountSignedIn());
}

ComputeSystem OpenComputeSystem(const GUID& id, HANDLE exitEvent)
{
    std::shared_ptr<Platform::ComputeCore> service = Platform::ComputeService();
    if (!service)
        return {};
    HCS_SYSTEM raw = nullptr;
    if (FAILED(service->OpenComputeSystem(Platform::GuidText(id, false).c_str(), GENERIC_ALL, &raw)) ||
        raw == nullptr)
        return {};
    ComputeSystem system(service, raw);
    if (FAILED(service->SetComputeSystemCallback(raw, HcsEventOptionNone, exitEvent, &OnComputeSystemEvent)))
        return {};
    return system;
}

VmStop StopAndroidVm(const std::function<void()>& shutdownHook, const VmStopTimings& timings,
                     std::stop_token stop)
{
    std::optional<AndroidVm> vm = FindOwnAndroidVm().vm;
    if (!vm)
        return VmStop::NotRunning;
    UniqueHandle exited(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!exited)
        return VmStop::Failed;
    ComputeSystem system = OpenComputeSystem(vm->id, exited.Get());
    if (!system)
        return VmStop::Failed;

    if (shutdownHook)
        shutdownHook();
    if (Core::WaitUnlessStopped(exited.Get(), timings.shutdownMs, stop))
        return VmStop::ShutDown;
    if (stop.stop_requested())
        return VmStop::Failed;

    Operation terminate(system.Service());
    if (!terminate)
        return VmStop::Failed;
    HRESULT hr = system.Service().TerminateComputeSystem(system.Get(), terminate.Get(), nullptr);
    if (SUCCEEDED(hr))
        hr = terminate.Wait(timings.terminateMs);
    if (FAILED(hr))
    {
        // A VM that ended on its own just as the termination was asked for is not a failure.
        return HasEnded(*vm, exited.Get()) ? VmStop::ShutDown : VmStop::Failed;
    }
    return Core::WaitUnlessStopped(exited.Get(), timings.endAfterTerminateMs, stop) ? VmStop::Terminated
                                                                                    : VmStop::Failed;
}

} // namespace Pd::Guest
