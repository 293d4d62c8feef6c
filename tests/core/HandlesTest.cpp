#include "core/Handles.h"

#include <gtest/gtest.h>

#include <unknwn.h>

namespace
{

bool IsOpen(HANDLE handle)
{
    DWORD flags = 0;
    return ::GetHandleInformation(handle, &flags) != FALSE;
}

HANDLE NewEvent()
{
    return ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

TEST(UniqueHandle, ClosesWhatItOwnsExactlyOnce)
{
    HANDLE raw = NewEvent();
    {
        Pd::UniqueHandle owner(raw);
        EXPECT_TRUE(owner);
        EXPECT_TRUE(IsOpen(raw));
    }
    EXPECT_FALSE(IsOpen(raw));
}

TEST(UniqueHandle, MoveLeavesTheSourceEmptyAndKeepsTheHandleOpen)
{
    HANDLE raw = NewEvent();
    Pd::UniqueHandle first(raw);
    Pd::UniqueHandle second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(second.Get(), raw);
    first.Reset();
    EXPECT_TRUE(IsOpen(raw));

    Pd::UniqueHandle third;
    third = std::move(second);
    EXPECT_TRUE(IsOpen(raw));
    third = Pd::UniqueHandle();
    EXPECT_FALSE(IsOpen(raw));
}

TEST(UniqueHandle, ReleaseGivesUpOwnershipWithoutClosing)
{
    HANDLE raw = NewEvent();
    {
        Pd::UniqueHandle owner(raw);
        EXPECT_EQ(owner.Release(), raw);
        EXPECT_FALSE(owner);
    }
    EXPECT_TRUE(IsOpen(raw));
    ::CloseHandle(raw);
}

TEST(UniqueHandle, PutClosesTheOldHandleBeforeTakingANewOne)
{
    HANDLE old = NewEvent();
    Pd::UniqueHandle owner(old);
    *owner.Put() = NewEvent();
    EXPECT_FALSE(IsOpen(old));
    EXPECT_TRUE(IsOpen(owner.Get()));
}

TEST(UniqueFile, TreatsInvalidHandleValueAsEmpty)
{
    Pd::UniqueFile none;
    EXPECT_FALSE(none);
    EXPECT_EQ(none.Get(), INVALID_HANDLE_VALUE);

    Pd::UniqueFile failed(::CreateFileW(L"C:\\does\\not\\exist.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(failed);
}

TEST(UniqueRegKey, ClosesTheKey)
{
    Pd::UniqueRegKey key;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, key.Put()), ERROR_SUCCESS);
    HKEY raw = key.Get();
    key.Reset();
    DWORD subkeys = 0;
    EXPECT_NE(::RegQueryInfoKeyW(raw, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
}

// A COM object that counts its references and answers for IUnknown and IClassFactory.
class Counted final : public IClassFactory
{
public:
    ULONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IClassFactory))
        {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

TEST(ComPtr, CopiesAddAReferenceAndEveryOwnerReleasesOne)
{
    Counted object;
    {
        auto first = Pd::ComPtr<IClassFactory>::Attach(&object);
        EXPECT_EQ(object.refs, 1u);
        Pd::ComPtr<IClassFactory> second = first;
        EXPECT_EQ(object.refs, 2u);
        Pd::ComPtr<IClassFactory> third = std::move(second);
        EXPECT_EQ(object.refs, 2u);
        EXPECT_FALSE(second);
    }
    EXPECT_EQ(object.refs, 0u);
}

TEST(ComPtr, AsQueriesAndReturnsEmptyForAMissingInterface)
{
    Counted object;
    {
        auto factory = Pd::ComPtr<IClassFactory>::Attach(&object);
        auto unknown = factory.As<IUnknown>();
        EXPECT_TRUE(unknown);
        EXPECT_EQ(object.refs, 2u);
        auto missing = factory.As<IStream>();
        EXPECT_FALSE(missing);
        EXPECT_EQ(object.refs, 2u);
    }
    EXPECT_EQ(object.refs, 0u);
}

} // namespace
