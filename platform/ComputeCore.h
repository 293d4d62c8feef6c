// The Host Compute Service (computecore.dll): the few calls that list, open, watch and
// terminate compute systems. The methods mirror the service's own functions and contracts:
// result documents are freed with LocalFree, a system is closed with CloseComputeSystem,
// which also ends its event callback (so it is never called from inside that callback).
#pragma once

#include <windows.h>

#include <computecore.h>

#include <memory>

namespace Pd::Platform
{

class ComputeCore
{
public:
    virtual ~ComputeCore() = default;

    // An operation without context or completion callback; null on failure.
    virtual HCS_OPERATION CreateOperation() = 0;
    virtual void CloseOperation(HCS_OPERATION operation) = 0;
    virtual HRESULT WaitForOperationResult(HCS_OPERATION operation, DWORD timeoutMs,
                                           PWSTR* resultDocument) = 0;

    virtual HRESULT EnumerateComputeSystems(PCWSTR query, HCS_OPERATION operation) = 0;
    virtual HRESULT OpenComputeSystem(PCWSTR id, DWORD requestedAccess, HCS_SYSTEM* system) = 0;
    virtual HRESULT SetComputeSystemCallback(HCS_SYSTEM system, HCS_EVENT_OPTIONS options,
                                             const void* context, HCS_EVENT_CALLBACK callback) = 0;
    virtual HRESULT TerminateComputeSystem(HCS_SYSTEM system, HCS_OPERATION operation, PCWSTR options) = 0;
    virtual void CloseComputeSystem(HCS_SYSTEM system) = 0;
};

// The service to use: the simulator's when simulating, else the real one; null when the real
// one is unavailable (no computecore.dll, as under Wine, or a function missing from it).
// Use one returned object for the whole of an operation: handles belong to it.
std::shared_ptr<ComputeCore> ComputeService();

} // namespace Pd::Platform
