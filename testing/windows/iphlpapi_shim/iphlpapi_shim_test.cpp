// Checks the adapter shim under Wine, run with iphlpapi.dll overridden to the
// native one beside this program (see wine-test.sh). Each scenario runs in a
// child process of its own: the shim keeps the modem's module once loaded.
// The scenarios write the modem's class registration under HKLM; they refuse
// to run where it exists already.
//
// Usage: iphlpapi_shim_test.exe            runs every scenario
//        iphlpapi_shim_test.exe SCENARIO   runs one, in this process
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <rpc.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "sim_modem_adapter.h"

namespace {

const wchar_t kClassKey[] = L"Software\\Classes\\CLSID\\" HALVEX_SIM_MODEM_CLSID_TEXT;
const wchar_t kServerKey[] = L"Software\\Classes\\CLSID\\" HALVEX_SIM_MODEM_CLSID_TEXT L"\\InprocServer32";
const char kInterfaceId[] = "{3F2A6C1E-8B4D-4E7A-9D15-6C0B2E9A7F41}";

int g_failures = 0;

#define CHECK(condition)                                                                 \
    do {                                                                                 \
        if (!(condition)) {                                                              \
            std::printf("  FAIL line %d: %s\n", __LINE__, #condition);                   \
            ++g_failures;                                                                \
        }                                                                                \
    } while (0)
#define CHECK_EQ(expected, actual)                                                       \
    do {                                                                                 \
        const auto expected_ = (expected);                                               \
        const auto actual_ = (actual);                                                   \
        if (!(expected_ == actual_)) {                                                   \
            std::printf("  FAIL line %d: %s is %lld, expected %lld\n", __LINE__, #actual, \
                        static_cast<long long>(actual_), static_cast<long long>(expected_)); \
            ++g_failures;                                                                \
        }                                                                                \
    } while (0)

std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\'));
}

std::wstring FakeModemPath() { return ProgramFolder() + L"\\halvex_fake_modem.dll"; }

bool Register(DWORD type, const std::wstring& server)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kServerKey, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const LSTATUS status = RegSetValueExW(key, nullptr, 0, type, reinterpret_cast<const BYTE*>(server.c_str()),
                                          static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool IsRegistered()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClassKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

void Unregister()
{
    HKEY classes = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID", 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                      &classes) == ERROR_SUCCESS) {
        RegDeleteTreeW(classes, HALVEX_SIM_MODEM_CLSID_TEXT);
        RegCloseKey(classes);
    }
}

// The fake modem's controls, from the module the shim loads (same path, same module).
struct FakeModem {
    using SetFn = void(WINAPI*)(BOOL, const char*, DWORD);
    using QueriesFn = LONG(WINAPI*)();
    SetFn set = nullptr;
    QueriesFn queries = nullptr;

    bool Load()
    {
        HMODULE module = LoadLibraryW(FakeModemPath().c_str());
        if (module == nullptr) {
            return false;
        }
        set = reinterpret_cast<SetFn>(reinterpret_cast<void (*)()>(GetProcAddress(module, "HalvexFakeModemSet")));
        queries =
            reinterpret_cast<QueriesFn>(reinterpret_cast<void (*)()>(GetProcAddress(module, "HalvexFakeModemQueries")));
        return set != nullptr && queries != nullptr;
    }
};

// The service's two calls: the size for any family, then the IPv4 list.
struct Listing {
    ULONG sizeResult = 0;
    ULONG size = 0;
    ULONG result = 0;
    std::vector<ULONGLONG> buffer;
    const IP_ADAPTER_ADDRESSES* first() const
    {
        return reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());
    }
};

Listing ListLikeTheService()
{
    Listing listing;
    listing.sizeResult = GetAdaptersAddresses(AF_UNSPEC, 0, nullptr, nullptr, &listing.size);
    listing.buffer.resize((listing.size + sizeof(ULONGLONG) - 1) / sizeof(ULONGLONG));
    ULONG size = listing.size;
    listing.result = GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST, nullptr,
                                          reinterpret_cast<IP_ADAPTER_ADDRESSES*>(listing.buffer.data()), &size);
    return listing;
}

bool IsInside(const void* pointer, std::size_t bytes, const void* buffer, std::size_t size)
{
    const auto p = reinterpret_cast<std::uintptr_t>(pointer);
    const auto start = reinterpret_cast<std::uintptr_t>(buffer);
    return p >= start && p + bytes <= start + size;
}

bool IsAligned(const void* pointer, std::size_t alignment)
{
    return reinterpret_cast<std::uintptr_t>(pointer) % alignment == 0;
}

// The answer has exactly the one record a caller can walk and free with the
// buffer: everything inside the first `size` bytes, aligned for its type.
void CheckRecord(const void* buffer, ULONG size, const char* interfaceId, IF_OPER_STATUS operStatus)
{
    const auto* adapter = static_cast<const IP_ADAPTER_ADDRESSES*>(buffer);
    CHECK_EQ(sizeof(IP_ADAPTER_ADDRESSES_LH), adapter->Length);
    CHECK(adapter->Next == nullptr);
    CHECK_EQ(243, adapter->IfType);
    CHECK_EQ(operStatus, adapter->OperStatus);
    CHECK(adapter->IfIndex != 0);
    CHECK_EQ(1500, adapter->Mtu);
    CHECK_EQ(6, adapter->PhysicalAddressLength);
    CHECK(adapter->AdapterName != nullptr && std::strcmp(adapter->AdapterName, interfaceId) == 0);
    CHECK(adapter->FriendlyName != nullptr && std::wcscmp(adapter->FriendlyName, L"Cellular") == 0);
    CHECK(adapter->Description != nullptr &&
          std::wcscmp(adapter->Description, L"TK42-N Mobile Broadband Adapter") == 0);
    CHECK(adapter->DnsSuffix != nullptr && adapter->DnsSuffix[0] == L'\0');
    CHECK(adapter->FirstUnicastAddress == nullptr && adapter->FirstAnycastAddress == nullptr &&
          adapter->FirstMulticastAddress == nullptr && adapter->FirstDnsServerAddress == nullptr &&
          adapter->FirstPrefix == nullptr && adapter->FirstGatewayAddress == nullptr &&
          adapter->FirstWinsServerAddress == nullptr && adapter->FirstDnsSuffix == nullptr);
    CHECK(size >= sizeof(IP_ADAPTER_ADDRESSES_LH));
    if (adapter->AdapterName == nullptr || adapter->FriendlyName == nullptr || adapter->Description == nullptr ||
        adapter->DnsSuffix == nullptr) {
        return;
    }
    CHECK(IsInside(adapter->AdapterName, std::strlen(adapter->AdapterName) + 1, buffer, size));
    const wchar_t* wide[] = {adapter->FriendlyName, adapter->Description, adapter->DnsSuffix};
    for (const wchar_t* text : wide) {
        CHECK(IsAligned(text, alignof(wchar_t)));
        CHECK(IsInside(text, (std::wcslen(text) + 1) * sizeof(wchar_t), buffer, size));
    }
}

// The full call on a buffer of `size` bytes followed by a guard area; the
// guard must stay untouched.
ULONG CallWithGuard(ULONG family, ULONG size, ULONG* sizeOut, std::vector<ULONGLONG>& storage)
{
    constexpr std::size_t kGuardBytes = 256;
    storage.assign((size + kGuardBytes) / sizeof(ULONGLONG) + 1, 0);
    auto* bytes = reinterpret_cast<unsigned char*>(storage.data());
    std::memset(bytes, 0xA5, size + kGuardBytes);
    *sizeOut = size;
    const ULONG result =
        GetAdaptersAddresses(family, GAA_FLAG_SKIP_ANYCAST, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(bytes),
                             sizeOut);
    bool guardIntact = true;
    for (std::size_t i = size; i < size + kGuardBytes; ++i) {
        guardIntact = guardIntact && bytes[i] == 0xA5;
    }
    CHECK(guardIntact);
    return result;
}

void CheckParameterErrors()
{
    ULONG size = 0;
    CHECK_EQ(ERROR_INVALID_PARAMETER, GetAdaptersAddresses(AF_UNSPEC, 0, nullptr, nullptr, nullptr));
    CHECK_EQ(ERROR_INVALID_PARAMETER, GetAdaptersAddresses(AF_INET, 0, nullptr, nullptr, nullptr));
    CHECK_EQ(ERROR_INVALID_PARAMETER, GetAdaptersAddresses(AF_APPLETALK, 0, nullptr, nullptr, &size));
    CHECK_EQ(ERROR_INVALID_PARAMETER, GetAdaptersAddresses(99, 0, nullptr, nullptr, &size));
    CHECK_EQ(0, size);
}

void CheckNoAdapter()
{
    const Listing listing = ListLikeTheService();
    CHECK_EQ(ERROR_NO_DATA, listing.sizeResult);
    CHECK_EQ(ERROR_NO_DATA, listing.result);
}

// The process's iphlpapi.dll must be the shim beside this program, not Wine's.
bool ShimIsLoaded()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(L"iphlpapi.dll"), path, MAX_PATH);
    const std::wstring expected = ProgramFolder() + L"\\iphlpapi.dll";
    if (_wcsicmp(path, expected.c_str()) != 0) {
        std::printf("  iphlpapi.dll is %ls, not the shim %ls: is the override set?\n", path, expected.c_str());
        return false;
    }
    return true;
}

void ScenarioUnregistered()
{
    CheckParameterErrors();
    CheckNoAdapter();
}

void ScenarioMissingServer()
{
    CHECK(Register(REG_SZ, ProgramFolder() + L"\\no_such_server.dll"));
    CheckNoAdapter();
    CheckParameterErrors();
}

// A registered module without the export.
void ScenarioServerWithoutExport()
{
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    CHECK(Register(REG_SZ, std::wstring(system) + L"\\version.dll"));
    CheckNoAdapter();
}

// A REG_EXPAND_SZ registration is expanded, as COM does.
void ScenarioExpandedPath()
{
    SetEnvironmentVariableW(L"HALVEX_SHIM_TEST_FOLDER", ProgramFolder().c_str());
    CHECK(Register(REG_EXPAND_SZ, L"%HALVEX_SHIM_TEST_FOLDER%\\halvex_fake_modem.dll"));
    FakeModem modem;
    CHECK(modem.Load());
    if (modem.set == nullptr) {
        return;
    }
    modem.set(TRUE, kInterfaceId, IfOperStatusUp);
    const Listing listing = ListLikeTheService();
    CHECK_EQ(ERROR_BUFFER_OVERFLOW, listing.sizeResult);
    CHECK_EQ(NO_ERROR, listing.result);
}

void ScenarioModem()
{
    CHECK(Register(REG_SZ, FakeModemPath()));
    FakeModem modem;
    CHECK(modem.Load());
    if (modem.set == nullptr) {
        return;
    }

    // Registered, but no modem plugged in.
    modem.set(FALSE, "", 0);
    CheckNoAdapter();
    CHECK(modem.queries() >= 1);

    // The size query, with no buffer and with one too small by a byte.
    modem.set(TRUE, kInterfaceId, IfOperStatusUp);
    ULONG needed = 0;
    CHECK_EQ(ERROR_BUFFER_OVERFLOW, GetAdaptersAddresses(AF_UNSPEC, 0, nullptr, nullptr, &needed));
    CHECK(needed >= sizeof(IP_ADAPTER_ADDRESSES_LH) + sizeof(kInterfaceId));
    CHECK_EQ(0, needed % 8);
    ULONG size = 4096;
    CHECK_EQ(ERROR_BUFFER_OVERFLOW, GetAdaptersAddresses(AF_INET, 0, nullptr, nullptr, &size));
    CHECK_EQ(needed, size);
    std::vector<ULONGLONG> storage;
    CHECK_EQ(ERROR_BUFFER_OVERFLOW, CallWithGuard(AF_INET, needed - 1, &size, storage));
    CHECK_EQ(needed, size);

    // Exactly the size asked for, for each family.
    for (ULONG family : {AF_UNSPEC, AF_INET, AF_INET6}) {
        CHECK_EQ(NO_ERROR, CallWithGuard(family, needed, &size, storage));
        CheckRecord(storage.data(), needed, kInterfaceId, IfOperStatusUp);
    }

    // Each call asks the modem again.
    modem.set(TRUE, kInterfaceId, IfOperStatusDormant);
    Listing listing = ListLikeTheService();
    CHECK_EQ(NO_ERROR, listing.result);
    if (listing.result == NO_ERROR) {
        CheckRecord(listing.first(), listing.size, kInterfaceId, IfOperStatusDormant);
    }

    // Ids of either length parity: the wide strings after the id stay aligned.
    for (const char* id : {"{A}", "{AB}", "{3f2a6c1e-8b4d-4e7a-9d15-6c0b2e9a7f4}"}) {
        modem.set(TRUE, id, IfOperStatusUp);
        listing = ListLikeTheService();
        CHECK_EQ(NO_ERROR, listing.result);
        if (listing.result == NO_ERROR) {
            CheckRecord(listing.first(), listing.size, id, IfOperStatusUp);
        }
    }

    // An id the modem cannot hand over, and an empty one: no adapter.
    modem.set(TRUE, std::string(200, 'A').c_str(), IfOperStatusUp);
    CheckNoAdapter();
    modem.set(TRUE, "", IfOperStatusUp);
    CheckNoAdapter();

    // The module stays loaded once found, registration or not.
    Unregister();
    modem.set(TRUE, kInterfaceId, IfOperStatusUp);
    CHECK_EQ(NO_ERROR, ListLikeTheService().result);

    // The modem removed.
    modem.set(FALSE, "", 0);
    CheckNoAdapter();
    CheckParameterErrors();
}

// Wine's iphlpapi.dll, loaded by full path beside the shim.
HMODULE SystemIpHelper()
{
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    return LoadLibraryExW((std::wstring(system) + L"\\iphlpapi.dll").c_str(), nullptr, 0);
}

template <typename Fn>
Fn SystemExport(HMODULE system, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(system, name)));
}

// A table call's answer (the size query, then the table), as bytes.
template <typename Query>
std::vector<unsigned char> Table(Query query)
{
    ULONG size = 0;
    if (query(nullptr, &size) != ERROR_INSUFFICIENT_BUFFER && size == 0) {
        return {};
    }
    std::vector<unsigned char> table(size);
    const DWORD result = query(table.data(), &size);
    CHECK_EQ(NO_ERROR, result);
    table.resize(size);
    return table;
}

// The calls the shim passes on answer as Wine's own do, and the Wine DLLs that
// make them work in a process with the shim.
void ScenarioPassedOn()
{
    // First, while only the shim answers to the name: rpcrt4 asks
    // GetAdaptersInfo for the node of a sequential UUID, ws2_32 for the host's
    // own addresses. Without the calls passed on, both end the process.
    HMODULE shim = GetModuleHandleW(L"iphlpapi.dll");
    UUID uuid;
    const RPC_STATUS status = UuidCreateSequential(&uuid);
    CHECK(status == RPC_S_OK || status == RPC_S_UUID_LOCAL_ONLY);
    WSADATA wsa;
    CHECK_EQ(0, WSAStartup(MAKEWORD(2, 2), &wsa));
    char host[256] = {};
    CHECK_EQ(0, gethostname(host, sizeof(host)));
    CHECK(gethostbyname(host) != nullptr);
    WSACleanup();

    // Once the system's module is loaded, the name finds it rather than the
    // shim; the shim's own exports stay what the import table bound.
    HMODULE system = SystemIpHelper();
    CHECK(system != nullptr && shim != nullptr && system != shim);
    if (system == nullptr) {
        return;
    }
    CheckNoAdapter();

    using AdaptersInfoFn = ULONG(WINAPI*)(PIP_ADAPTER_INFO, PULONG);
    using AddrTableFn = DWORD(WINAPI*)(PMIB_IPADDRTABLE, PULONG, WINBOOL);
    using ForwardTableFn = DWORD(WINAPI*)(PMIB_IPFORWARDTABLE, PULONG, WINBOOL);
    using BestRouteFn = DWORD(WINAPI*)(DWORD, DWORD, PMIB_IPFORWARDROW);
    using IfEntryFn = DWORD(WINAPI*)(PMIB_IFROW);
    using NameToLuidFn = NETIO_STATUS(WINAPI*)(const WCHAR*, NET_LUID*);
    using LuidToAliasFn = NETIO_STATUS(WINAPI*)(const NET_LUID*, PWSTR, SIZE_T);
    using GuidToLuidFn = NETIO_STATUS(WINAPI*)(const GUID*, PNET_LUID);
    const auto systemAdaptersInfo = SystemExport<AdaptersInfoFn>(system, "GetAdaptersInfo");
    const auto systemAddrTable = SystemExport<AddrTableFn>(system, "GetIpAddrTable");
    const auto systemForwardTable = SystemExport<ForwardTableFn>(system, "GetIpForwardTable");
    const auto systemBestRoute = SystemExport<BestRouteFn>(system, "GetBestRoute");
    const auto systemIfEntry = SystemExport<IfEntryFn>(system, "GetIfEntry");
    const auto systemNameToLuid = SystemExport<NameToLuidFn>(system, "ConvertInterfaceNameToLuidW");
    const auto systemLuidToAlias = SystemExport<LuidToAliasFn>(system, "ConvertInterfaceLuidToAlias");
    const auto systemGuidToLuid = SystemExport<GuidToLuidFn>(system, "ConvertInterfaceGuidToLuid");

    const auto adaptersInfo = [](void* table, ULONG* size) {
        return GetAdaptersInfo(static_cast<PIP_ADAPTER_INFO>(table), size);
    };
    const auto systemAdapters = [&](void* table, ULONG* size) {
        return systemAdaptersInfo(static_cast<PIP_ADAPTER_INFO>(table), size);
    };
    CHECK(Table(adaptersInfo).size() == Table(systemAdapters).size());
    const auto addrTable = [](void* table, ULONG* size) {
        return GetIpAddrTable(static_cast<PMIB_IPADDRTABLE>(table), size, TRUE);
    };
    const auto systemAddr = [&](void* table, ULONG* size) {
        return systemAddrTable(static_cast<PMIB_IPADDRTABLE>(table), size, TRUE);
    };
    const std::vector<unsigned char> addresses = Table(addrTable);
    CHECK(!addresses.empty());
    CHECK(addresses == Table(systemAddr));
    const auto forwardTable = [](void* table, ULONG* size) {
        return GetIpForwardTable(static_cast<PMIB_IPFORWARDTABLE>(table), size, TRUE);
    };
    const auto systemForward = [&](void* table, ULONG* size) {
        return systemForwardTable(static_cast<PMIB_IPFORWARDTABLE>(table), size, TRUE);
    };
    CHECK(Table(forwardTable) == Table(systemForward));

    const DWORD loopback = htonl(INADDR_LOOPBACK);
    MIB_IPFORWARDROW route{}, systemRoute{};
    CHECK_EQ(systemBestRoute(loopback, 0, &systemRoute), GetBestRoute(loopback, 0, &route));
    CHECK(std::memcmp(&route, &systemRoute, sizeof(route)) == 0);

    // The first address's interface, by index, name and alias.
    if (addresses.size() >= sizeof(MIB_IPADDRTABLE)) {
        const auto* table = reinterpret_cast<const MIB_IPADDRTABLE*>(addresses.data());
        MIB_IFROW row{}, systemRow{};
        row.dwIndex = systemRow.dwIndex = table->table[0].dwIndex;
        CHECK_EQ(NO_ERROR, GetIfEntry(&row));
        CHECK_EQ(NO_ERROR, systemIfEntry(&systemRow));
        CHECK(std::wcscmp(row.wszName, systemRow.wszName) == 0 && row.dwType == systemRow.dwType);

        NET_LUID luid{}, systemLuid{};
        CHECK_EQ(systemNameToLuid(row.wszName, &systemLuid), ConvertInterfaceNameToLuidW(row.wszName, &luid));
        CHECK_EQ(systemLuid.Value, luid.Value);
        wchar_t alias[IF_MAX_STRING_SIZE + 1] = {}, systemAlias[IF_MAX_STRING_SIZE + 1] = {};
        CHECK_EQ(systemLuidToAlias(&luid, systemAlias, IF_MAX_STRING_SIZE + 1),
                 ConvertInterfaceLuidToAlias(&luid, alias, IF_MAX_STRING_SIZE + 1));
        CHECK(std::wcscmp(alias, systemAlias) == 0);
    }
    const GUID unknown = {0x3F2A6C1E, 0x8B4D, 0x4E7A, {0x9D, 0x15, 0x6C, 0x0B, 0x2E, 0x9A, 0x7F, 0x41}};
    NET_LUID luid{}, systemLuid{};
    CHECK_EQ(systemGuidToLuid(&unknown, &systemLuid), ConvertInterfaceGuidToLuid(&unknown, &luid));

}

struct Scenario {
    const char* name;
    void (*run)();
};

const Scenario kScenarios[] = {
    {"unregistered", ScenarioUnregistered},
    {"missing-server", ScenarioMissingServer},
    {"server-without-export", ScenarioServerWithoutExport},
    {"expanded-path", ScenarioExpandedPath},
    {"modem", ScenarioModem},
    {"passed-on", ScenarioPassedOn},
};

int RunScenario(const char* name)
{
    for (const Scenario& scenario : kScenarios) {
        if (std::strcmp(scenario.name, name) != 0) {
            continue;
        }
        if (!ShimIsLoaded()) {
            return 2;
        }
        scenario.run();
        Unregister();
        return g_failures == 0 ? 0 : 1;
    }
    std::printf("unknown scenario %s\n", name);
    return 2;
}

DWORD RunChild(const char* name)
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" ";
    for (const char* c = name; *c != '\0'; ++c) {
        command += static_cast<wchar_t>(*c);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return 3;
    }
    DWORD code = 3;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    } else {
        TerminateProcess(process.hProcess, 3);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

}  // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc == 2) {
        return RunScenario(argv[1]);
    }
    if (IsRegistered()) {
        std::printf("iphlpapi_shim_test: %ls is registered already; run in a fresh Wine prefix\n",
                    HALVEX_SIM_MODEM_CLSID_TEXT);
        return 2;
    }
    int failed = 0;
    for (const Scenario& scenario : kScenarios) {
        const DWORD code = RunChild(scenario.name);
        std::printf("%s %s\n", code == 0 ? "ok  " : "FAIL", scenario.name);
        failed += code == 0 ? 0 : 1;
    }
    Unregister();
    std::printf("iphlpapi_shim_test: %d of %d scenarios failed\n", failed,
                static_cast<int>(sizeof(kScenarios) / sizeof(kScenarios[0])));
    return failed == 0 ? 0 : 1;
}
