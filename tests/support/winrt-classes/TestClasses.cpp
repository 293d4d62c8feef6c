// pd_winrt_test_classes.dll: test implementations of the Windows Runtime classes the real
// adapters call, registered in a test prefix under the classes' own names. Each call answers
// as the test scripts it through environment variables of the test process, and notes what it
// was given in PD_TEST_CALLS (one line per call):
//   PD_TEST_PACKAGES  "name|publisherId|1.2.3.4|architecture|installedPath|dev;..."
//   PD_TEST_FAMILIES  family names that have application data, ';'-separated
//   PD_TEST_DEPLOY    "" (succeeds at once), "thread" (later, on another thread),
//                     "error <hex> <text>" (fails later with that deployment result),
//                     "start <hex>" (the call itself fails)
//   PD_TEST_ADVERTISEMENT  "<address hex> <address type> <type> <rssi> <connectable> <scannable>
//                     <AD type hex>:<data hex>...", fired from another thread while started
//   PD_TEST_AVAILABILITY  the availability value; PD_TEST_VERIFY as PD_TEST_DEPLOY, with
//                     "<n>" for the verification result and "hang" (ends only when canceled)
//   PD_TEST_USERS     the security ids FindUsers lists, ';'-separated; "start <hex>" fails the call
// The LE device and the access point connection script themselves in their own files.
#include "platform/winrt/AbiAdvertisement.h"
#include "platform/winrt/AbiConsent.h"
#include "platform/winrt/AbiDeployment.h"
#include "tests/support/winrt-classes/EventHandlers.h"
#include "tests/support/winrt-classes/Scripting.h"

#include <activation.h>
#include <winstring.h>

#include <map>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <vector>

namespace Pd::TestClasses
{
namespace
{

// ---- URIs and property values -------------------------------------------------------------

class Uri final : public Inspectable<Abi::IUriRuntimeClass>
{
public:
    explicit Uri(std::wstring text) : text_(std::move(text)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::IUriRuntimeClass::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_AbsoluteUri(HSTRING* value) override
    {
        *value = MakeString(text_);
        return S_OK;
    }
    std::wstring text_;
};

class BooleanValue final : public Inspectable<Abi::IPropertyValue>
{
public:
    explicit BooleanValue(bool value) : value_(value) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::IPropertyValue::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_Type(std::int32_t* type) override
    {
        *type = 11; // Boolean
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IsNumericScalar(Abi::Boolean* v) override { return *v = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE GetUInt8(std::uint8_t*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInt16(std::int16_t*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetUInt16(std::uint16_t*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInt32(std::int32_t*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetUInt32(std::uint32_t*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInt64(std::int64_t*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetUInt64(std::uint64_t*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSingle(float*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDouble(double*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetChar16(wchar_t*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetBoolean(Abi::Boolean* v) override { return *v = value_ ? 1 : 0, S_OK; }
    bool value_;
};

// ---- application data ---------------------------------------------------------------------

std::mutex g_settingsMutex;
std::map<std::wstring, std::map<std::wstring, bool>> g_settings; // family -> name -> value

class Settings final : public Inspectable<Abi::SettingsMap>
{
public:
    explicit Settings(std::wstring family) : family_(std::move(family)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::Instances::MapStringObject.iid, out);
    }
    HRESULT STDMETHODCALLTYPE Lookup(HSTRING, IInspectable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Size(std::uint32_t*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE HasKey(HSTRING key, Abi::Boolean* found) override
    {
        std::lock_guard lock(g_settingsMutex);
        *found = g_settings[family_].contains(TextOf(key)) ? 1 : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetView(IInspectable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Insert(HSTRING key, IInspectable* value, Abi::Boolean* replaced) override
    {
        Abi::IPropertyValue* property = nullptr;
        Abi::Boolean flag = 0;
        if (FAILED(value->QueryInterface(Abi::IPropertyValue::Iid, reinterpret_cast<void**>(&property))))
            return E_INVALIDARG;
        const HRESULT hr = property->GetBoolean(&flag);
        property->Release();
        if (FAILED(hr))
            return hr;
        std::lock_guard lock(g_settingsMutex);
        auto& values = g_settings[family_];
        *replaced = values.contains(TextOf(key)) ? 1 : 0;
        values[TextOf(key)] = flag != 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Remove(HSTRING) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clear() override { return E_NOTIMPL; }
    std::wstring family_;
};

class Container final : public Inspectable<Abi::IApplicationDataContainer>
{
public:
    explicit Container(std::wstring family) : family_(std::move(family)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::IApplicationDataContainer::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_Name(HSTRING* value) override { return *value = nullptr, S_OK; }
    HRESULT STDMETHODCALLTYPE get_Locality(std::int32_t* value) override { return *value = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE get_Values(IInspectable** value) override
    {
        *value = new Settings(family_);
        return S_OK;
    }
    std::wstring family_;
};

class ApplicationData final : public Inspectable<Abi::IApplicationData>
{
public:
    explicit ApplicationData(std::wstring family) : family_(std::move(family)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::IApplicationData::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_Version(std::uint32_t* v) override { return *v = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE SetVersionAsync(std::uint32_t, IUnknown*, Abi::IAsyncAction**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ClearAllAsync(Abi::IAsyncAction**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ClearAsync(std::int32_t, Abi::IAsyncAction**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_LocalSettings(Abi::IApplicationDataContainer** value) override
    {
        *value = new Container(family_);
        return S_OK;
    }
    std::wstring family_;
};

// ---- packages -----------------------------------------------------------------------------

struct PackageFacts
{
    std::wstring name, publisherId, path;
    Abi::PackageVersion version{};
    std::int32_t architecture = 9;
    bool development = false;

    std::wstring FamilyName() const { return name + L"_" + publisherId; }
    std::wstring FullName() const
    {
        return name + L"_" + std::to_wstring(version.major) + L"." + std::to_wstring(version.minor) + L"." +
               std::to_wstring(version.build) + L"." + std::to_wstring(version.revision) + L"_x64__" +
               publisherId;
    }
};

std::vector<PackageFacts> ScriptedPackages()
{
    std::vector<PackageFacts> packages;
    for (const std::wstring& entry : Split(Script(L"PD_TEST_PACKAGES"), L';'))
    {
        std::vector<std::wstring> f = Split(entry, L'|');
        if (f.size() != 6)
            continue;
        PackageFacts facts{f[0], f[1], f[4]};
        std::vector<std::wstring> v = Split(f[2], L'.');
        if (v.size() == 4)
            facts.version = {
                static_cast<std::uint16_t>(std::stoi(v[0])), static_cast<std::uint16_t>(std::stoi(v[1])),
                static_cast<std::uint16_t>(std::stoi(v[2])), static_cast<std::uint16_t>(std::stoi(v[3]))};
        facts.architecture = std::stoi(f[3]);
        facts.development = f[5] == L"1";
        packages.push_back(facts);
    }
    return packages;
}

class PackageId final : public Inspectable<Abi::IPackageId>
{
public:
    explicit PackageId(PackageFacts facts) : facts_(std::move(facts)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::IPackageId::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_Name(HSTRING* v) override { return *v = MakeString(facts_.name), S_OK; }
    HRESULT STDMETHODCALLTYPE get_Version(Abi::PackageVersion* v) override
    {
        return *v = facts_.version, S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Architecture(std::int32_t* v) override
    {
        return *v = facts_.architecture, S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ResourceId(HSTRING* v) override { return *v = nullptr, S_OK; }
    HRESULT STDMETHODCALLTYPE get_Publisher(HSTRING* v) override { return *v = nullptr, S_OK; }
    HRESULT STDMETHODCALLTYPE get_PublisherId(HSTRING* v) override
    {
        return *v = MakeString(facts_.publisherId), S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_FullName(HSTRING* v) override
    {
        return *v = MakeString(facts_.FullName()), S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_FamilyName(HSTRING* v) override
    {
        return *v = MakeString(facts_.FamilyName()), S_OK;
    }
    PackageFacts facts_;
};

class Package final : public Inspectable<Abi::IPackage>, public Abi::IPackage2, public Abi::IPackage8
{
public:
    explicit Package(PackageFacts facts) : facts_(std::move(facts)) {}
    PD_TEST_FORWARD_INSPECTABLE(Abi::IPackage)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        if (asked == Abi::IPackage2::Iid)
            *out = static_cast<Abi::IPackage2*>(this);
        else if (asked == Abi::IPackage8::Iid)
            *out = static_cast<Abi::IPackage8*>(this);
        else
            return Answer(asked, Abi::IPackage::Iid, out);
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Id(Abi::IPackageId** v) override
    {
        return *v = new PackageId(facts_), S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_DisplayName(HSTRING* v) override { return *v = nullptr, S_OK; }
    HRESULT STDMETHODCALLTYPE get_PublisherDisplayName(HSTRING* v) override { return *v = nullptr, S_OK; }
    HRESULT STDMETHODCALLTYPE get_Description(HSTRING* v) override { return *v = nullptr, S_OK; }
    HRESULT STDMETHODCALLTYPE get_Logo(IInspectable** v) override { return *v = nullptr, E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_IsResourcePackage(Abi::Boolean* v) override { return *v = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE get_IsBundle(Abi::Boolean* v) override { return *v = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE get_IsDevelopmentMode(Abi::Boolean* v) override
    {
        return *v = facts_.development ? 1 : 0, S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_EffectiveExternalLocation(IInspectable** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_MachineExternalLocation(IInspectable** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_UserExternalLocation(IInspectable** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_InstalledPath(HSTRING* v) override
    {
        if (facts_.path.empty())
            return *v = nullptr, E_FAIL; // a location that cannot be read
        return *v = MakeString(facts_.path), S_OK;
    }
    PackageFacts facts_;
};

class PackageIterator final : public Inspectable<Abi::IIterator<Abi::IPackage*>>
{
public:
    explicit PackageIterator(std::vector<PackageFacts> packages) : packages_(std::move(packages)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::Instances::PackageIterator.iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_Current(Abi::IPackage** v) override
    {
        if (next_ >= packages_.size())
            return static_cast<HRESULT>(0x8000000BL); // E_BOUNDS
        *v = new Package(packages_[next_]);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_HasCurrent(Abi::Boolean* v) override
    {
        return *v = next_ < packages_.size(), S_OK;
    }
    HRESULT STDMETHODCALLTYPE MoveNext(Abi::Boolean* v) override
    {
        // A walk that breaks off after the first package, when the script asks for it.
        if (next_ == 0 && Script(L"PD_TEST_WALK") == L"break")
            return HRESULT_FROM_WIN32(ERROR_NOT_READY);
        ++next_;
        *v = next_ < packages_.size();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMany(std::uint32_t, Abi::IPackage**, std::uint32_t*) override
    {
        return E_NOTIMPL;
    }
    std::vector<PackageFacts> packages_;
    std::size_t next_ = 0;
};

class PackageList final : public Inspectable<Abi::PackageIterable>
{
public:
    explicit PackageList(std::vector<PackageFacts> packages) : packages_(std::move(packages)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::Instances::PackageIterable.iid, out);
    }
    HRESULT STDMETHODCALLTYPE First(Abi::IIterator<Abi::IPackage*>** v) override
    {
        *v = new PackageIterator(packages_);
        return S_OK;
    }
    std::vector<PackageFacts> packages_;
};

class DeploymentResult final : public Inspectable<Abi::IDeploymentResult>
{
public:
    DeploymentResult(HRESULT code, std::wstring text) : code_(code), text_(std::move(text)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::IDeploymentResult::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_ErrorText(HSTRING* v) override { return *v = MakeString(text_), S_OK; }
    HRESULT STDMETHODCALLTYPE get_ActivityId(GUID* v) override { return *v = GUID{}, S_OK; }
    HRESULT STDMETHODCALLTYPE get_ExtendedErrorCode(HRESULT* v) override { return *v = code_, S_OK; }
    HRESULT code_;
    std::wstring text_;
};

struct WithProgress : Abi::DeploymentOperation
{
    HRESULT STDMETHODCALLTYPE put_Progress(IUnknown*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_Progress(IUnknown** handler) override { return *handler = nullptr, S_OK; }
};
using DeploymentOperation = Operation<WithProgress, Abi::IDeploymentResult*>;

HRESULT Deploy(const std::wstring& call, Abi::DeploymentOperation** operation)
{
    Note(call);
    Scripted scripted = ReadScript(L"PD_TEST_DEPLOY");
    if (FAILED(scripted.startFails))
        return scripted.startFails;
    // The operation's own error code is a generic one; the result carries the real reason.
    HRESULT extended = scripted.ending.error;
    if (FAILED(scripted.ending.error))
        scripted.ending.error = static_cast<HRESULT>(0x80073CF9L); // ERROR_INSTALL_FAILED
    auto* result = new DeploymentResult(extended, FAILED(extended) ? scripted.rest : L"");
    *operation = new DeploymentOperation(Abi::Instances::DeploymentOperation.iid, result, scripted.ending);
    result->Release();
    return S_OK;
}

std::wstring UriText(Abi::IUriRuntimeClass* uri)
{
    HSTRING text = nullptr;
    if (!uri || FAILED(uri->get_AbsoluteUri(&text)))
        return L"(none)";
    std::wstring result = TextOf(text);
    ::WindowsDeleteString(text);
    return result;
}

class PackageUser final : public Inspectable<Abi::IPackageUserInformation>
{
public:
    explicit PackageUser(std::wstring sid) : sid_(std::move(sid)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::IPackageUserInformation::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_UserSecurityId(HSTRING* v) override { return *v = MakeString(sid_), S_OK; }
    HRESULT STDMETHODCALLTYPE get_InstallState(std::int32_t* v) override { return *v = 4, S_OK; } // Installed
    std::wstring sid_;
};

class PackageManager final : public Inspectable<Abi::IPackageManager>, public Abi::IPackageManager2
{
public:
    PD_TEST_FORWARD_INSPECTABLE(Abi::IPackageManager)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return AnswerAlso<Abi::IPackageManager2>(this, asked, Abi::IPackageManager::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE AddPackageAsync(Abi::IUriRuntimeClass* uri, IInspectable*,
                                              std::uint32_t options, Abi::DeploymentOperation** op) override
    {
        return Deploy(L"AddPackageAsync " + UriText(uri) + L" " + std::to_wstring(options), op);
    }
    HRESULT STDMETHODCALLTYPE UpdatePackageAsync(Abi::IUriRuntimeClass*, IInspectable*, std::uint32_t,
                                                 Abi::DeploymentOperation**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RemovePackageAsync(HSTRING, Abi::DeploymentOperation**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE StagePackageAsync(Abi::IUriRuntimeClass*, IInspectable*,
                                                Abi::DeploymentOperation**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RegisterPackageAsync(Abi::IUriRuntimeClass* uri, IInspectable*,
                                                   std::uint32_t options,
                                                   Abi::DeploymentOperation** op) override
    {
        return Deploy(L"RegisterPackageAsync " + UriText(uri) + L" " + std::to_wstring(options), op);
    }
    HRESULT STDMETHODCALLTYPE FindPackages(Abi::PackageIterable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindPackagesByUserSecurityId(HSTRING sid, Abi::PackageIterable** found) override
    {
        Note(L"FindPackagesByUserSecurityId [" + TextOf(sid) + L"]");
        *found = new PackageList(ScriptedPackages());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FindPackagesByNamePublisher(HSTRING, HSTRING, Abi::PackageIterable**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FindPackagesByUserSecurityIdNamePublisher(HSTRING, HSTRING, HSTRING,
                                                                        Abi::PackageIterable**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FindUsers(HSTRING fullName, Abi::PackageUserIterable** found) override
    {
        Note(L"FindUsers " + TextOf(fullName));
        const std::wstring script = Script(L"PD_TEST_USERS");
        if (script.starts_with(L"start "))
            return *found = nullptr, static_cast<HRESULT>(std::wcstoul(script.c_str() + 6, nullptr, 16));
        std::vector<Abi::IPackageUserInformation*> users;
        for (const std::wstring& sid : Split(script, L';'))
            users.push_back(new PackageUser(sid));
        const std::size_t failAt = Script(L"PD_TEST_WALK") == L"break" ? 1 : SIZE_MAX;
        *found = new Iterable<Abi::IPackageUserInformation>(Abi::Instances::PackageUserIterable.iid,
                                                            Abi::Instances::PackageUserIterator.iid,
                                                            {std::move(users), failAt});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetPackageState(HSTRING, std::int32_t) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindPackageByPackageFullName(HSTRING, Abi::IPackage**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CleanupPackageForUserAsync(HSTRING, HSTRING,
                                                         Abi::DeploymentOperation**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FindPackagesByPackageFamilyName(HSTRING family,
                                                              Abi::PackageIterable** found) override
    {
        std::vector<PackageFacts> matching;
        for (const PackageFacts& facts : ScriptedPackages())
            if (facts.FamilyName() == TextOf(family))
                matching.push_back(facts);
        *found = new PackageList(std::move(matching));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RemovePackageWithOptionsAsync(HSTRING fullName, std::uint32_t options,
                                                            Abi::DeploymentOperation** op) override
    {
        return Deploy(L"RemovePackageWithOptionsAsync " + TextOf(fullName) + L" " + std::to_wstring(options),
                      op);
    }
};

// ---- the consent verifier -----------------------------------------------------------------

using ConsentOperation = Operation<Abi::ConsentOperation, std::int32_t>;

HRESULT Verify(const std::wstring& call, Abi::ConsentOperation** operation)
{
    Note(call);
    Scripted scripted = ReadScript(L"PD_TEST_VERIFY");
    if (FAILED(scripted.startFails))
        return scripted.startFails;
    if (scripted.ending.when == Ending::When::AtOnce)
        scripted.ending.when = Ending::When::OtherThread; // a prompt is never answered at once
    *operation = new ConsentOperation(Abi::Instances::VerificationOperation.iid,
                                      std::wcstol(scripted.rest.c_str(), nullptr, 10), scripted.ending);
    return S_OK;
}

// ---- the advertisement watcher ------------------------------------------------------------

class ByteBuffer final : public Inspectable<Abi::IBuffer>, public Abi::IBufferByteAccess
{
public:
    explicit ByteBuffer(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    ULONG STDMETHODCALLTYPE AddRef() override { return Inspectable::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return Inspectable::Release(); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return AnswerAlso<Abi::IBufferByteAccess>(this, asked, Abi::IBuffer::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_Capacity(std::uint32_t* v) override { return *v = bytes_.size(), S_OK; }
    HRESULT STDMETHODCALLTYPE get_Length(std::uint32_t* v) override { return *v = bytes_.size(), S_OK; }
    HRESULT STDMETHODCALLTYPE put_Length(std::uint32_t) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Buffer(BYTE** v) override { return *v = bytes_.data(), S_OK; }
    std::vector<std::uint8_t> bytes_;
};

class DataSection final : public Inspectable<Abi::IBluetoothLEAdvertisementDataSection>
{
public:
    DataSection(std::uint8_t type, std::vector<std::uint8_t> data) : type_(type), data_(std::move(data)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::IBluetoothLEAdvertisementDataSection::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_DataType(std::uint8_t* v) override { return *v = type_, S_OK; }
    HRESULT STDMETHODCALLTYPE put_DataType(std::uint8_t) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Data(Abi::IBuffer** v) override
    {
        *v = new ByteBuffer(data_);
        return S_OK;
    }
    std::uint8_t type_;
    std::vector<std::uint8_t> data_;
};

using SectionVectorBase = Abi::IVector<Abi::IBluetoothLEAdvertisementDataSection*>;

class Advertisement final : public Inspectable<Abi::IBluetoothLEAdvertisement>, public SectionVectorBase
{
public:
    explicit Advertisement(std::vector<std::wstring> sections) : sections_(std::move(sections)) {}
    PD_TEST_FORWARD_INSPECTABLE(Abi::IBluetoothLEAdvertisement)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        if (asked != Abi::Instances::DataSectionVector.iid)
            return Answer(asked, Abi::IBluetoothLEAdvertisement::Iid, out);
        *out = static_cast<SectionVectorBase*>(this);
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Flags(IInspectable** v) override { return *v = nullptr, S_OK; }
    HRESULT STDMETHODCALLTYPE put_Flags(IInspectable*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_LocalName(HSTRING* v) override { return *v = nullptr, S_OK; }
    HRESULT STDMETHODCALLTYPE put_LocalName(HSTRING) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ServiceUuids(IInspectable** v) override { return *v = nullptr, E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ManufacturerData(IInspectable** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_DataSections(SectionVectorBase** v) override
    {
        *v = static_cast<SectionVectorBase*>(this); // the advertisement holds its own list
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAt(std::uint32_t index,
                                    Abi::IBluetoothLEAdvertisementDataSection** v) override
    {
        if (index >= sections_.size())
            return static_cast<HRESULT>(0x8000000BL);
        const std::wstring& entry = sections_[index]; // "<type hex>:<data hex>"
        *v = new DataSection(static_cast<std::uint8_t>(std::wcstoul(entry.substr(0, 2).c_str(), nullptr, 16)),
                             Bytes(entry.substr(3)));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Size(std::uint32_t* v) override { return *v = sections_.size(), S_OK; }
    std::vector<std::wstring> sections_;
};

class ReceivedArgs final : public Inspectable<Abi::IBluetoothLEAdvertisementReceivedEventArgs>,
                           public Abi::IBluetoothLEAdvertisementReceivedEventArgs2
{
public:
    explicit ReceivedArgs(std::vector<std::wstring> fields) : f_(std::move(fields)) {}
    PD_TEST_FORWARD_INSPECTABLE(Abi::IBluetoothLEAdvertisementReceivedEventArgs)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return AnswerAlso<Abi::IBluetoothLEAdvertisementReceivedEventArgs2>(
            this, asked, Abi::IBluetoothLEAdvertisementReceivedEventArgs::Iid, out);
    }
    std::int32_t Field(std::size_t i) const { return std::wcstol(f_[i].c_str(), nullptr, 10); }
    HRESULT STDMETHODCALLTYPE get_RawSignalStrengthInDBm(std::int16_t* v) override
    {
        return *v = static_cast<std::int16_t>(Field(3)), S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_BluetoothAddress(std::uint64_t* v) override
    {
        return *v = std::wcstoull(f_[0].c_str(), nullptr, 16), S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_AdvertisementType(std::int32_t* v) override { return *v = Field(2), S_OK; }
    HRESULT STDMETHODCALLTYPE get_Timestamp(std::int64_t* v) override { return *v = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE get_Advertisement(Abi::IBluetoothLEAdvertisement** v) override
    {
        *v = new Advertisement(std::vector<std::wstring>(f_.begin() + 6, f_.end()));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_BluetoothAddressType(std::int32_t* v) override
    {
        return *v = Field(1), S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_TransmitPowerLevelInDBm(IInspectable** v) override
    {
        return *v = nullptr, S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IsAnonymous(Abi::Boolean* v) override { return *v = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE get_IsConnectable(Abi::Boolean* v) override { return *v = Field(4) != 0, S_OK; }
    HRESULT STDMETHODCALLTYPE get_IsScannable(Abi::Boolean* v) override { return *v = Field(5) != 0, S_OK; }
    std::vector<std::wstring> f_;
};

// Fires Received from its own thread while started, to the handlers registered at that moment;
// like Windows, a handler may still run once after its removal returned.
class Watcher final : public Inspectable<Abi::IBluetoothLEAdvertisementWatcher>
{
public:
    ~Watcher() override { Stop(); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return Answer(asked, Abi::IBluetoothLEAdvertisementWatcher::Iid, out);
    }
    HRESULT STDMETHODCALLTYPE get_MinSamplingInterval(std::int64_t* v) override { return *v = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE get_MaxSamplingInterval(std::int64_t* v) override { return *v = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE get_MinOutOfRangeTimeout(std::int64_t* v) override { return *v = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE get_MaxOutOfRangeTimeout(std::int64_t* v) override { return *v = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE get_Status(std::int32_t* v) override
    {
        return *v = thread_.joinable() ? 1 : 0, S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ScanningMode(std::int32_t* v) override { return *v = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE put_ScanningMode(std::int32_t mode) override
    {
        Note(L"ScanningMode " + std::to_wstring(mode));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_SignalStrengthFilter(IInspectable** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_SignalStrengthFilter(IInspectable*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_AdvertisementFilter(IInspectable** v) override
    {
        return *v = nullptr, E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE put_AdvertisementFilter(IInspectable*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Start() override
    {
        if (thread_.joinable())
            return S_OK;
        std::wistringstream words(Script(L"PD_TEST_ADVERTISEMENT"));
        std::vector<std::wstring> fields;
        for (std::wstring word; words >> word;)
            fields.push_back(word);
        if (fields.size() < 6)
            return E_INVALIDARG;
        thread_ = std::jthread([this, fields](std::stop_token stop) {
            while (!stop.stop_requested())
            {
                std::vector<Abi::ITypedEventHandler*> handlers = handlers_.Current();
                auto* args = new ReceivedArgs(fields);
                EventHandlers::Invoke(handlers, static_cast<Abi::IBluetoothLEAdvertisementWatcher*>(this),
                                      static_cast<Abi::IBluetoothLEAdvertisementReceivedEventArgs*>(args));
                args->Release();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stop() override
    {
        thread_ = std::jthread();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE add_Received(Abi::ITypedEventHandler* handler, Abi::EventToken* token) override
    {
        return handlers_.Add(handler, token);
    }
    HRESULT STDMETHODCALLTYPE remove_Received(Abi::EventToken token) override
    {
        return handlers_.Remove(token);
    }

private:
    EventHandlers handlers_{L"Received", Abi::Instances::ReceivedHandler.iid};
    std::jthread thread_;
};

// ---- activation factories -----------------------------------------------------------------

// One factory object per class: IActivationFactory plus the class's statics or factory.
class Factory final : public Inspectable<IActivationFactory>,
                      public Abi::IUriRuntimeClassFactory,
                      public Abi::IPropertyValueStatics,
                      public Abi::IApplicationDataManagerStatics,
                      public Abi::IUserConsentVerifierStatics,
                      public Abi::IUserConsentVerifierInterop
{
public:
    explicit Factory(std::wstring className) : class_(std::move(className)) {}
    PD_TEST_FORWARD_INSPECTABLE(IActivationFactory)

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        if (class_ == Abi::UriClass && asked == Abi::IUriRuntimeClassFactory::Iid)
            *out = static_cast<Abi::IUriRuntimeClassFactory*>(this);
        else if (class_ == Abi::PropertyValueClass && asked == Abi::IPropertyValueStatics::Iid)
            *out = static_cast<Abi::IPropertyValueStatics*>(this);
        else if (class_ == Abi::ApplicationDataManagerClass &&
                 asked == Abi::IApplicationDataManagerStatics::Iid)
            *out = static_cast<Abi::IApplicationDataManagerStatics*>(this);
        else if (class_ == Abi::UserConsentVerifierClass && asked == Abi::IUserConsentVerifierStatics::Iid)
            *out = static_cast<Abi::IUserConsentVerifierStatics*>(this);
        else if (class_ == Abi::UserConsentVerifierClass && asked == Abi::IUserConsentVerifierInterop::Iid)
            *out = static_cast<Abi::IUserConsentVerifierInterop*>(this);
        else
            return Answer(asked, Abi::IidActivationFactory, out);
        AddRef();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** instance) override
    {
        if (class_ == Abi::AdvertisementWatcherClass)
            *instance = new Watcher();
        else if (class_ == Abi::PackageManagerClass)
            *instance = static_cast<Abi::IPackageManager*>(new PackageManager());
        else
            return *instance = nullptr, E_NOTIMPL;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CreateUri(HSTRING uri, Abi::IUriRuntimeClass** instance) override
    {
        *instance = new Uri(TextOf(uri));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CreateEmpty(IInspectable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateUInt8(std::uint8_t, IInspectable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateInt16(std::int16_t, IInspectable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateUInt16(std::uint16_t, IInspectable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateInt32(std::int32_t, IInspectable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateUInt32(std::uint32_t, IInspectable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateInt64(std::int64_t, IInspectable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateUInt64(std::uint64_t, IInspectable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateSingle(float, IInspectable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateDouble(double, IInspectable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateChar16(wchar_t, IInspectable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateBoolean(Abi::Boolean in, IInspectable** value) override
    {
        *value = new BooleanValue(in != 0);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CreateForPackageFamily(HSTRING family, Abi::IApplicationData** data) override
    {
        for (const std::wstring& known : Split(Script(L"PD_TEST_FAMILIES"), L';'))
            if (known == TextOf(family))
                return *data = new ApplicationData(known), S_OK;
        *data = nullptr;
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }

    HRESULT STDMETHODCALLTYPE CheckAvailabilityAsync(Abi::ConsentOperation** operation) override
    {
        Note(L"CheckAvailabilityAsync");
        *operation =
            new ConsentOperation(Abi::Instances::AvailabilityOperation.iid,
                                 std::wcstol(Script(L"PD_TEST_AVAILABILITY").c_str(), nullptr, 10), Ending{});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RequestVerificationAsync(HSTRING message,
                                                       Abi::ConsentOperation** operation) override
    {
        return Verify(L"RequestVerificationAsync " + TextOf(message), operation);
    }
    HRESULT STDMETHODCALLTYPE RequestVerificationForWindowAsync(HWND window, HSTRING message, REFIID riid,
                                                                void** operation) override
    {
        if (riid != Abi::Instances::VerificationOperation.iid)
            return *operation = nullptr, E_NOINTERFACE;
        return Verify(std::wstring(L"RequestVerificationForWindowAsync ") +
                          (::IsWindow(window) ? L"window " : L"no-window ") + TextOf(message),
                      reinterpret_cast<Abi::ConsentOperation**>(operation));
    }

private:
    std::wstring class_;
};

} // namespace

Abi::IBuffer* MakeByteBuffer(std::vector<std::uint8_t> bytes)
{
    return new ByteBuffer(std::move(bytes));
}

} // namespace Pd::TestClasses

extern "C" HRESULT WINAPI DllGetActivationFactory(HSTRING classId, IActivationFactory** factory)
{
    using namespace Pd::TestClasses;
    if (!factory)
        return E_POINTER;
    const std::wstring name = TextOf(classId);
    *factory = nullptr;
    if (Unregistered(name))
        return REGDB_E_CLASSNOTREG;
    for (const wchar_t* known :
         {Abi::PackageManagerClass, Abi::ApplicationDataManagerClass, Abi::UriClass, Abi::PropertyValueClass,
          Abi::UserConsentVerifierClass, Abi::AdvertisementWatcherClass})
        if (name == known)
        {
            *factory = new (std::nothrow) Factory(name);
            return *factory ? S_OK : E_OUTOFMEMORY;
        }
    if ((*factory = MakeSmsFactory(name)))
        return S_OK;
    if ((*factory = MakeBluetoothLeFactory(name)) || (*factory = MakeConnectivityFactory(name)) ||
        (*factory = MakeBluetoothAdapterFactory(name)))
        return S_OK;
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow()
{
    return S_FALSE; // scripted operations may still end on their own threads
}
