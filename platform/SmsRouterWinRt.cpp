#include "platform/RealServices.h"
#include "platform/SmsRouter.h"
#include "platform/winrt/AbiSms.h"
#include "platform/winrt/Buffer.h"
#include "platform/winrt/Collections.h"
#include "platform/winrt/Events.h"
#include "platform/winrt/HString.h"
#include "platform/winrt/Runtime.h"

#include <memory>
#include <optional>

namespace Pd::Platform
{
namespace
{

using namespace WinRt;

// Reads one message the router handed us: its type, and the WAP fields for a WAP message.
Outcome<RoutedSmsMessage> ReadRouted(IInspectable* args)
{
    auto details = QueryAs<Abi::ISmsMessageReceivedTriggerDetails>(args);
    if (!details)
        return Failed(L"SmsMessageReceivedTriggerDetails", E_NOINTERFACE);
    RoutedSmsMessage message;
    std::int32_t type = 0;
    if (HRESULT hr = details->get_MessageType(&type); FAILED(hr))
        return Failed(L"SmsMessageReceivedTriggerDetails.MessageType", hr);
    message.type = static_cast<SmsMessageType>(type);
    if (message.type != SmsMessageType::Wap)
        return message;

    ComPtr<Abi::ISmsWapMessage> wap;
    if (HRESULT hr = details->get_WapMessage(wap.Put()); FAILED(hr) || !wap)
        return Failed(L"SmsMessageReceivedTriggerDetails.WapMessage", FAILED(hr) ? hr : E_POINTER);
    if (HRESULT hr = wap->get_Timestamp(&message.timestamp); FAILED(hr))
        return Failed(L"SmsWapMessage.Timestamp", hr);
    ComPtr<Abi::IBuffer> body;
    if (HRESULT hr = wap->get_BinaryBody(body.Put()); FAILED(hr) || !body)
        return Failed(L"SmsWapMessage.BinaryBody", FAILED(hr) ? hr : E_POINTER);
    auto bytes = BytesOf(body.Get());
    if (!bytes)
        return std::unexpected(bytes.error());
    message.body = std::move(*bytes);
    HString text;
    if (HRESULT hr = wap->get_ContentType(text.Put()); FAILED(hr))
        return Failed(L"SmsWapMessage.ContentType", hr);
    message.contentType = text.Text();
    if (HRESULT hr = wap->get_From(text.Put()); FAILED(hr))
        return Failed(L"SmsWapMessage.From", hr);
    message.from = text.Text();
    return message;
}

class WinRtRegistration final : public SmsRegistration
{
public:
    explicit WinRtRegistration(ComPtr<Abi::ISmsMessageRegistration> registration)
        : registration_(std::move(registration))
    {
    }

    Outcome<> Listen(RoutedSmsHandler handler)
    {
        auto subscription = Subscribe(
            Abi::Instances::MessageReceivedHandler.iid,
            [handler = std::move(handler)](IInspectable*, IInspectable* args) { handler(ReadRouted(args)); },
            [this](Abi::ITypedEventHandler* h, Abi::EventToken* token) {
                return registration_->add_MessageReceived(h, token);
            },
            [keep = registration_](Abi::EventToken token) { return keep->remove_MessageReceived(token); },
            L"SmsMessageRegistration.MessageReceived");
        if (!subscription)
            return std::unexpected(subscription.error());
        subscription_ = std::move(*subscription);
        return {};
    }

    Outcome<> Unregister() override
    {
        if (HRESULT hr = registration_->Unregister(); FAILED(hr))
            return Failed(L"SmsMessageRegistration.Unregister", hr);
        return {};
    }

private:
    ComPtr<Abi::ISmsMessageRegistration> registration_;
    EventSubscription subscription_; // last: removed, and its running calls waited for, first
};

// The rules of a registration that copies every WAP message and lets it go on to the others.
Outcome<ComPtr<Abi::ISmsFilterRules>> WapPeekRules()
{
    auto rulesFactory = Factory<Abi::ISmsFilterRulesFactory>(Abi::SmsFilterRulesClass);
    if (!rulesFactory)
        return std::unexpected(rulesFactory.error());
    ComPtr<Abi::ISmsFilterRules> rules;
    if (HRESULT hr = (*rulesFactory)->CreateFilterRules(Abi::FilterActionPeek, rules.Put());
        FAILED(hr) || !rules)
        return Failed(L"SmsFilterRules", FAILED(hr) ? hr : E_POINTER);
    auto ruleFactory = Factory<Abi::ISmsFilterRuleFactory>(Abi::SmsFilterRuleClass);
    if (!ruleFactory)
        return std::unexpected(ruleFactory.error());
    ComPtr<Abi::ISmsFilterRule> rule;
    if (HRESULT hr = (*ruleFactory)->CreateFilterRule(Abi::MessageTypeWap, rule.Put()); FAILED(hr) || !rule)
        return Failed(L"SmsFilterRule", FAILED(hr) ? hr : E_POINTER);
    ComPtr<Abi::ISmsFilterRuleVector> list;
    if (HRESULT hr = rules->get_Rules(list.Put()); FAILED(hr) || !list)
        return Failed(L"SmsFilterRules.Rules", FAILED(hr) ? hr : E_POINTER);
    if (HRESULT hr = list->Append(rule.Get()); FAILED(hr))
        return Failed(L"SmsFilterRules.Rules.Append", hr);
    return rules;
}

class WinRtRouter final : public SmsRouter
{
public:
    Outcome<std::size_t> UnregisterAll(std::wstring_view id) override
    {
        auto statics = Factory<Abi::ISmsMessageRegistrationStatics>(Abi::SmsMessageRegistrationClass);
        if (!statics)
            return std::unexpected(statics.error());
        ComPtr<Abi::IVectorView<Abi::ISmsMessageRegistration*>> all;
        if (HRESULT hr = (*statics)->get_AllRegistrations(all.Put()); FAILED(hr) || !all)
            return Failed(L"SmsMessageRegistration.AllRegistrations", FAILED(hr) ? hr : E_POINTER);
        std::size_t removed = 0;
        std::optional<Error> failure;
        auto walked = WalkVector<Abi::ISmsMessageRegistration*>(
            all.Get(),
            [&](ComPtr<Abi::ISmsMessageRegistration> registration) {
                if (failure || !registration)
                    return;
                HString name;
                if (HRESULT hr = registration->get_Id(name.Put()); FAILED(hr))
                    failure = Failed(L"SmsMessageRegistration.Id", hr).error();
                else if (name.Text() != id)
                    return;
                else if (HRESULT hr = registration->Unregister(); FAILED(hr))
                    failure = Failed(L"SmsMessageRegistration.Unregister", hr).error();
                else
                    ++removed;
            },
            L"SmsMessageRegistration.AllRegistrations");
        if (!walked)
            return std::unexpected(walked.error());
        if (failure)
            return std::unexpected(*failure);
        return removed;
    }

    Outcome<std::unique_ptr<SmsRegistration>> RegisterWapPeek(std::wstring_view id,
                                                              RoutedSmsHandler handler) override
    {
        auto rules = WapPeekRules();
        if (!rules)
            return std::unexpected(rules.error());
        auto statics = Factory<Abi::ISmsMessageRegistrationStatics>(Abi::SmsMessageRegistrationClass);
        if (!statics)
            return std::unexpected(statics.error());
        auto name = HString::Make(id);
        if (!name)
            return std::unexpected(name.error());
        ComPtr<Abi::ISmsMessageRegistration> registered;
        if (HRESULT hr = (*statics)->Register(name->Get(), rules->Get(), registered.Put());
            FAILED(hr) || !registered)
            return Failed(L"SmsMessageRegistration.Register", FAILED(hr) ? hr : E_POINTER);
        auto registration = std::make_unique<WinRtRegistration>(std::move(registered));
        if (auto listening = registration->Listen(std::move(handler)); !listening)
        {
            registration->Unregister(); // the router would keep a registration nobody listens to
            return std::unexpected(listening.error());
        }
        return registration;
    }
};

} // namespace

std::shared_ptr<SmsRouter> Real::SmsRouting()
{
    static const auto router = std::make_shared<WinRtRouter>();
    return router;
}

} // namespace Pd::Platform
