// What the test classes share: reading the test's script from the environment, noting calls in
// PD_TEST_CALLS, strings, and the factories of the classes kept in files of their own.
#pragma once

#include "tests/support/winrt-classes/TestObjects.h"

#include <activation.h>
#include <hstring.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Pd::TestClasses
{

std::wstring Script(const wchar_t* name);
void Note(const std::wstring& call);
std::wstring TextOf(HSTRING value);
HSTRING MakeString(const std::wstring& text);
std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator);
std::vector<std::uint8_t> Bytes(const std::wstring& hex);

// "thread", "error <hex> <text>", "start <hex>", "hang", or anything else: at once.
struct Scripted
{
    Ending ending;
    HRESULT startFails = S_OK;
    std::wstring rest; // the error text, or the result value
};
Scripted ReadScript(const wchar_t* name);

// PD_TEST_UNREGISTERED names a class whose factory is refused as an unregistered class's is.
bool Unregistered(const std::wstring& className);

// The factories of the classes these files stand for; null for a class they do not know.
IActivationFactory* MakeBluetoothLeFactory(const std::wstring& className);
IActivationFactory* MakeConnectivityFactory(const std::wstring& className);
IActivationFactory* MakeSmsFactory(const std::wstring& className);

// A buffer holding `bytes` (IBuffer with IBufferByteAccess).
Abi::IBuffer* MakeByteBuffer(std::vector<std::uint8_t> bytes);
IActivationFactory* MakeBluetoothAdapterFactory(const std::wstring& className);

} // namespace Pd::TestClasses
