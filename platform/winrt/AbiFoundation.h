// Our declarations of the Windows Runtime foundation interfaces this program calls: async
// operations and their completion handlers, collections, property values, URIs and buffers.
// Only the vtable slots up to the last one called are declared; the order, the parameter types
// and the interface ids follow the published ABI (checked by the platform tests).
#pragma once

#include "platform/winrt/TypeIid.h"

#include <windows.h>

#include <hstring.h>
#include <inspectable.h>

#include <cstdint>

namespace Pd::Platform::WinRt::Abi
{

using Boolean = std::uint8_t; // one byte, 0 or 1
using EventToken = std::int64_t;

enum class AsyncStatus : std::int32_t
{
    Started = 0,
    Completed = 1,
    Canceled = 2,
    Error = 3,
};

inline constexpr GUID IidInspectable = GuidOf("af86e2e0-b12d-4c6a-9c5a-d7aa65101e90");
inline constexpr GUID IidActivationFactory = GuidOf("00000035-0000-0000-c000-000000000046");
inline constexpr GUID IidAgileObject = GuidOf("94ea2b94-e9cc-49e0-c0ff-ee64ca8f5b90");

struct IAsyncInfo : IInspectable
{
    static constexpr GUID Iid = GuidOf("00000036-0000-0000-c000-000000000046");
    virtual HRESULT STDMETHODCALLTYPE get_Id(std::uint32_t* id) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Status(AsyncStatus* status) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT* code) = 0;
    virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};

// Every completion handler (AsyncOperationCompletedHandler<T>, AsyncOperationWithProgress...,
// AsyncActionCompletedHandler) has this one shape; only its interface id differs.
struct IAsyncCompletedHandler : IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE Invoke(IInspectable* asyncInfo, AsyncStatus status) = 0;
};

// TypedEventHandler<TSender, TResult> over reference types, whatever the two types are.
struct ITypedEventHandler : IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE Invoke(IInspectable* sender, IInspectable* args) = 0;
};

struct IAsyncAction : IInspectable
{
    static constexpr GUID Iid = GuidOf("5a648006-843a-4da9-865b-9d26e5dfad7b");
    static constexpr GUID HandlerIid = GuidOf("a4ed5c81-76c9-40bd-8be6-b1d90fb20ae7");
    virtual HRESULT STDMETHODCALLTYPE put_Completed(IAsyncCompletedHandler* handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Completed(IAsyncCompletedHandler** handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetResults() = 0;
};

// IAsyncOperation<T>; T is the ABI type of the result (an interface pointer, an int32 enum, ...).
template <typename T> struct IAsyncOperation : IInspectable
{
    virtual HRESULT STDMETHODCALLTYPE put_Completed(IAsyncCompletedHandler* handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Completed(IAsyncCompletedHandler** handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetResults(T* result) = 0;
};

// IAsyncOperationWithProgress<T, P>: the progress handler slots come first.
template <typename T> struct IAsyncOperationWithProgress : IInspectable
{
    virtual HRESULT STDMETHODCALLTYPE put_Progress(IUnknown* handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Progress(IUnknown** handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Completed(IAsyncCompletedHandler* handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Completed(IAsyncCompletedHandler** handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetResults(T* result) = 0;
};

template <typename T> struct IIterator : IInspectable
{
    virtual HRESULT STDMETHODCALLTYPE get_Current(T* current) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_HasCurrent(Boolean* hasCurrent) = 0;
    virtual HRESULT STDMETHODCALLTYPE MoveNext(Boolean* hasCurrent) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMany(std::uint32_t capacity, T* items, std::uint32_t* actual) = 0;
};

template <typename T> struct IIterable : IInspectable
{
    virtual HRESULT STDMETHODCALLTYPE First(IIterator<T>** first) = 0;
};

template <typename T> struct IVectorView : IInspectable
{
    virtual HRESULT STDMETHODCALLTYPE GetAt(std::uint32_t index, T* item) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Size(std::uint32_t* size) = 0;
    virtual HRESULT STDMETHODCALLTYPE IndexOf(T item, std::uint32_t* index, Boolean* found) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMany(std::uint32_t start, std::uint32_t capacity, T* items,
                                              std::uint32_t* actual) = 0;
};

template <typename K, typename V> struct IMap : IInspectable
{
    virtual HRESULT STDMETHODCALLTYPE Lookup(K key, V* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Size(std::uint32_t* size) = 0;
    virtual HRESULT STDMETHODCALLTYPE HasKey(K key, Boolean* found) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetView(IInspectable** view) = 0;
    virtual HRESULT STDMETHODCALLTYPE Insert(K key, V value, Boolean* replaced) = 0;
    virtual HRESULT STDMETHODCALLTYPE Remove(K key) = 0;
    virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
};

struct IPropertyValueStatics : IInspectable
{
    static constexpr GUID Iid = GuidOf("629bdbc8-d932-4ff4-96b9-8d96c5c1e858");
    virtual HRESULT STDMETHODCALLTYPE CreateEmpty(IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateUInt8(std::uint8_t in, IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateInt16(std::int16_t in, IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateUInt16(std::uint16_t in, IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateInt32(std::int32_t in, IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateUInt32(std::uint32_t in, IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateInt64(std::int64_t in, IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateUInt64(std::uint64_t in, IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateSingle(float in, IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateDouble(double in, IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateChar16(wchar_t in, IInspectable** value) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateBoolean(Boolean in, IInspectable** value) = 0;
};

struct IPropertyValue : IInspectable
{
    static constexpr GUID Iid = GuidOf("4bd682dd-7554-40e9-9a9b-82654ede7e62");
    virtual HRESULT STDMETHODCALLTYPE get_Type(std::int32_t* type) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsNumericScalar(Boolean* numeric) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetUInt8(std::uint8_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInt16(std::int16_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetUInt16(std::uint16_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInt32(std::int32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetUInt32(std::uint32_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInt64(std::int64_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetUInt64(std::uint64_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSingle(float* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDouble(double* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetChar16(wchar_t* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBoolean(Boolean* value) = 0;
};

struct IUriRuntimeClass : IInspectable
{
    static constexpr GUID Iid = GuidOf("9e365e57-48b2-4160-956f-c7385120bbfc");
    virtual HRESULT STDMETHODCALLTYPE get_AbsoluteUri(HSTRING* value) = 0;
};

struct IUriRuntimeClassFactory : IInspectable
{
    static constexpr GUID Iid = GuidOf("44a9796f-723e-4fdf-a218-033e75b0c084");
    virtual HRESULT STDMETHODCALLTYPE CreateUri(HSTRING uri, IUriRuntimeClass** instance) = 0;
};

struct IBuffer : IInspectable
{
    static constexpr GUID Iid = GuidOf("905a0fe0-bc53-11df-8c49-001e4fc686da");
    virtual HRESULT STDMETHODCALLTYPE get_Capacity(std::uint32_t* capacity) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Length(std::uint32_t* length) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Length(std::uint32_t length) = 0;
};

struct IBufferFactory : IInspectable
{
    static constexpr GUID Iid = GuidOf("71af914d-c10f-484b-bc50-14bc623b3a27");
    virtual HRESULT STDMETHODCALLTYPE Create(std::uint32_t capacity, IBuffer** buffer) = 0;
};

struct IBufferByteAccess : IUnknown
{
    static constexpr GUID Iid = GuidOf("905a0fef-bc53-11df-8c49-001e4fc686da");
    virtual HRESULT STDMETHODCALLTYPE Buffer(BYTE** bytes) = 0;
};

// Generic definitions, whose instances' ids come from their signatures.
inline constexpr GUID PinterfaceAsyncOperation = GuidOf("9fc2b0bb-e446-44e2-aa61-9cab8f636af2");
inline constexpr GUID PinterfaceIterable = GuidOf("faa585ea-6214-4217-afda-7f46de5869b3");

namespace Instances
{
inline constexpr TypeInstance MapStringObject =
    Instance("pinterface({3c2925fe-8519-45c1-aa79-197b6718c1c1};string;cinterface(IInspectable))");
inline constexpr TypeInstance IterableString =
    Instance("pinterface({faa585ea-6214-4217-afda-7f46de5869b3};string)");
inline constexpr TypeInstance IteratorString =
    Instance("pinterface({6a79e863-4300-459a-9966-cbb660963ee1};string)");
inline constexpr TypeInstance VectorViewString =
    Instance("pinterface({bbe1fa4c-b0e3-4583-baef-1f1b2e483e56};string)");
} // namespace Instances

} // namespace Pd::Platform::WinRt::Abi
