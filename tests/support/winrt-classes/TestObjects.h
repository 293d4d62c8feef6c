// Test implementations of Windows Runtime objects, shared by the test classes DLL and the
// platform tests: an IInspectable base, an async operation whose ending the test scripts
// (at once, later on another thread, on cancel only, with an error), and a plain buffer.
#pragma once

#include "platform/winrt/AbiFoundation.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace Pd::TestClasses
{

namespace Abi = Platform::WinRt::Abi;

// Reference counting and IInspectable for an object that answers the given interfaces.
template <typename Primary> class Inspectable : public Primary
{
public:
    virtual ~Inspectable() = default;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetIids(ULONG* count, IID** iids) override
    {
        *count = 0;
        *iids = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* name) override
    {
        *name = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* level) override
    {
        *level = BaseTrust;
        return S_OK;
    }

protected:
    // Answers IUnknown, IInspectable, IAgileObject and `iid` as the primary interface.
    HRESULT Answer(REFIID asked, const GUID& iid, void** out)
    {
        if (asked == iid || asked == IID_IUnknown || asked == Abi::IidInspectable ||
            asked == Abi::IidAgileObject)
        {
            *out = static_cast<Primary*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // As Answer, and `Second`, another base of `self`, as itself.
    template <typename Second, typename Self>
    HRESULT AnswerAlso(Self* self, REFIID asked, const GUID& iid, void** out)
    {
        if (asked != Second::Iid)
            return Answer(asked, iid, out);
        *out = static_cast<Second*>(self);
        AddRef();
        return S_OK;
    }

private:
    std::atomic<ULONG> references_{1};
};

// For a class with more than one IInspectable-based interface: the IUnknown and IInspectable
// methods of every base resolve to those of Inspectable<Primary>.
#define PD_TEST_FORWARD_INSPECTABLE(Primary)                                                                 \
    ULONG STDMETHODCALLTYPE AddRef() override                                                                \
    {                                                                                                        \
        return Inspectable<Primary>::AddRef();                                                               \
    }                                                                                                        \
    ULONG STDMETHODCALLTYPE Release() override                                                               \
    {                                                                                                        \
        return Inspectable<Primary>::Release();                                                              \
    }                                                                                                        \
    HRESULT STDMETHODCALLTYPE GetIids(ULONG* c, IID** i) override                                            \
    {                                                                                                        \
        return Inspectable<Primary>::GetIids(c, i);                                                          \
    }                                                                                                        \
    HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* n) override                                       \
    {                                                                                                        \
        return Inspectable<Primary>::GetRuntimeClassName(n);                                                 \
    }                                                                                                        \
    HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* l) override                                          \
    {                                                                                                        \
        return Inspectable<Primary>::GetTrustLevel(l);                                                       \
    }

// How a scripted operation ends.
struct Ending
{
    enum class When
    {
        AtOnce,      // before the caller sets its handler
        OtherThread, // 50 ms later, from another thread
        OnCancelOnly // never by itself
    } when = When::AtOnce;
    HRESULT error = S_OK; // a failure ends it as Error with this code
};

// IAsyncOperation<T> (or ...WithProgress, by `Base`) plus IAsyncInfo, ending as scripted.
template <typename Base, typename T> class Operation final : public Inspectable<Base>, public Abi::IAsyncInfo
{
public:
    Operation(const GUID& iid, T result, Ending ending) : iid_(iid), result_(result), ending_(ending)
    {
        if constexpr (std::is_pointer_v<T>)
            if (result_)
                result_->AddRef();
        if (ending.when == Ending::When::AtOnce)
            End(FAILED(ending.error) ? Abi::AsyncStatus::Error : Abi::AsyncStatus::Completed);
        else if (ending.when == Ending::When::OtherThread)
        {
            this->AddRef();
            std::thread([this] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                End(FAILED(ending_.error) ? Abi::AsyncStatus::Error : Abi::AsyncStatus::Completed);
                this->Release();
            }).detach();
        }
    }
    ~Operation() override
    {
        if (handler_)
            handler_->Release();
        if constexpr (std::is_pointer_v<T>)
            if (result_)
                result_->Release();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        if (asked == Abi::IAsyncInfo::Iid)
        {
            *out = static_cast<Abi::IAsyncInfo*>(this);
            this->AddRef();
            return S_OK;
        }
        return this->Answer(asked, iid_, out);
    }
    PD_TEST_FORWARD_INSPECTABLE(Base)

    HRESULT STDMETHODCALLTYPE put_Completed(Abi::IAsyncCompletedHandler* handler) override
    {
        {
            std::lock_guard lock(mutex_);
            if (handler_)
                return static_cast<HRESULT>(0x80000018L); // set once
            handler->AddRef();
            handler_ = handler;
        }
        FireIfEnded(); // at once for an operation that has already ended, as Windows does
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Completed(Abi::IAsyncCompletedHandler** handler) override
    {
        *handler = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetResults(T* result) override
    {
        std::lock_guard lock(mutex_);
        if (status_ == Abi::AsyncStatus::Started)
            return static_cast<HRESULT>(0x8000000EL);
        if (status_ == Abi::AsyncStatus::Canceled)
            return HRESULT_FROM_WIN32(ERROR_CANCELLED);
        if constexpr (std::is_pointer_v<T>)
            if (result_)
                result_->AddRef();
        *result = result_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_Id(std::uint32_t* id) override
    {
        *id = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Status(Abi::AsyncStatus* status) override
    {
        std::lock_guard lock(mutex_);
        *status = status_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT* code) override
    {
        std::lock_guard lock(mutex_);
        *code = status_ == Abi::AsyncStatus::Error ? ending_.error : S_OK;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Cancel() override
    {
        ++cancels;
        End(Abi::AsyncStatus::Canceled);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override { return S_OK; }

    std::atomic<int> cancels{0};

private:
    void End(Abi::AsyncStatus status)
    {
        {
            std::lock_guard lock(mutex_);
            if (status_ != Abi::AsyncStatus::Started)
                return;
            status_ = status;
        }
        FireIfEnded();
    }
    void FireIfEnded()
    {
        Abi::AsyncStatus status;
        {
            std::lock_guard lock(mutex_);
            if (!handler_ || fired_ || status_ == Abi::AsyncStatus::Started)
                return;
            fired_ = true;
            status = status_;
        }
        handler_->Invoke(static_cast<Base*>(this), status);
    }

    GUID iid_;
    T result_;
    Ending ending_;
    std::mutex mutex_;
    Abi::AsyncStatus status_ = Abi::AsyncStatus::Started;
    Abi::IAsyncCompletedHandler* handler_ = nullptr;
    bool fired_ = false;
};

// A fixed list of objects, one reference held on each; `failAt` scripts a walk that breaks at
// that index (ERROR_NOT_READY), as a device going away mid-listing does.
template <typename T> class Items
{
public:
    Items(std::vector<T*> taken, std::size_t failAt) : items_(std::move(taken)), failAt_(failAt) {}
    Items(const Items& other) : items_(other.items_), failAt_(other.failAt_)
    {
        for (T* item : items_)
            item->AddRef();
    }
    Items& operator=(const Items&) = delete;
    ~Items()
    {
        for (T* item : items_)
            item->Release();
    }
    std::uint32_t Size() const { return static_cast<std::uint32_t>(items_.size()); }
    HRESULT Hand(std::size_t index, T** item) const
    {
        *item = nullptr;
        if (index == failAt_)
            return HRESULT_FROM_WIN32(ERROR_NOT_READY);
        if (index >= items_.size())
            return static_cast<HRESULT>(0x8000000BL); // E_BOUNDS
        *item = items_[index];
        (*item)->AddRef();
        return S_OK;
    }

private:
    std::vector<T*> items_;
    std::size_t failAt_;
};

template <typename T> class Iterator final : public Inspectable<Abi::IIterator<T*>>
{
public:
    Iterator(const GUID& iid, Items<T> items) : iid_(iid), items_(std::move(items)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return this->Answer(asked, iid_, out);
    }
    HRESULT STDMETHODCALLTYPE get_Current(T** item) override { return items_.Hand(next_, item); }
    HRESULT STDMETHODCALLTYPE get_HasCurrent(Abi::Boolean* has) override
    {
        return *has = next_ < items_.Size(), S_OK;
    }
    HRESULT STDMETHODCALLTYPE MoveNext(Abi::Boolean* has) override
    {
        ++next_;
        return get_HasCurrent(has);
    }
    HRESULT STDMETHODCALLTYPE GetMany(std::uint32_t, T**, std::uint32_t*) override { return E_NOTIMPL; }

private:
    GUID iid_;
    Items<T> items_;
    std::uint32_t next_ = 0;
};

template <typename T> class Iterable final : public Inspectable<Abi::IIterable<T*>>
{
public:
    Iterable(const GUID& iid, const GUID& iteratorIid, Items<T> items)
        : iid_(iid), iteratorIid_(iteratorIid), items_(std::move(items))
    {
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return this->Answer(asked, iid_, out);
    }
    HRESULT STDMETHODCALLTYPE First(Abi::IIterator<T*>** first) override
    {
        *first = new Iterator<T>(iteratorIid_, items_);
        return S_OK;
    }

private:
    GUID iid_, iteratorIid_;
    Items<T> items_;
};

template <typename T> class VectorView final : public Inspectable<Abi::IVectorView<T*>>
{
public:
    VectorView(const GUID& iid, Items<T> items) : iid_(iid), items_(std::move(items)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID asked, void** out) override
    {
        return this->Answer(asked, iid_, out);
    }
    HRESULT STDMETHODCALLTYPE GetAt(std::uint32_t index, T** item) override
    {
        return items_.Hand(index, item);
    }
    HRESULT STDMETHODCALLTYPE get_Size(std::uint32_t* size) override { return *size = items_.Size(), S_OK; }
    HRESULT STDMETHODCALLTYPE IndexOf(T*, std::uint32_t*, Abi::Boolean*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMany(std::uint32_t, std::uint32_t, T**, std::uint32_t*) override
    {
        return E_NOTIMPL;
    }

private:
    GUID iid_;
    Items<T> items_;
};

} // namespace Pd::TestClasses
