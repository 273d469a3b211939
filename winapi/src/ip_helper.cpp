#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstring>
#include <string>
#include <vector>

#include "sim/machine.h"

namespace {

constexpr size_t Align8(size_t size)
{
    return (size + 7) & ~static_cast<size_t>(7);
}

// One record and its texts, each kept 8-byte aligned as the list is laid out.
size_t RecordSize(const sim::NetworkAdapter& adapter)
{
    return Align8(sizeof(IP_ADAPTER_ADDRESSES)) + Align8(adapter.name.size() + 1) +
           Align8((adapter.description.size() + 1) * sizeof(WCHAR)) * 2 + Align8(sizeof(WCHAR));
}

// Copies a text behind the record; returns where it starts.
template <class Char>
Char* Place(BYTE*& cursor, const std::basic_string<Char>& text)
{
    auto* placed = reinterpret_cast<Char*>(cursor);
    std::memcpy(placed, text.c_str(), (text.size() + 1) * sizeof(Char));
    cursor += Align8((text.size() + 1) * sizeof(Char));
    return placed;
}

}  // namespace

ULONG GetAdaptersAddresses(ULONG family, ULONG, PVOID reserved, PIP_ADAPTER_ADDRESSES addresses,
                           PULONG sizePointer)
{
    if (reserved != nullptr || sizePointer == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (family == AF_INET6) {
        return ERROR_NOT_SUPPORTED;  // IPv6 bindings are not simulated
    }
    if (family != AF_UNSPEC && family != AF_INET) {
        return ERROR_INVALID_PARAMETER;
    }
    std::vector<sim::NetworkAdapter> listed;
    for (const sim::NetworkAdapter& adapter : sim::Machine::Get().network().Adapters()) {
        if (family == AF_UNSPEC || adapter.ipv4) {
            listed.push_back(adapter);
        }
    }
    if (listed.empty()) {
        return ERROR_NO_DATA;
    }
    size_t needed = 0;
    for (const sim::NetworkAdapter& adapter : listed) {
        needed += RecordSize(adapter);
    }
    if (addresses == nullptr || *sizePointer < needed) {
        *sizePointer = static_cast<ULONG>(needed);
        return ERROR_BUFFER_OVERFLOW;
    }
    std::memset(addresses, 0, needed);
    auto* cursor = reinterpret_cast<BYTE*>(addresses);
    IP_ADAPTER_ADDRESSES* previous = nullptr;
    for (size_t i = 0; i < listed.size(); ++i) {
        const sim::NetworkAdapter& adapter = listed[i];
        auto* record = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(cursor);
        cursor += Align8(sizeof(IP_ADAPTER_ADDRESSES));
        record->Length = sizeof(IP_ADAPTER_ADDRESSES);
        record->IfIndex = static_cast<IF_INDEX>(i + 1);
        record->AdapterName = Place(cursor, adapter.name);
        const std::wstring description = sim::Widen(adapter.description);
        record->Description = Place(cursor, description);
        record->FriendlyName = Place(cursor, description);
        record->DnsSuffix = Place(cursor, std::wstring());
        record->IfType = adapter.ifType;
        record->OperStatus = static_cast<IF_OPER_STATUS>(adapter.operStatus);
        if (previous != nullptr) {
            previous->Next = record;
        }
        previous = record;
    }
    return ERROR_SUCCESS;
}
