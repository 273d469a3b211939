// Test-only iphlpapi.dll for the checks under Wine: GetAdaptersAddresses
// reports the simulated modem's mobile broadband adapter and nothing else.
// Wine has no such adapter; the service finds its modem through this call.
//
// The modem's state lives in the simulated modem's COM server. Its module is
// found through the class registration that ole32 reads for CoCreateInstance,
// so both load the same module and see one modem.
//
// Wine's own DLLs in the service's process import other calls from
// iphlpapi.dll (rpcrt4: GetAdaptersInfo; ws2_32, netapi32, dhcpcsvc: the
// rest below); a load or a call would fail without them. Those are passed
// on to Wine's iphlpapi.dll, loaded from the system folder by full path: it
// then loads as a module of its own beside this one.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <new>
#include <vector>

#include "sim_modem_adapter.h"

namespace {

constexpr IFTYPE kIfTypeWwanPp = 243;  // IF_TYPE_WWANPP; MinGW-w64 lacks the name
constexpr IF_INDEX kIfIndex = 12;
constexpr ULONG kMtu = 1500;
constexpr BYTE kPhysicalAddress[] = {0x02, 0x4B, 0x6E, 0x0E, 0x81, 0x01};
constexpr wchar_t kFriendlyName[] = L"Cellular";
constexpr wchar_t kDescription[] = L"TK42-N Mobile Broadband Adapter";
constexpr wchar_t kDnsSuffix[] = L"";
// A GUID in braces is 38 characters; room for a longer id all the same.
constexpr DWORD kAdapterNameCapacity = 128;

const wchar_t kServerKey[] = L"Software\\Classes\\CLSID\\" HALVEX_SIM_MODEM_CLSID_TEXT L"\\InprocServer32";

std::atomic<HalvexSimModemAdapterFn> g_modemAdapter{nullptr};

// The registered server's path; empty when the class is not registered.
std::vector<wchar_t> RegisteredServerPath()
{
    std::vector<wchar_t> path;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServerKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
        return path;
    }
    DWORD bytes = 0;
    LSTATUS status = ERROR_MORE_DATA;
    // RegGetValueW expands REG_EXPAND_SZ, as COM does. The value may grow
    // between the size query and the read, hence the loop.
    for (int attempt = 0; attempt < 4 && status == ERROR_MORE_DATA; ++attempt) {
        status = RegGetValueW(key, nullptr, nullptr, RRF_RT_REG_SZ, nullptr, nullptr, &bytes);
        if (status != ERROR_SUCCESS) {
            break;
        }
        path.assign(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = static_cast<DWORD>(path.size() * sizeof(wchar_t));
        status = RegGetValueW(key, nullptr, nullptr, RRF_RT_REG_SZ, nullptr, path.data(), &bytes);
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || path.empty() || path[0] == L'\0') {
        path.clear();
    }
    return path;
}

// The server's HalvexSimModemAdapter, or null while the server is not
// registered, not there or without the export. Once found, the module stays
// loaded for the life of the process.
HalvexSimModemAdapterFn ModemAdapterExport()
{
    if (HalvexSimModemAdapterFn found = g_modemAdapter.load(std::memory_order_acquire)) {
        return found;
    }
    std::vector<wchar_t> path = RegisteredServerPath();
    if (path.empty()) {
        return nullptr;
    }
    HMODULE module = LoadLibraryW(path.data());
    if (module == nullptr) {
        return nullptr;
    }
    // Through void(*)(): GCC accepts that cast to and from any function type.
    auto found = reinterpret_cast<HalvexSimModemAdapterFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, HALVEX_SIM_MODEM_ADAPTER_EXPORT)));
    if (found == nullptr) {
        FreeLibrary(module);
        return nullptr;
    }
    g_modemAdapter.store(found, std::memory_order_release);
    return found;
}

struct ModemAdapter {
    char name[kAdapterNameCapacity];
    DWORD operStatus;
};

bool QueryModemAdapter(ModemAdapter& adapter)
{
    HalvexSimModemAdapterFn query = ModemAdapterExport();
    if (query == nullptr) {
        return false;
    }
    std::memset(adapter.name, 0, sizeof(adapter.name));
    adapter.operStatus = IfOperStatusDown;
    if (!query(adapter.name, sizeof(adapter.name), &adapter.operStatus)) {
        return false;
    }
    // An id that fills the buffer without its terminator is not taken.
    const std::size_t length = strnlen(adapter.name, sizeof(adapter.name));
    return length > 0 && length < sizeof(adapter.name);
}

std::size_t AlignUp(std::size_t offset, std::size_t alignment)
{
    return (offset + alignment - 1) / alignment * alignment;
}

// Where each part of the one record goes, from the start of the caller's
// buffer: the record, then the strings it points at.
struct RecordLayout {
    std::size_t adapterName;
    std::size_t friendlyName;
    std::size_t description;
    std::size_t dnsSuffix;
    std::size_t size;
};

RecordLayout LayOut(const ModemAdapter& adapter)
{
    RecordLayout layout{};
    layout.adapterName = sizeof(IP_ADAPTER_ADDRESSES_LH);
    layout.friendlyName = AlignUp(layout.adapterName + std::strlen(adapter.name) + 1, alignof(wchar_t));
    layout.description = layout.friendlyName + sizeof(kFriendlyName);
    layout.dnsSuffix = layout.description + sizeof(kDescription);
    // A whole number of records' alignment, like the system's answers.
    layout.size = AlignUp(layout.dnsSuffix + sizeof(kDnsSuffix), alignof(IP_ADAPTER_ADDRESSES_LH));
    return layout;
}

void WriteRecord(const ModemAdapter& adapter, const RecordLayout& layout, BYTE* buffer)
{
    std::memset(buffer, 0, layout.size);
    auto* record = reinterpret_cast<IP_ADAPTER_ADDRESSES_LH*>(buffer);
    auto* name = reinterpret_cast<char*>(buffer + layout.adapterName);
    auto* friendlyName = reinterpret_cast<wchar_t*>(buffer + layout.friendlyName);
    auto* description = reinterpret_cast<wchar_t*>(buffer + layout.description);
    auto* dnsSuffix = reinterpret_cast<wchar_t*>(buffer + layout.dnsSuffix);
    std::memcpy(name, adapter.name, std::strlen(adapter.name) + 1);
    std::memcpy(friendlyName, kFriendlyName, sizeof(kFriendlyName));
    std::memcpy(description, kDescription, sizeof(kDescription));
    std::memcpy(dnsSuffix, kDnsSuffix, sizeof(kDnsSuffix));

    record->Length = sizeof(IP_ADAPTER_ADDRESSES_LH);
    record->IfIndex = kIfIndex;
    record->Next = nullptr;
    record->AdapterName = name;
    record->DnsSuffix = dnsSuffix;
    record->Description = description;
    record->FriendlyName = friendlyName;
    std::memcpy(record->PhysicalAddress, kPhysicalAddress, sizeof(kPhysicalAddress));
    record->PhysicalAddressLength = sizeof(kPhysicalAddress);
    record->Ipv4Enabled = 1;
    record->Ipv6Enabled = 1;
    record->Mtu = kMtu;
    record->IfType = kIfTypeWwanPp;
    record->OperStatus = static_cast<IF_OPER_STATUS>(adapter.operStatus);
    record->Ipv6IfIndex = kIfIndex;
    record->Luid.Info.IfType = kIfTypeWwanPp;
    record->Luid.Info.NetLuidIndex = kIfIndex;
    record->CompartmentId = 1;  // the default compartment
    record->ConnectionType = NET_IF_CONNECTION_DEDICATED;
    record->TunnelType = TUNNEL_TYPE_NONE;
}

extern "C" IMAGE_DOS_HEADER __ImageBase;  // this module, from the linker

std::atomic<HMODULE> g_systemIpHelper{nullptr};

// The system's iphlpapi.dll, or null when only this module answers to the name.
HMODULE SystemIpHelper()
{
    if (HMODULE found = g_systemIpHelper.load(std::memory_order_acquire)) {
        return found;
    }
    wchar_t path[MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    const wchar_t name[] = L"\\iphlpapi.dll";
    if (length == 0 || length + sizeof(name) / sizeof(name[0]) > MAX_PATH) {
        return nullptr;
    }
    std::wcscpy(path + length, name);
    HMODULE module = LoadLibraryExW(path, nullptr, 0);
    if (module == reinterpret_cast<HMODULE>(&__ImageBase)) {
        FreeLibrary(module);  // passing calls on to ourselves would never end
        return nullptr;
    }
    if (module != nullptr) {
        g_systemIpHelper.store(module, std::memory_order_release);
    }
    return module;
}

// Calls the system's export `name` with the caller's arguments; `failure`
// when it is not there.
template <typename Result, typename... Args>
Result PassOn(const char* name, Result failure, Args... args)
{
    HMODULE system = SystemIpHelper();
    if (system == nullptr) {
        return failure;
    }
    using Export = Result(WINAPI*)(Args...);
    auto call = reinterpret_cast<Export>(reinterpret_cast<void (*)()>(GetProcAddress(system, name)));
    return call != nullptr ? call(args...) : failure;
}

}  // namespace

extern "C" ULONG WINAPI GetAdaptersInfo(PIP_ADAPTER_INFO AdapterInfo, PULONG SizePointer)
{
    return PassOn("GetAdaptersInfo", ULONG{ERROR_NOT_SUPPORTED}, AdapterInfo, SizePointer);
}

extern "C" DWORD WINAPI GetBestRoute(DWORD dwDestAddr, DWORD dwSourceAddr, PMIB_IPFORWARDROW pBestRoute)
{
    return PassOn("GetBestRoute", DWORD{ERROR_NOT_SUPPORTED}, dwDestAddr, dwSourceAddr, pBestRoute);
}

extern "C" DWORD WINAPI GetIfEntry(PMIB_IFROW pIfRow)
{
    return PassOn("GetIfEntry", DWORD{ERROR_NOT_SUPPORTED}, pIfRow);
}

extern "C" DWORD WINAPI GetIpAddrTable(PMIB_IPADDRTABLE pIpAddrTable, PULONG pdwSize, WINBOOL bOrder)
{
    return PassOn("GetIpAddrTable", DWORD{ERROR_NOT_SUPPORTED}, pIpAddrTable, pdwSize, bOrder);
}

extern "C" DWORD WINAPI GetIpForwardTable(PMIB_IPFORWARDTABLE pIpForwardTable, PULONG pdwSize, WINBOOL bOrder)
{
    return PassOn("GetIpForwardTable", DWORD{ERROR_NOT_SUPPORTED}, pIpForwardTable, pdwSize, bOrder);
}

extern "C" NETIO_STATUS WINAPI ConvertInterfaceGuidToLuid(const GUID* InterfaceGuid, PNET_LUID InterfaceLuid)
{
    return PassOn("ConvertInterfaceGuidToLuid", NETIO_STATUS{ERROR_NOT_SUPPORTED}, InterfaceGuid, InterfaceLuid);
}

extern "C" NETIO_STATUS WINAPI ConvertInterfaceLuidToAlias(const NET_LUID* InterfaceLuid, PWSTR InterfaceAlias,
                                                           SIZE_T Length)
{
    return PassOn("ConvertInterfaceLuidToAlias", NETIO_STATUS{ERROR_NOT_SUPPORTED}, InterfaceLuid, InterfaceAlias,
                  Length);
}

extern "C" NETIO_STATUS WINAPI ConvertInterfaceNameToLuidW(const WCHAR* InterfaceName, NET_LUID* InterfaceLuid)
{
    return PassOn("ConvertInterfaceNameToLuidW", NETIO_STATUS{ERROR_NOT_SUPPORTED}, InterfaceName, InterfaceLuid);
}

extern "C" ULONG WINAPI GetAdaptersAddresses(ULONG Family, ULONG Flags, PVOID Reserved,
                                             PIP_ADAPTER_ADDRESSES AdapterAddresses, PULONG SizePointer)
{
    (void)Flags;
    (void)Reserved;
    if (SizePointer == nullptr || (Family != AF_UNSPEC && Family != AF_INET && Family != AF_INET6)) {
        return ERROR_INVALID_PARAMETER;
    }
    try {
        ModemAdapter adapter;
        if (!QueryModemAdapter(adapter)) {
            return ERROR_NO_DATA;
        }
        const RecordLayout layout = LayOut(adapter);
        if (AdapterAddresses == nullptr || *SizePointer < layout.size) {
            *SizePointer = static_cast<ULONG>(layout.size);
            return ERROR_BUFFER_OVERFLOW;
        }
        WriteRecord(adapter, layout, reinterpret_cast<BYTE*>(AdapterAddresses));
        return NO_ERROR;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}
