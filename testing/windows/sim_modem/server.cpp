// The simulated TK42-N behind the three Mobile Broadband manager classes, as
// an in-process COM server for Windows (and Wine). The objects, the event
// deliveries on threads of their own and the modem itself are the Linux
// build's simulated API (sim/), here in real time; the files beside this DLL
// (modem_files.h) set the modem up and record what it did.
//
// The server is set up on first use (a class object asked for, or the
// adapter shim asking for the modem's adapter), never in DllMain. It stays
// loaded and alive until the process ends: its worker threads may still be
// delivering, so DllCanUnloadNow always says no, and nothing is torn down at
// process exit (those threads are gone by then).
#include <windows.h>
#include <objbase.h>

#include <memory>
#include <mutex>
#include <string>

#include "mbnapi.h"
#include "modem_files.h"
#include "sim/clock.h"
#include "sim/com_runtime.h"
#include "sim/mbn_hub.h"
#include "sim/mbn_sim.h"
#include "testing/windows/sim_modem_adapter.h"

namespace {

HMODULE g_module = nullptr;

const std::pair<const CLSID*, const char*> kClasses[] = {
    {&CLSID_MbnInterfaceManager, sim::MobileBroadband::kClsidInterfaceManager},
    {&CLSID_MbnConnectionManager, sim::MobileBroadband::kClsidConnectionManager},
    {&CLSID_MbnDeviceServicesManager, sim::MobileBroadband::kClsidDeviceServicesManager},
};

std::wstring ModulePath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(g_module, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) {
            return std::wstring();
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring BesideModule(const wchar_t* name)
{
    std::wstring path = ModulePath();
    const size_t slash = path.find_last_of(L"\\/");
    return (slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1)) + name;
}

// The modem and its API, made once per process.
struct Server {
    sim::Clock clock;
    sim::ComRuntime com;
    sim::MobileBroadband api{com, clock};
    sim_modem::Settings settings;
    sim_modem::Transcript transcript{BesideModule(L"sim-modem-transcript.txt")};
    std::wstring tablePath = BesideModule(L"sim-modem-table.txt");
    std::string setupError;  // why the modem could not be set up; empty when it was

    Server()
    {
        clock.Reset(sim::Clock::Mode::Real);
        std::string text;
        std::string error;
        if (sim_modem::ReadFileText(BesideModule(L"sim-modem.ini"), text) && !sim_modem::ParseSettings(text, settings, error)) {
            setupError = "sim-modem.ini: " + error;
        }
        sim_modem::SarTable table;
        if (setupError.empty() && sim_modem::ReadFileText(tablePath, text) && !sim_modem::ParseTable(text, table, error)) {
            setupError = "sim-modem-table.txt: " + error;
        }
        if (!setupError.empty()) {
            transcript.Write("error", setupError);
            return;
        }
        for (const auto& [key, values] : table) {
            api.modem().SetSar(key.first, key.second, values);
        }
        api.SetInterfaceId(settings.interfaceId);
        api.SetCommandLatency(settings.latencyMs);
        api.SetRebootTiming(settings.removalMs, settings.awayMs);
        api.SetActivityListener([this](const sim::MobileBroadband::Activity& activity) {
            transcript.Write(activity);
        });
        // The table is the modem's non-volatile memory: kept for the next process.
        savedTable = api.modem().WrittenEntries();
        api.modem().SetCommandListener([this](const std::string&) { SaveTableIfChanged(); });
        transcript.Write("loaded", "interface " + settings.interfaceId);
    }

    void SaveTableIfChanged()
    {
        std::lock_guard<std::mutex> lock(savingMutex);
        const sim_modem::SarTable table = api.modem().WrittenEntries();
        if (table == savedTable) {
            return;
        }
        if (sim_modem::ReplaceFileText(tablePath, sim_modem::FormatTable(table))) {
            savedTable = table;
        } else {
            transcript.Write("error", "cannot write sim-modem-table.txt");
        }
    }

    std::mutex savingMutex;
    sim_modem::SarTable savedTable;  // guarded by savingMutex
};

Server& TheServer()
{
    // Never destroyed: worker threads may be delivering until the process ends.
    static Server* server = new Server();
    return *server;
}

}  // namespace

// The class factory answers to IClassFactory through the simulated objects'
// own reference counting and QueryInterface.
template <>
inline const IID& sim::IidOf<IClassFactory>()
{
    return IID_IClassFactory;
}

namespace {

class ClassFactory final : public sim::SimComObject<IClassFactory> {
public:
    explicit ClassFactory(std::string clsid) : m_clsid(std::move(clsid)) {}

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        Server& server = TheServer();
        sim::ComRuntime::Factory factory;
        const HRESULT created = server.com.BeginCreate(m_clsid, factory);
        if (FAILED(created)) {
            return created;
        }
        IUnknown* object = factory();
        if (object == nullptr) {
            return E_OUTOFMEMORY;
        }
        const HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    // The server never unloads (DllCanUnloadNow), so there is nothing to lock.
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    const std::string m_clsid;
};

std::wstring ClsidText(const CLSID& clsid)
{
    wchar_t text[64] = {};
    StringFromGUID2(clsid, text, 64);
    return text;
}

LSTATUS SetText(HKEY key, const wchar_t* name, const std::wstring& value)
{
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    for (const auto& [clsid, text] : kClasses) {
        if (!IsEqualCLSID(rclsid, *clsid)) {
            continue;
        }
        if (!TheServer().setupError.empty()) {
            return E_FAIL;  // the reason is in the transcript
        }
        auto* factory = new ClassFactory(text);
        const HRESULT hr = factory->QueryInterface(riid, ppv);
        factory->Release();
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return S_FALSE;
}

// Registers the three classes under HKLM\Software\Classes\CLSID with this
// module as their in-process server, ThreadingModel "Both".
extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
{
    const std::wstring path = ModulePath();
    if (path.empty()) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    for (const auto& entry : kClasses) {
        const std::wstring keyPath = L"Software\\Classes\\CLSID\\" + ClsidText(*entry.first) + L"\\InprocServer32";
        HKEY key = nullptr;
        LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0,
                                         KEY_WRITE | KEY_WOW64_64KEY, nullptr, &key, nullptr);
        if (status == ERROR_SUCCESS) {
            status = SetText(key, nullptr, path);
            if (status == ERROR_SUCCESS) {
                status = SetText(key, L"ThreadingModel", L"Both");
            }
            RegCloseKey(key);
        }
        if (status != ERROR_SUCCESS) {
            return HRESULT_FROM_WIN32(status);
        }
    }
    return S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    for (const auto& entry : kClasses) {
        const std::wstring keyPath = L"Software\\Classes\\CLSID\\" + ClsidText(*entry.first);
        const LSTATUS status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, keyPath.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
            return HRESULT_FROM_WIN32(status);
        }
    }
    return S_OK;
}

extern "C" BOOL WINAPI HalvexSimModemAdapter(char* adapterName, DWORD adapterNameSize, DWORD* operStatus)
{
    Server& server = TheServer();
    if (adapterName == nullptr || operStatus == nullptr || !server.setupError.empty() ||
        !server.api.ModemPresent()) {
        return FALSE;
    }
    const std::string id = server.api.InterfaceId();
    if (id.size() + 1 > adapterNameSize) {
        return FALSE;
    }
    id.copy(adapterName, id.size());
    adapterName[id.size()] = '\0';
    *operStatus = server.settings.operStatus;
    return TRUE;
}
