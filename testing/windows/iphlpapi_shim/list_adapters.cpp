// Lists the network adapters as the service sees them, for a look at the shim
// and the simulated modem under Wine (run with the same iphlpapi override as
// the service, for this program's name). Like the service's process it first
// creates the modem's class in a multithreaded apartment, then asks for the
// size and for the IPv4 list. Prints what it finds; the exit code is the
// second call's result (0, or 232 ERROR_NO_DATA when there is no adapter).
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <objbase.h>

#include <cstdio>
#include <vector>

namespace {

// The class the simulated modem's server registers.
constexpr CLSID kModemClass = {0xBDFEE05B, 0x4418, 0x11DD, {0x90, 0xED, 0x00, 0x1C, 0x25, 0x7C, 0xCF, 0xF1}};

}  // namespace

int main()
{
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(L"iphlpapi.dll"), module, MAX_PATH);
    std::printf("iphlpapi.dll: %ls\n", module);

    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IUnknown* modem = nullptr;
    const HRESULT created =
        CoCreateInstance(kModemClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&modem));
    std::printf("CoCreateInstance of the modem's class: 0x%08lX\n", static_cast<unsigned long>(created));

    ULONG size = 0;
    const ULONG sizeResult = GetAdaptersAddresses(AF_UNSPEC, 0, nullptr, nullptr, &size);
    std::vector<ULONGLONG> buffer((size + sizeof(ULONGLONG) - 1) / sizeof(ULONGLONG));
    auto* adapters = reinterpret_cast<PIP_ADAPTER_ADDRESSES>(buffer.data());
    const ULONG result = GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST, nullptr, adapters, &size);
    std::printf("GetAdaptersAddresses: %lu (size query: %lu, %lu bytes)\n", result, sizeResult, size);
    for (PIP_ADAPTER_ADDRESSES adapter = result == NO_ERROR ? adapters : nullptr; adapter != nullptr;
         adapter = adapter->Next) {
        std::printf("adapter %s IfType %lu OperStatus %d IfIndex %lu \"%ls\" \"%ls\"\n", adapter->AdapterName,
                    adapter->IfType, static_cast<int>(adapter->OperStatus), adapter->IfIndex, adapter->FriendlyName,
                    adapter->Description);
    }

    if (modem != nullptr) {
        modem->Release();
    }
    if (SUCCEEDED(init)) {
        CoUninitialize();
    }
    return static_cast<int>(result);
}
