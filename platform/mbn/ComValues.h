// Owners and readers of the OLE automation values the Mobile Broadband interfaces exchange:
// BSTR texts and SAFEARRAYs of interface pointers.
#pragma once

#include "core/Handles.h"
#include "platform/Platform.h"

#include <oleauto.h>

#include <string>
#include <vector>

namespace Pd::Platform::Mbn
{

using UniqueSafeArray = Unique<SAFEARRAY*, &::SafeArrayDestroy>; // an out-parameter SAFEARRAY

// A BSTR's text, all of it (it may hold NULs); a null BSTR is the empty text.
std::wstring TextOf(BSTR text);

// The elements of a one-dimensional array of interface pointers (VT_UNKNOWN or VT_DISPATCH),
// each with a reference of its own; null elements stay null. A null array has none; an array of
// any other shape is refused with E_INVALIDARG under `step`.
Outcome<std::vector<ComPtr<IUnknown>>> InterfacesIn(SAFEARRAY* array, const std::wstring& step);

} // namespace Pd::Platform::Mbn
