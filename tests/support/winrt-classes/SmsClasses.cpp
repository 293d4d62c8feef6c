// Windows' SMS router, as the test scripts it:
//   PD_TEST_SMS_REGISTRATIONS  the router's registrations by id, ';'-separated; Register adds
//                              one, Unregister removes one (the list outlives every object)
//   PD_TEST_SMS_FAIL           "<call> <hex>": that call fails with the code (AllRegistrations,
//                              Unregister, Register, Rules, MessageReceived)
//   PD_TEST_SMS_MESSAGES       "type|from|contentType|timestamp|body hex;...", fired over and over
//                              from another thread while a handler is added; type "fail" makes
//                              reading MessageType fail
#include "platform/winrt/AbiSms.h"
#include "tests/support/winrt-classes/EventHandlers.h"
#include "tests/support/winrt-classes/Scripting.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <new>
#include <sstream>
#include <thread>

namespace Pd::TestClasses
{
namespace
{

HRESULT ScriptedFailure(const wchar_t* call)
{
    std::wistringstream words(Script(L"PD_TEST_SMS_FAIL"));
    std::wstring name, code;
    words >> name >> code;
    return name == call ? static_cast<HRESULT>(std::wcstoul(code.c_str(), nullptr, 16)) : S_OK;
}

std::mutex g_routerMutex; // guards PD_TEST_SMS_REGISTRATIONS

std::vector<std::wstring> Registered()
{
    return Split(Script(L"PD_TEST_SMS_REGISTRATIONS"), L';');
}

void SetRegistered(const std::vector<std::wstring>& ids)
{
    std::wstring list;
    for (const std::wstring& id : ids)
        list += (list.empty() ? L"" : L";") + id;
    ::SetEnvironmentVariableW(L"PD_TEST_SMS_REGISTRATIONS", list.c_str());
}

class FilterRule final : public Inspectable<Abi::ISmsFilterRule>
{
public:
    explicit FilterRule(std::int32_t type) : type_(type) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::ISmsFilterRule::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_MessageType(std::int32_t* v) override { return *v = type_, S_OK; }
    std::int32_t type_;
};

using RuleTypes = std::shared_ptr<std::vector<std::int32_t>>;

class RuleVector final : public Inspectable<Abi::ISmsFilterRuleVector>
{
public:
    explicit RuleVector(RuleTypes types) : types_(std::move(types)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::Instances::FilterRuleVector.iid, out);
    }
    HRESULT STDMETHODCALLTYPE GetAt(std::uint32_t index, Abi::ISmsFilterRule** item) override
    {
        if (index >= types_->size())
            return *item = nullptr, static_cast<HRESULT>(0x8000000BL); // E_BOUNDS
        return *item = new FilterRule((*types_)[index]), S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Size(std::uint32_t* v) override
    {
        return *v = static_cast<std::uint32_t>(types_->size()), S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetView(IInspectable** v) override { return *v = nullptr, E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IndexOf(Abi::ISmsFilterRule*, std::uint32_t*, Abi::Boolean*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetAt(std::uint32_t, Abi::ISmsFilterRule*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InsertAt(std::uint32_t, Abi::ISmsFilterRule*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveAt(std::uint32_t) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Append(Abi::ISmsFilterRule* rule) override
    {
        std::int32_t type = -1;
        if (!rule || FAILED(rule->get_MessageType(&type)))
            return E_INVALIDARG;
        types_->push_back(type);
        return S_OK;
    }
    RuleTypes types_;
};

class FilterRules final : public Inspectable<Abi::ISmsFilterRules>
{
public:
    explicit FilterRules(std::int32_t action) : action_(action) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::ISmsFilterRules::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_ActionType(std::int32_t* v) override { return *v = action_, S_OK; }
    HRESULT STDMETHODCALLTYPE get_Rules(Abi::ISmsFilterRuleVector** v) override
    {
        *v = nullptr;
        if (HRESULT hr = ScriptedFailure(L"Rules"); FAILED(hr))
            return hr;
        return *v = new RuleVector(types_), S_OK;
    }
    std::int32_t action_;
    RuleTypes types_ = std::make_shared<std::vector<std::int32_t>>();
};

struct MessageFacts
{
    std::wstring type, from, contentType;
    std::int64_t timestamp = 0;
    std::vector<std::uint8_t> body;
};

class WapMessage final : public Inspectable<Abi::ISmsWapMessage>
{
public:
    explicit WapMessage(MessageFacts facts) : facts_(std::move(facts)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::ISmsWapMessage::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_Timestamp(std::int64_t* v) override { return *v = facts_.timestamp, S_OK; }
    HRESULT STDMETHODCALLTYPE get_To(HSTRING* v) override { return *v = nullptr, S_OK; }
    HRESULT STDMETHODCALLTYPE get_From(HSTRING* v) override { return *v = MakeString(facts_.from), S_OK; }
    HRESULT STDMETHODCALLTYPE get_ApplicationId(HSTRING* v) override { return *v = nullptr, S_OK; }
    HRESULT STDMETHODCALLTYPE get_ContentType(HSTRING* v) override
    {
        return *v = MakeString(facts_.contentType), S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_BinaryBody(Abi::IBuffer** v) override
    {
        return *v = MakeByteBuffer(facts_.body), S_OK;
    }
    MessageFacts facts_;
};

class TriggerDetails final : public Inspectable<Abi::ISmsMessageReceivedTriggerDetails>
{
public:
    explicit TriggerDetails(MessageFacts facts) : facts_(std::move(facts)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::ISmsMessageReceivedTriggerDetails::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_MessageType(std::int32_t* v) override
    {
        if (facts_.type == L"fail")
            return *v = 0, HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
        return *v = std::wcstol(facts_.type.c_str(), nullptr, 10), S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_TextMessage(IInspectable** v) override { return *v = nullptr, E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_WapMessage(Abi::ISmsWapMessage** v) override
    {
        *v = facts_.type == L"2" ? new WapMessage(facts_) : nullptr;
        return S_OK;
    }
    MessageFacts facts_;
};

std::vector<MessageFacts> ScriptedMessages()
{
    std::vector<MessageFacts> messages;
    for (const std::wstring& entry : Split(Script(L"PD_TEST_SMS_MESSAGES"), L';'))
    {
        std::vector<std::wstring> f = Split(entry, L'|');
        if (f.size() == 4)
            f.emplace_back(); // no body
        if (f.size() == 5)
            messages.push_back({f[0], f[1], f[2], std::wcstoll(f[3].c_str(), nullptr, 10), Bytes(f[4])});
    }
    return messages;
}

class Registration final : public Inspectable<Abi::ISmsMessageRegistration>
{
public:
    explicit Registration(std::wstring id) : id_(std::move(id)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::ISmsMessageRegistration::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_Id(HSTRING* v) override { return *v = MakeString(id_), S_OK; }
    HRESULT STDMETHODCALLTYPE Unregister() override
    {
        Note(L"Unregister " + id_);
        if (HRESULT hr = ScriptedFailure(L"Unregister"); FAILED(hr))
            return hr;
        std::lock_guard lock(g_routerMutex);
        std::vector<std::wstring> ids = Registered();
        if (auto at = std::ranges::find(ids, id_); at != ids.end())
            ids.erase(at);
        SetRegistered(ids);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE add_MessageReceived(Abi::ITypedEventHandler* handler,
                                                  Abi::EventToken* token) override
    {
        if (HRESULT hr = ScriptedFailure(L"MessageReceived"); FAILED(hr))
            return hr;
        return handlers_.Add(handler, token, [this](Abi::EventToken added) {
            Note(L"AddMessageReceived " + std::to_wstring(added));
            if (!firing_ && !ScriptedMessages().empty())
            {
                firing_ = true;
                AddRef(); // the firing thread's, released when it ends
                std::thread([this] { Fire(); }).detach();
            }
        });
    }
    HRESULT STDMETHODCALLTYPE remove_MessageReceived(Abi::EventToken token) override
    {
        return handlers_.Remove(token);
    }

private:
    // Hands every scripted message to every handler, again and again, until none is left; a handler
    // removed meanwhile may still get the message in hand, as Windows' own may.
    void Fire()
    {
        const std::vector<MessageFacts> messages = ScriptedMessages();
        for (bool more = true; more;)
            for (const MessageFacts& message : messages)
            {
                std::vector<Abi::ITypedEventHandler*> handlers =
                    handlers_.Current([&] { firing_ = more = false; });
                if (handlers.empty())
                    break;
                auto* args = new TriggerDetails(message);
                EventHandlers::Invoke(handlers, this, args);
                args->Release();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        Note(L"MessageReceived ends"); // every call it made has returned
        Release();
    }

    std::wstring id_;
    EventHandlers handlers_{L"MessageReceived", Abi::Instances::MessageReceivedHandler.iid};
    bool firing_ = false;
};

class SmsFactory final : public Inspectable<IActivationFactory>,
                         public Abi::ISmsMessageRegistrationStatics,
                         public Abi::ISmsFilterRulesFactory,
                         public Abi::ISmsFilterRuleFactory
{
public:
    explicit SmsFactory(std::wstring className) : class_(std::move(className)) {}
    PD_TEST_FORWARD_INSPECTABLE(IActivationFactory)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        if (class_ == Abi::SmsMessageRegistrationClass && asked == Abi::ISmsMessageRegistrationStatics::Iid)
            *out = static_cast<Abi::ISmsMessageRegistrationStatics*>(this);
        else if (class_ == Abi::SmsFilterRulesClass && asked == Abi::ISmsFilterRulesFactory::Iid)
            *out = static_cast<Abi::ISmsFilterRulesFactory*>(this);
        else if (class_ == Abi::SmsFilterRuleClass && asked == Abi::ISmsFilterRuleFactory::Iid)
            *out = static_cast<Abi::ISmsFilterRuleFactory*>(this);
        else
            return Answer(asked, Abi::IidActivationFactory, out);
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** v) override { return *v = nullptr, E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE
    get_AllRegistrations(Abi::IVectorView<Abi::ISmsMessageRegistration*>** value) override
    {
        *value = nullptr;
        if (HRESULT hr = ScriptedFailure(L"AllRegistrations"); FAILED(hr))
            return hr;
        std::vector<Abi::ISmsMessageRegistration*> items;
        {
            std::lock_guard lock(g_routerMutex);
            for (const std::wstring& id : Registered())
                items.push_back(new Registration(id));
        }
        *value = new VectorView<Abi::ISmsMessageRegistration>(
            Abi::Instances::RegistrationVectorView.iid,
            Items<Abi::ISmsMessageRegistration>(std::move(items), static_cast<std::size_t>(-1)));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Register(HSTRING id, Abi::ISmsFilterRules* rules,
                                       Abi::ISmsMessageRegistration** registration) override
    {
        *registration = nullptr;
        std::int32_t action = -1;
        Abi::ISmsFilterRuleVector* list = nullptr;
        if (!rules || FAILED(rules->get_ActionType(&action)) || FAILED(rules->get_Rules(&list)))
            return E_INVALIDARG;
        std::wstring types;
        std::uint32_t size = 0;
        list->get_Size(&size);
        for (std::uint32_t i = 0; i < size; ++i)
        {
            Abi::ISmsFilterRule* rule = nullptr;
            std::int32_t type = -1;
            if (SUCCEEDED(list->GetAt(i, &rule)))
                rule->get_MessageType(&type), rule->Release();
            types += L" " + std::to_wstring(type);
        }
        list->Release();
        Note(L"Register " + TextOf(id) + L" action " + std::to_wstring(action) + L" rules" + types);
        if (HRESULT hr = ScriptedFailure(L"Register"); FAILED(hr))
            return hr;
        std::lock_guard lock(g_routerMutex);
        std::vector<std::wstring> ids = Registered();
        ids.push_back(TextOf(id));
        SetRegistered(ids);
        *registration = new Registration(TextOf(id));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CreateFilterRules(std::int32_t action, Abi::ISmsFilterRules** rules) override
    {
        return *rules = new FilterRules(action), S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateFilterRule(std::int32_t type, Abi::ISmsFilterRule** rule) override
    {
        return *rule = new FilterRule(type), S_OK;
    }

private:
    std::wstring class_;
};

} // namespace

IActivationFactory* MakeSmsFactory(const std::wstring& className)
{
    if (className != Abi::SmsMessageRegistrationClass && className != Abi::SmsFilterRulesClass &&
        className != Abi::SmsFilterRuleClass)
        return nullptr;
    return new (std::nothrow) SmsFactory(className);
}

} // namespace Pd::TestClasses
