#include "platform/UserConsent.h"

#include "platform/RealServices.h"
#include "platform/winrt/AbiConsent.h"
#include "platform/winrt/Async.h"
#include "platform/winrt/HString.h"
#include "platform/winrt/Runtime.h"

#include <mutex>

namespace Pd::Platform
{
namespace
{

using namespace WinRt;

const std::wstring VerificationStep = L"UserConsentVerifier.RequestVerificationAsync";

class WinRtConsentRequest final : public ConsentRequest
{
public:
    explicit WinRtConsentRequest(ComPtr<Abi::ConsentOperation> operation) : operation_(std::move(operation))
    {
    }

    void Cancel() override
    {
        if (auto info = QueryAs<Abi::IAsyncInfo>(operation_.Get()))
            info->Cancel();
    }

    void OnCompleted(std::function<void()> handler) override
    {
        std::lock_guard lock(mutex_);
        if (handler_)
            return; // set once
        handler_ =
            CompletionHandler::Make(Abi::Instances::VerificationCompletedHandler.iid, std::move(handler));
        if (handler_)
            operation_->put_Completed(handler_.Get());
    }

    ConsentStatus Status() override
    {
        Abi::AsyncStatus status = Abi::AsyncStatus::Error;
        auto info = QueryAs<Abi::IAsyncInfo>(operation_.Get());
        if (!info || FAILED(info->get_Status(&status)))
            return ConsentStatus::Error;
        return static_cast<ConsentStatus>(status);
    }

    Outcome<std::uint32_t> Result() override
    {
        const ConsentStatus status = Status();
        if (status == ConsentStatus::Started)
            return Failed(VerificationStep, IllegalMethodCall);
        if (auto ended = EndingOf(operation_.Get(), static_cast<Abi::AsyncStatus>(status), VerificationStep);
            !ended)
            return std::unexpected(ended.error());
        std::int32_t result = 0;
        if (HRESULT hr = operation_->GetResults(&result); FAILED(hr))
            return Failed(VerificationStep, hr);
        return static_cast<std::uint32_t>(result);
    }

private:
    ComPtr<Abi::ConsentOperation> operation_;
    std::mutex mutex_;
    ComPtr<CompletionHandler> handler_;
};

class WinRtVerifier final : public UserConsentVerifier
{
public:
    Outcome<std::uint32_t> CheckAvailability() override
    {
        const std::wstring step = L"UserConsentVerifier.CheckAvailabilityAsync";
        auto statics = Factory<Abi::IUserConsentVerifierStatics>(Abi::UserConsentVerifierClass);
        if (!statics)
            return std::unexpected(statics.error());
        ComPtr<Abi::ConsentOperation> operation;
        if (HRESULT hr = (*statics)->CheckAvailabilityAsync(operation.Put()); FAILED(hr) || !operation)
            return Failed(step, FAILED(hr) ? hr : E_POINTER);
        std::int32_t availability = 0;
        if (auto done = Await(operation.Get(), Abi::Instances::AvailabilityCompletedHandler.iid,
                              &availability, {}, step);
            !done)
            return std::unexpected(done.error());
        return static_cast<std::uint32_t>(availability);
    }

    Outcome<std::unique_ptr<ConsentRequest>> RequestVerification(HWND owner,
                                                                 const std::wstring& text) override
    {
        auto message = HString::Make(text);
        if (!message)
            return std::unexpected(message.error());
        ComPtr<Abi::ConsentOperation> operation;
        HRESULT hr = S_OK;
        if (owner)
        {
            auto interop = Factory<Abi::IUserConsentVerifierInterop>(Abi::UserConsentVerifierClass);
            if (!interop)
                return std::unexpected(interop.error());
            hr = (*interop)->RequestVerificationForWindowAsync(
                owner, message->Get(), Abi::Instances::VerificationOperation.iid, operation.PutVoid());
        }
        else
        {
            auto statics = Factory<Abi::IUserConsentVerifierStatics>(Abi::UserConsentVerifierClass);
            if (!statics)
                return std::unexpected(statics.error());
            hr = (*statics)->RequestVerificationAsync(message->Get(), operation.Put());
        }
        if (FAILED(hr) || !operation)
            return Failed(owner ? L"UserConsentVerifierInterop.RequestVerificationForWindowAsync"
                                : VerificationStep,
                          FAILED(hr) ? hr : E_POINTER);
        return std::make_unique<WinRtConsentRequest>(std::move(operation));
    }
};

} // namespace

std::shared_ptr<UserConsentVerifier> Real::UserConsent()
{
    static const auto verifier = std::make_shared<WinRtVerifier>();
    return verifier;
}

} // namespace Pd::Platform
