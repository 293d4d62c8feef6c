// The Windows Runtime foundation: computed interface ids, our ABI declarations against the
// published facts, awaiting operations, event registrations and buffers.
#include "core/Json.h"
#include "core/Strings.h"
#include "platform/Guid.h"
#include "platform/mbn/AbiMbnTable.h"
#include "platform/winrt/AbiTable.h"
#include "platform/winrt/Async.h"
#include "platform/winrt/Buffer.h"
#include "platform/winrt/Events.h"
#include "tests/support/HangLimit.h"
#include "tests/support/UnixPath.h"
#include "tests/support/winrt-classes/TestObjects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

namespace Pd::Platform::WinRt
{
namespace
{

std::string Lower(std::wstring text)
{
    std::string result = Core::ToUtf8(text);
    for (char& c : result)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

std::string IidText(const GUID& iid)
{
    return Lower(GuidText(iid, false));
}

TEST(WinRtTypeIid, ReproducesPublishedInstanceIds)
{
    const struct
    {
        std::string_view signature;
        std::string_view iid;
    } rows[] = {
        {"pinterface({913337e9-11a1-4345-a3a2-4e7f956e222d};string)", "98b9acc1-4b56-532e-ac73-03d5291cca90"},
        {"pinterface({faa585ea-6214-4217-afda-7f46de5869b3};string)", "e2fcc7c1-3bfc-5a0b-b2b0-72e769d1cb7e"},
        // Not the id one widely used header gives IVectorView<String>.
        {"pinterface({bbe1fa4c-b0e3-4583-baef-1f1b2e483e56};string)", "2f13c006-a03a-5f69-b090-75a43e33423e"},
        {"pinterface({9fc2b0bb-e446-44e2-aa61-9cab8f636af2};b1)", "cdb5efb3-5788-509d-9be1-71ccb8a3362a"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(IidText(ParameterizedIid(row.signature)), row.iid) << row.signature;
}

// abi.json's method names: getter X, setter SetX, event X / RemoveX; ours are the ABI's.
std::string FactsName(std::string_view ours)
{
    if (ours.starts_with("get_") || ours.starts_with("add_"))
        return std::string(ours.substr(4));
    if (ours.starts_with("put_"))
        return "Set" + std::string(ours.substr(4));
    if (ours.starts_with("remove_"))
        return "Remove" + std::string(ours.substr(7));
    return std::string(ours);
}

TEST(WinRtAbi, DeclarationsMatchThePublishedFacts)
{
    std::ifstream file(PdTest::PathFromEnvironment(L"PD_WINRT_ABI"), std::ios::binary);
    ASSERT_TRUE(file) << "PD_WINRT_ABI names no readable file";
    const std::string bytes((std::istreambuf_iterator<char>(file)), {});
    auto facts = Json::ParseUtf8(bytes);
    ASSERT_TRUE(facts) << Core::ToUtf8(facts.error());

    auto find = [&](std::wstring_view list, std::string_view name) -> const Json::Value* {
        for (const Json::Value& entry : facts->Member(list).Items())
            if (Core::ToUtf8(entry.Member(L"name").text) == name)
                return &entry;
        return nullptr;
    };
    // The Windows Runtime interfaces, then the Mobile Broadband COM ones.
    std::vector<DeclaredInterface> declaredInterfaces = DeclaredInterfaces();
    std::ranges::copy(Mbn::DeclaredComInterfaces(), std::back_inserter(declaredInterfaces));
    for (const DeclaredInterface& declared : declaredInterfaces)
    {
        const Json::Value* entry = find(L"interfaces", declared.name);
        ASSERT_NE(entry, nullptr) << declared.name;
        if (declared.iid)
            EXPECT_EQ(IidText(*declared.iid), Lower(entry->Member(L"iid").text)) << declared.name;
        else
            EXPECT_EQ(entry->Member(L"iid").kind, Json::Kind::Null) << declared.name << " is generic";
        for (const DeclaredSlot& slot : declared.slots)
        {
            std::optional<std::uint64_t> expected;
            for (const Json::Value& method : entry->Member(L"methods").Items())
                if (Core::ToUtf8(method.Member(L"name").text) == FactsName(slot.method))
                    expected = method.Member(L"slot").AsUInt64();
            ASSERT_TRUE(expected) << declared.name << "::" << slot.method << " is not in the facts";
            EXPECT_EQ(slot.slot, static_cast<int>(*expected)) << declared.name << "::" << slot.method;
        }
    }
    for (const DeclaredInstance& declared : DeclaredInstances())
    {
        const Json::Value* entry = find(L"generic_instances", declared.name);
        ASSERT_NE(entry, nullptr) << declared.name;
        EXPECT_EQ(Core::ToUtf8(entry->Member(L"signature").text), declared.signature) << declared.name;
        EXPECT_EQ(IidText(declared.iid), Lower(entry->Member(L"iid").text)) << declared.name;
    }
}

using TestOperation = TestClasses::Operation<Abi::IAsyncOperation<std::int32_t>, std::int32_t>;
constexpr GUID OperationIid = Abi::PinterfaceAsyncOperation; // any id: the tests' own
constexpr GUID HandlerIid = Abi::IidAgileObject;

TEST(WinRtAsync, EndsAsTheOperationEnds)
{
    using When = TestClasses::Ending::When;
    const struct
    {
        TestClasses::Ending ending;
        HRESULT expected;
    } rows[] = {
        {{When::AtOnce, S_OK}, S_OK},
        {{When::OtherThread, S_OK}, S_OK},
        {{When::OtherThread, E_ACCESSDENIED}, E_ACCESSDENIED},
        {{When::AtOnce, HRESULT_FROM_WIN32(ERROR_NOT_FOUND)}, HRESULT_FROM_WIN32(ERROR_NOT_FOUND)},
    };
    for (const auto& row : rows)
    {
        auto operation = ComPtr<TestOperation>::Attach(new TestOperation(OperationIid, 42, row.ending));
        std::int32_t result = 0;
        auto done = Await(static_cast<Abi::IAsyncOperation<std::int32_t>*>(operation.Get()), HandlerIid,
                          &result, {}, L"step");
        if (row.expected == S_OK)
        {
            ASSERT_TRUE(done) << Core::ToUtf8(done.error().text);
            EXPECT_EQ(result, 42);
        }
        else
        {
            ASSERT_FALSE(done);
            EXPECT_EQ(done.error().code, row.expected);
            EXPECT_TRUE(done.error().text.starts_with(L"step: ")) << Core::ToUtf8(done.error().text);
        }
    }
}

TEST(WinRtAsync, StopRequestCancelsTheOperation)
{
    auto operation = ComPtr<TestOperation>::Attach(
        new TestOperation(OperationIid, 1, {TestClasses::Ending::When::OnCancelOnly, S_OK}));
    std::stop_source stop;
    std::jthread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        stop.request_stop();
    });
    std::int32_t result = 0;
    auto done = Await(static_cast<Abi::IAsyncOperation<std::int32_t>*>(operation.Get()), HandlerIid, &result,
                      stop.get_token(), L"step");
    ASSERT_FALSE(done);
    EXPECT_EQ(done.error().code, HRESULT_FROM_WIN32(ERROR_CANCELLED));
    EXPECT_EQ(operation->cancels.load(), 1);
}

// An event source that fires from its own thread until told to stop. It keeps the handler it
// was told to remove, as Windows may for a call it has in hand.
class TickSource
{
public:
    ~TickSource()
    {
        Stop();
        if (removed_)
            removed_->Release();
    }
    HRESULT Add(Abi::ITypedEventHandler* handler, Abi::EventToken* token)
    {
        handler->AddRef();
        handler_ = handler;
        *token = 7;
        thread_ = std::jthread([this](std::stop_token stop) {
            while (!stop.stop_requested())
            {
                Abi::ITypedEventHandler* handler = nullptr;
                {
                    std::lock_guard lock(mutex_);
                    if ((handler = handler_) != nullptr)
                        handler->AddRef();
                }
                if (handler) // outside the lock, as Windows: a removed handler may still be running
                {
                    handler->Invoke(nullptr, nullptr);
                    handler->Release();
                }
            }
        });
        return S_OK;
    }
    HRESULT Remove(Abi::EventToken token)
    {
        removedToken = token;
        std::lock_guard lock(mutex_);
        removed_ = std::exchange(handler_, nullptr);
        return S_OK;
    }
    // Ends the thread; a call it had in hand has returned then.
    void Stop() { thread_ = {}; }
    // The call Windows may still make after the removal.
    void InvokeRemoved()
    {
        if (removed_)
            removed_->Invoke(nullptr, nullptr);
    }
    Abi::EventToken removedToken = 0;

private:
    std::mutex mutex_;
    Abi::ITypedEventHandler* handler_ = nullptr;
    Abi::ITypedEventHandler* removed_ = nullptr;
    std::jthread thread_;
};

TEST(WinRtEvents, NoCallbackRunsOnceTheOwnerIsGone)
{
    TickSource source;
    std::atomic<int> calls{0};
    std::atomic<bool> gone{false};
    std::atomic<bool> lateCall{false};
    {
        auto subscription = Subscribe(
            HandlerIid,
            [&](IInspectable*, IInspectable*) {
                std::this_thread::sleep_for(
                    std::chrono::milliseconds(1)); // still running when the owner goes
                if (gone)
                    lateCall = true;
                ++calls;
            },
            [&](Abi::ITypedEventHandler* handler, Abi::EventToken* token) {
                return source.Add(handler, token);
            },
            [&](Abi::EventToken token) { return source.Remove(token); }, L"step");
        ASSERT_TRUE(subscription);
        ASSERT_TRUE(Pd::Test::PollUntil([&] { return calls >= 10; }));
    }
    gone = true;
    const int seen = calls;
    source.Stop();
    source.InvokeRemoved();
    EXPECT_EQ(source.removedToken, 7);
    EXPECT_EQ(calls.load(), seen);
    EXPECT_FALSE(lateCall.load());
}

class TestBuffer final : public TestClasses::Inspectable<Abi::IBuffer>, public Abi::IBufferByteAccess
{
public:
    TestBuffer(std::vector<std::uint8_t> bytes, std::uint32_t length)
        : bytes_(std::move(bytes)), length_(length)
    {
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Inspectable::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return Inspectable::Release(); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        if (asked != Abi::IBufferByteAccess::Iid)
            return Answer(asked, Abi::IBuffer::Iid, out);
        *out = static_cast<Abi::IBufferByteAccess*>(this);
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Capacity(std::uint32_t* v) override { return *v = bytes_.size(), S_OK; }
    HRESULT STDMETHODCALLTYPE get_Length(std::uint32_t* v) override { return *v = length_, S_OK; }
    HRESULT STDMETHODCALLTYPE put_Length(std::uint32_t v) override { return length_ = v, S_OK; }
    HRESULT STDMETHODCALLTYPE Buffer(BYTE** v) override { return *v = bytes_.data(), S_OK; }

private:
    std::vector<std::uint8_t> bytes_;
    std::uint32_t length_;
};

TEST(WinRtBuffer, ReadsTheLengthNeverBeyondTheCapacity)
{
    auto buffer = ComPtr<TestBuffer>::Attach(new TestBuffer({1, 2, 3, 4}, 3));
    auto bytes = BytesOf(static_cast<Abi::IBuffer*>(buffer.Get()));
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, (std::vector<std::uint8_t>{1, 2, 3}));
    buffer->put_Length(5);
    EXPECT_FALSE(BytesOf(static_cast<Abi::IBuffer*>(buffer.Get())));
}

} // namespace
} // namespace Pd::Platform::WinRt
