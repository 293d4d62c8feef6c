// Prints what Windows reports of running processes, found by image name (the first of each):
//   pd_process_meter <image.exe>...
//   -> <image> <pid> <threads> <cpu 100 ns, kernel + user> <private bytes> <peak working set>
// or "<image> missing" / "<image> refused <error>".
#include "core/Handles.h"

#include <psapi.h>
#include <tlhelp32.h>
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace
{

ULONGLONG Ticks(const FILETIME& time)
{
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

int Measure(const wchar_t* image)
{
    Pd::UniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    bool found = snapshot && ::Process32FirstW(snapshot.Get(), &entry);
    while (found && _wcsicmp(entry.szExeFile, image) != 0)
        found = ::Process32NextW(snapshot.Get(), &entry);
    if (!found)
        return std::wprintf(L"%ls missing\n", image), 1;
    Pd::UniqueHandle process(
        ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, entry.th32ProcessID));
    FILETIME created, exited, kernel, user;
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof(memory);
    if (!process || !::GetProcessTimes(process.Get(), &created, &exited, &kernel, &user) ||
        !::GetProcessMemoryInfo(process.Get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                                sizeof(memory)))
        return std::wprintf(L"%ls refused %lu\n", image, ::GetLastError()), 1;
    std::wprintf(L"%ls %lu %lu %llu %llu %llu\n", image, entry.th32ProcessID, entry.cntThreads,
                 Ticks(kernel) + Ticks(user), static_cast<ULONGLONG>(memory.PrivateUsage),
                 static_cast<ULONGLONG>(memory.PeakWorkingSetSize));
    return 0;
}

} // namespace

int wmain(int count, wchar_t** words)
{
    int failed = 0;
    for (int at = 1; at < count; ++at)
        failed |= Measure(words[at]);
    return failed;
}
