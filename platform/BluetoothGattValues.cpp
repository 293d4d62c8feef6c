// Values of the real LE device's characteristics and descriptors: reads, writes and the client
// configuration, each waited for with the caller's stop token; and the event registrations the
// device's objects own.
#include "platform/BluetoothGattWinRt.h"
#include "platform/RealServices.h"
#include "platform/winrt/Async.h"
#include "platform/winrt/Buffer.h"
#include "platform/winrt/Runtime.h"

namespace Pd::Platform::Real::Gatt
{
namespace
{

using namespace WinRt;

// Starts the operation and waits for its result object; a missing operation or result is a
// failure of `step`, not a success without value.
template <typename Result>
Outcome<ComPtr<Result>> Finish(const std::wstring& step, const Start<Abi::IAsyncOperation<Result*>>& start,
                               const GUID& handlerIid, std::stop_token stop)
{
    ComPtr<Abi::IAsyncOperation<Result*>> operation;
    if (HRESULT hr = start(operation.Put()); FAILED(hr) || !operation)
        return Failed(step, FAILED(hr) ? hr : E_POINTER);
    ComPtr<Result> result;
    if (auto ended = Await(operation.Get(), handlerIid, result.Put(), stop, step); !ended)
        return std::unexpected(ended.error());
    if (!result)
        return Failed(step, E_POINTER);
    return result;
}

// The device's ATT error byte, when Windows reports one.
Outcome<std::optional<std::uint8_t>> ProtocolErrorOf(Abi::IReferenceUInt8* reference,
                                                     const std::wstring& step)
{
    if (!reference)
        return std::optional<std::uint8_t>();
    std::uint8_t value = 0;
    if (HRESULT hr = reference->get_Value(&value); FAILED(hr))
        return Failed(step, hr);
    return std::optional<std::uint8_t>(value);
}

// Reads the protocol error through `get` (on the result or its second interface) when the
// status is ProtocolError; other statuses carry none.
template <typename Target>
Outcome<std::optional<std::uint8_t>> ProtocolError(GattStatus status, Target* target,
                                                   const std::wstring& step)
{
    if (status != GattStatus::ProtocolError)
        return std::optional<std::uint8_t>();
    if (!target)
        return std::optional<std::uint8_t>(); // an older Windows without the second interface
    ComPtr<Abi::IReferenceUInt8> reference;
    if (HRESULT hr = target->get_ProtocolError(reference.Put()); FAILED(hr))
        return Failed(step, hr);
    return ProtocolErrorOf(reference.Get(), step);
}

// The status of a finished `result`, with the protocol error read through `second`.
template <typename Answer, typename Result, typename Second>
Outcome<Answer> StatusOf(Result* result, Second* second, const std::wstring& step)
{
    std::int32_t status = 0;
    if (HRESULT hr = result->get_Status(&status); FAILED(hr))
        return Failed(step, hr);
    Answer answer;
    answer.status = static_cast<GattStatus>(status);
    auto error = ProtocolError(answer.status, second, step);
    if (!error)
        return std::unexpected(error.error());
    answer.protocolError = *error;
    return answer;
}

} // namespace

Outcome<GattReadResult> Read(const std::wstring& step, const Start<Abi::ReadOperation>& start,
                             std::stop_token stop)
{
    auto result = Finish<Abi::IGattReadResult>(step, start, Abi::Instances::ReadCompletedHandler.iid, stop);
    if (!result)
        return std::unexpected(result.error());
    auto read =
        StatusOf<GattReadResult>(result->Get(), QueryAs<Abi::IGattReadResult2>(result->Get()).Get(), step);
    if (!read || read->status != GattStatus::Success)
        return read;
    ComPtr<Abi::IBuffer> value;
    if (HRESULT hr = (*result)->get_Value(value.Put()); FAILED(hr))
        return Failed(step, hr);
    if (value) // Windows gives no buffer for an empty value
    {
        auto bytes = BytesOf(value.Get());
        if (!bytes)
            return std::unexpected(bytes.error());
        read->value = std::move(*bytes);
    }
    return read;
}

Outcome<GattWriteResult> Write(const std::wstring& step, const Start<Abi::WriteOperation>& start,
                               std::stop_token stop)
{
    auto result = Finish<Abi::IGattWriteResult>(step, start, Abi::Instances::WriteCompletedHandler.iid, stop);
    if (!result)
        return std::unexpected(result.error());
    return StatusOf<GattWriteResult>(result->Get(), result->Get(), step);
}

Outcome<GattConfigurationResult> ReadConfiguration(const std::wstring& step,
                                                   const Start<Abi::ConfigurationOperation>& start,
                                                   std::stop_token stop)
{
    using Result = Abi::IGattReadClientCharacteristicConfigurationDescriptorResult;
    auto result = Finish<Result>(step, start, Abi::Instances::ConfigurationCompletedHandler.iid, stop);
    if (!result)
        return std::unexpected(result.error());
    auto read = StatusOf<GattConfigurationResult>(
        result->Get(),
        QueryAs<Abi::IGattReadClientCharacteristicConfigurationDescriptorResult2>(result->Get()).Get(), step);
    if (!read || read->status != GattStatus::Success)
        return read;
    std::int32_t configuration = 0;
    if (HRESULT hr = (*result)->get_ClientCharacteristicConfigurationDescriptor(&configuration); FAILED(hr))
        return Failed(step, hr);
    read->configuration = static_cast<GattClientConfiguration>(configuration);
    return read;
}

Outcome<std::int64_t> Subscriptions::Keep(Outcome<EventSubscription> subscription)
{
    if (!subscription)
        return std::unexpected(subscription.error());
    const std::int64_t token = subscription->Token();
    std::lock_guard lock(mutex_);
    owned_[token] = std::move(*subscription);
    return token;
}

void Subscriptions::Remove(std::int64_t token)
{
    EventSubscription removed;
    {
        std::lock_guard lock(mutex_);
        auto found = owned_.find(token);
        if (found == owned_.end())
            return;
        removed = std::move(found->second);
        owned_.erase(found);
    }
    // Reset outside the lock: it waits for a callback that may itself be removing another one.
    removed.Reset();
}

} // namespace Pd::Platform::Real::Gatt
