#include "platform/DnsQuery.h"

#include "core/Handles.h"
#include "platform/RealServices.h"

#include <windns.h>

#include <fmt/xchar.h>

#include <cstring>
#include <memory>

namespace Pd::Platform
{
namespace
{

// DNS_QUERY_REQUEST (version 1), which mingw-w64 does not declare.
struct DnsQueryRequest
{
    ULONG version;
    PCWSTR queryName;
    WORD queryType;
    ULONG64 queryOptions;
    PVOID dnsServerList;
    ULONG interfaceIndex;
    PVOID completionCallback;
    PVOID queryContext;
};

using DnsQueryExFunction = DNS_STATUS(WINAPI*)(DnsQueryRequest*, DNS_QUERY_RESULT*, PVOID cancelHandle);

DnsQueryExFunction LoadDnsQueryEx()
{
    static const DnsQueryExFunction function = [] {
        HMODULE module = ::LoadLibraryExW(L"dnsapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        return module ? reinterpret_cast<DnsQueryExFunction>(
                            reinterpret_cast<void*>(::GetProcAddress(module, "DnsQueryEx")))
                      : nullptr;
    }(); // the module stays loaded for the process
    return function;
}

Error DnsFailure(DNS_STATUS status)
{
    return Error{HRESULT_FROM_WIN32(status), fmt::format(L"DnsQueryEx failed ({})", status)};
}

Outcome<std::vector<std::vector<std::uint8_t>>> QueryWindows(const std::wstring& name, WORD type,
                                                             std::uint32_t interfaceIndex)
{
    DnsQueryExFunction dnsQueryEx = LoadDnsQueryEx();
    if (!dnsQueryEx)
        return std::unexpected(DnsFailure(ERROR_PROC_NOT_FOUND));
    DnsQueryRequest request{
        DNS_QUERY_REQUEST_VERSION1, name.c_str(), type, 0, nullptr, interfaceIndex, nullptr, nullptr};
    DNS_QUERY_RESULT result{};
    result.Version = DNS_QUERY_RESULTS_VERSION1;
    DNS_STATUS status = dnsQueryEx(&request, &result, nullptr);
    if (status != ERROR_SUCCESS)
        return std::unexpected(DnsFailure(status));

    auto freeRecords = [](DNS_RECORDW* records) { ::DnsFree(records, DnsFreeRecordList); };
    std::unique_ptr<DNS_RECORDW, decltype(freeRecords)> records(
        reinterpret_cast<DNS_RECORDW*>(result.pQueryRecords), freeRecords);
    std::vector<std::vector<std::uint8_t>> addresses;
    for (const DNS_RECORDW* record = records.get(); record; record = record->pNext)
    {
        if (record->wType != type)
            continue;
        if (type == DnsTypeA && record->wDataLength >= sizeof(IP4_ADDRESS))
        {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(&record->Data.A.IpAddress);
            addresses.emplace_back(bytes, bytes + 4);
        }
        else if (type == DnsTypeAaaa && record->wDataLength >= sizeof(IP6_ADDRESS))
        {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(&record->Data.AAAA.Ip6Address);
            addresses.emplace_back(bytes, bytes + 16);
        }
    }
    return addresses;
}

} // namespace

Outcome<std::vector<std::vector<std::uint8_t>>> Real::QueryInterfaceDns(const std::wstring& name, WORD type,
                                                                        std::uint32_t interfaceIndex)
{
    return QueryWindows(name, type, interfaceIndex);
}

} // namespace Pd::Platform
