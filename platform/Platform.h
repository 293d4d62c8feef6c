// The platform seam: Windows services that this build cannot simply call, and the accessors that
// decide whether the real service or the simulator answers.
//
// Three kinds of Windows service meet the product:
//  1. Declared by mingw-w64 and implemented by Wine (registry, kernel objects, WinHTTP, Task
//     Scheduler, ...): product code calls them directly; nothing of them is here.
//  2. Declared by mingw-w64 but missing from Wine (the Host Compute Service, Hyper-V sockets,
//     WMI's optional features, ...): the real calls live here, loaded at run time with
//     LoadLibraryExW(LOAD_LIBRARY_SEARCH_SYSTEM32) and GetProcAddress, never import-linked (an
//     exe that imports a DLL Wine lacks does not start). A missing DLL or function makes the
//     service unavailable, and the product takes its ordinary failure path.
//  3. Not declared by mingw-w64 (the Windows Runtime: package manager, Bluetooth LE, ...): a
//     small synchronous interface of our own, written from what the product expects of it,
//     with errors as an HRESULT and a text (Pd::Platform::Error). Behind it, the real adapter
//     calls the Windows Runtime through our own ABI declarations (platform/winrt/); a service
//     without an adapter yet answers "unavailable".
//
// The accessors are chosen when an exe is linked, and product libraries are built once:
//  - Peldra.exe, the shipped program, links pd_platform_shipped (ShippedServices.cpp): every
//    accessor returns the real service. It holds no simulator, ignores PELDRA_SIMULATION, and
//    trusts only the publisher compiled into it.
//  - Peldra-simulated.exe and the test exes link pd_platform_simulated
//    (sim/SimulatedServices.cpp): while the environment variable PELDRA_SIMULATION names a folder
//    that holds scenario.json (the simulated PC), the simulator (platform/sim/) stands in for
//    every case-2 and case-3 service, the Windows version report and the trusted publisher.
//    State that changes (a stopped VM, packages) is kept in that folder, so that separate
//    processes see the same PC. Without the variable they too get the real services.
//
// Adding a service:
//  - declare its interface in its own header here (an abstract class for a service with
//    several calls, a free function for a single query), in namespace Pd::Platform;
//  - put the real implementation (or the unavailable one) here, as a function in
//    Pd::Platform::Real declared in RealServices.h;
//  - give it one accessor, defined twice: in ShippedServices.cpp returning the real one, and in
//    sim/SimulatedServices.cpp returning the simulator's when Sim::ActiveScenarioFolder() is set,
//    else the real one;
//  - put the simulated implementation in platform/sim/, reading its part of scenario.json: its
//    section (the keys' description, the struct and the reader) goes beside it in
//    Sim<Part>Scenario.h/.cpp, and its top-level keys into the tables of sim/Scenario.h and .cpp;
//  - test both: the real one as far as Wine allows, the simulated one against scenarios.
// Product code calls only the accessor: it never learns whether it runs simulated.
#pragma once

#include <windows.h>

#include <expected>
#include <string>

namespace Pd::Platform
{

// The failure of a case-3 service call: the HRESULT and a text for logs and messages, and what
// the failed operation itself said, where it says more than its code (a deployment's error text).
struct Error
{
    HRESULT code = E_FAIL;
    std::wstring text;
    std::wstring detail = {};
};

template <typename T = void> using Outcome = std::expected<T, Error>;

inline std::unexpected<Error> Failure(HRESULT code, std::wstring text)
{
    return std::unexpected<Error>(Error{code, std::move(text)});
}

} // namespace Pd::Platform
