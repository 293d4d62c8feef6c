#include "platform/ComputeCore.h"

#include "platform/RealServices.h"

namespace Pd::Platform
{
namespace
{

// The real service, its functions found by name in computecore.dll from the system folder.
// The DLL stays loaded for the life of the process: the service may still run a callback.
class RealComputeCore final : public ComputeCore
{
public:
    static std::shared_ptr<RealComputeCore> Load()
    {
        HMODULE dll = ::LoadLibraryExW(L"computecore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (dll == nullptr)
            return nullptr;
        auto core = std::make_shared<RealComputeCore>();
        bool complete = Find(dll, "HcsCreateOperation", core->createOperation_) &&
                        Find(dll, "HcsCloseOperation", core->closeOperation_) &&
                        Find(dll, "HcsWaitForOperationResult", core->waitForOperationResult_) &&
                        Find(dll, "HcsEnumerateComputeSystems", core->enumerateComputeSystems_) &&
                        Find(dll, "HcsOpenComputeSystem", core->openComputeSystem_) &&
                        Find(dll, "HcsSetComputeSystemCallback", core->setComputeSystemCallback_) &&
                        Find(dll, "HcsTerminateComputeSystem", core->terminateComputeSystem_) &&
                        Find(dll, "HcsCloseComputeSystem", core->closeComputeSystem_);
        if (!complete)
        {
            ::FreeLibrary(dll);
            return nullptr;
        }
        return core;
    }

    HCS_OPERATION CreateOperation() override { return createOperation_(nullptr, nullptr); }
    void CloseOperation(HCS_OPERATION operation) override { closeOperation_(operation); }
    HRESULT WaitForOperationResult(HCS_OPERATION operation, DWORD timeoutMs, PWSTR* resultDocument) override
    {
        return waitForOperationResult_(operation, timeoutMs, resultDocument);
    }
    HRESULT EnumerateComputeSystems(PCWSTR query, HCS_OPERATION operation) override
    {
        return enumerateComputeSystems_(query, operation);
    }
    HRESULT OpenComputeSystem(PCWSTR id, DWORD requestedAccess, HCS_SYSTEM* system) override
    {
        return openComputeSystem_(id, requestedAccess, system);
    }
    HRESULT SetComputeSystemCallback(HCS_SYSTEM system, HCS_EVENT_OPTIONS options, const void* context,
                                     HCS_EVENT_CALLBACK callback) override
    {
        return setComputeSystemCallback_(system, options, context, callback);
    }
    HRESULT TerminateComputeSystem(HCS_SYSTEM system, HCS_OPERATION operation, PCWSTR options) override
    {
        return terminateComputeSystem_(system, operation, options);
    }
    void CloseComputeSystem(HCS_SYSTEM system) override { closeComputeSystem_(system); }

private:
    template <typename F> static bool Find(HMODULE dll, const char* name, F& function)
    {
        function = reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(dll, name)));
        return function != nullptr;
    }

    decltype(&::HcsCreateOperation) createOperation_ = nullptr;
    decltype(&::HcsCloseOperation) closeOperation_ = nullptr;
    decltype(&::HcsWaitForOperationResult) waitForOperationResult_ = nullptr;
    decltype(&::HcsEnumerateComputeSystems) enumerateComputeSystems_ = nullptr;
    decltype(&::HcsOpenComputeSystem) openComputeSystem_ = nullptr;
    decltype(&::HcsSetComputeSystemCallback) setComputeSystemCallback_ = nullptr;
    decltype(&::HcsTerminateComputeSystem) terminateComputeSystem_ = nullptr;
    decltype(&::HcsCloseComputeSystem) closeComputeSystem_ = nullptr;
};

} // namespace

std::shared_ptr<ComputeCore> Real::ComputeService()
{
    static const std::shared_ptr<RealComputeCore> real = RealComputeCore::Load();
    return real;
}

} // namespace Pd::Platform
