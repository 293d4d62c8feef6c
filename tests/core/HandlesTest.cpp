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

TEST(UniqueHandle, ClosesWhatItOwnsOnceAcrossMovesPutAndRelease)
{
    HANDLE raw = NewEvent();
    {
        Pd::UniqueHandle first(raw);
        Pd::UniqueHandle second(std::move(first));
        EXPECT_FALSE(first);
        EXPECT_EQ(second.Get(), raw);
        first.Reset();
        Pd::UniqueHandle third;
        third = std::move(second);
        EXPECT_TRUE(IsOpen(raw));
    }
    EXPECT_FALSE(IsOpen(raw));

    HANDLE old = NewEvent();
    Pd::UniqueHandle owner(old);
    *owner.Put() = NewEvent();
    EXPECT_FALSE(IsOpen(old)) << "Put closes the old handle first";
    HANDLE kept = owner.Release();
    EXPECT_FALSE(owner);
    EXPECT_TRUE(IsOpen(kept));
    ::CloseHandle(kept);
}

TEST(UniqueFile, TreatsInvalidHandleValueAsEmpty)
{
    Pd::UniqueFile failed(::CreateFileW(L"C:\\does\\not\\exist.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(failed);
    EXPECT_EQ(Pd::UniqueFile().Get(), INVALID_HANDLE_VALUE);
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

TEST(ComPtr, EveryOwnerReleasesTheReferenceItHolds)
{
    Counted object;
    {
        auto first = Pd::ComPtr<IClassFactory>::Attach(&object);
        Pd::ComPtr<IClassFactory> second = first;
        EXPECT_EQ(object.refs, 2u);
        Pd::ComPtr<IClassFactory> third = std::move(second);
        EXPECT_FALSE(second);
        EXPECT_TRUE(first.As<IUnknown>());
        EXPECT_FALSE(first.As<IStream>());
        EXPECT_EQ(object.refs, 2u);
    }
    EXPECT_EQ(object.refs, 0u);
}

} // namespace
