// The access point context and the connectivity manager, as the test scripts them:
//   PD_TEST_APN          how AcquireConnectionAsync ends (see ReadScript); "nosession": no session
//   PD_TEST_APN_PROFILE  "noprofile" or "noadapter"; otherwise the adapter is AdapterId below
#include "platform/winrt/AbiConnectivity.h"
#include "tests/support/winrt-classes/Scripting.h"

#include <new>

namespace Pd::TestClasses
{
namespace
{

constexpr GUID AdapterId = {0x6a5b4c3d, 0x2e1f, 0x4a0b, {0x9c, 0x8d, 0x7e, 0x6f, 0x5a, 0x4b, 0x3c, 0x2d}};

class Adapter final : public Inspectable<Abi::INetworkAdapter>
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::INetworkAdapter::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_OutboundMaxBitsPerSecond(std::uint64_t* v) override { return *v = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE get_InboundMaxBitsPerSecond(std::uint64_t* v) override { return *v = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE get_IanaInterfaceType(std::uint32_t* v) override { return *v = 243, S_OK; }
    HRESULT STDMETHODCALLTYPE get_NetworkItem(IInspectable** v) override { return *v = nullptr, E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_NetworkAdapterId(GUID* v) override { return *v = AdapterId, S_OK; }
};

class Profile final : public Inspectable<Abi::IConnectionProfile>
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::IConnectionProfile::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_ProfileName(HSTRING* v) override { return *v = nullptr, S_OK; }
    HRESULT STDMETHODCALLTYPE GetNetworkConnectivityLevel(std::int32_t* v) override { return *v = 3, S_OK; }
    HRESULT STDMETHODCALLTYPE GetNetworkNames(IInspectable** v) override { return *v = nullptr, E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetConnectionCost(IInspectable** v) override { return *v = nullptr, E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDataPlanStatus(IInspectable** v) override { return *v = nullptr, E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_NetworkAdapter(Abi::INetworkAdapter** v) override
    {
        *v = Script(L"PD_TEST_APN_PROFILE") == L"noadapter" ? nullptr : new Adapter();
        return S_OK;
    }
};

class Session final : public Inspectable<Abi::IConnectionSession>, public Abi::IClosable
{
public:
    PD_TEST_FORWARD_INSPECTABLE(Abi::IConnectionSession)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return AnswerAlso<Abi::IClosable>(this, asked, Abi::IConnectionSession::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_ConnectionProfile(Abi::IConnectionProfile** v) override
    {
        *v = Script(L"PD_TEST_APN_PROFILE") == L"noprofile" ? nullptr : new Profile();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override
    {
        Note(L"Close");
        return S_OK;
    }
};

class ApnContext final : public Inspectable<Abi::ICellularApnContext>
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::ICellularApnContext::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_ProviderId(HSTRING* v) override { return *v = nullptr, S_OK; }
    HRESULT STDMETHODCALLTYPE put_ProviderId(HSTRING) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_AccessPointName(HSTRING* v) override
    {
        return *v = MakeString(name_), S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_AccessPointName(HSTRING v) override { return name_ = TextOf(v), S_OK; }
    HRESULT STDMETHODCALLTYPE get_UserName(HSTRING* v) override { return *v = MakeString(user_), S_OK; }
    HRESULT STDMETHODCALLTYPE put_UserName(HSTRING v) override { return user_ = TextOf(v), S_OK; }
    HRESULT STDMETHODCALLTYPE get_Password(HSTRING* v) override { return *v = MakeString(password_), S_OK; }
    HRESULT STDMETHODCALLTYPE put_Password(HSTRING v) override { return password_ = TextOf(v), S_OK; }
    HRESULT STDMETHODCALLTYPE get_IsCompressionEnabled(Abi::Boolean* v) override { return *v = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE put_IsCompressionEnabled(Abi::Boolean) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_AuthenticationType(std::int32_t* v) override
    {
        return *v = authentication_, S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_AuthenticationType(std::int32_t v) override
    {
        return authentication_ = v, S_OK;
    }
    std::wstring name_, user_, password_;
    std::int32_t authentication_ = 0;
};

using SessionOperation = Operation<Abi::SessionOperation, Abi::IConnectionSession*>;

class ConnectivityFactory final : public Inspectable<IActivationFactory>,
                                  public Abi::IConnectivityManagerStatics
{
public:
    explicit ConnectivityFactory(std::wstring className) : class_(std::move(className)) {}
    PD_TEST_FORWARD_INSPECTABLE(IActivationFactory)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        if (class_ != Abi::ConnectivityManagerClass || asked != Abi::IConnectivityManagerStatics::Iid)
            return Answer(asked, Abi::IidActivationFactory, out);
        *out = static_cast<Abi::IConnectivityManagerStatics*>(this);
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** v) override
    {
        if (class_ != Abi::ApnContextClass)
            return *v = nullptr, E_NOTIMPL;
        *v = new ApnContext();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AcquireConnectionAsync(Abi::ICellularApnContext* context,
                                                     Abi::SessionOperation** operation) override
    {
        *operation = nullptr;
        if (!context)
            return E_INVALIDARG;
        auto* given = static_cast<ApnContext*>(context); // only ours reach this test class
        Note(L"AcquireConnectionAsync " + given->name_ + L"|" + given->user_ + L"|" + given->password_ +
             L"|" + std::to_wstring(given->authentication_));
        const Scripted scripted = ReadScript(L"PD_TEST_APN");
        if (FAILED(scripted.startFails))
            return scripted.startFails;
        Session* session = scripted.rest == L"nosession" ? nullptr : new Session();
        *operation = new SessionOperation(Abi::Instances::SessionOperation.iid, session, scripted.ending);
        if (session)
            session->Release();
        return S_OK;
    }

private:
    std::wstring class_;
};

} // namespace

IActivationFactory* MakeConnectivityFactory(const std::wstring& className)
{
    if (className != Abi::ConnectivityManagerClass && className != Abi::ApnContextClass)
        return nullptr;
    return new (std::nothrow) ConnectivityFactory(className);
}

} // namespace Pd::TestClasses
