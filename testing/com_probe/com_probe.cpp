#include "com_probe.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdint>
#include <cstdio>

#include "mbnapi.h"

namespace {

std::string Hex(HRESULT hr)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(static_cast<uint32_t>(hr)));
    return text;
}

class Probe {
public:
    void Line(const std::string& name, const std::string& result) { m_lines.push_back(name + ": " + result); }
    void Result(const std::string& name, HRESULT hr) { Line(name, Hex(hr)); }
    std::vector<std::string> Lines() const { return m_lines; }

private:
    std::vector<std::string> m_lines;
};

void ProbeCreation(Probe& probe)
{
    IUnknown* object = nullptr;
    probe.Result("create before CoInitializeEx",
                 CoCreateInstance(CLSID_MbnInterfaceManager, nullptr, CLSCTX_ALL, IID_IUnknown,
                                  reinterpret_cast<void**>(&object)));
    probe.Result("CoInitializeEx multithreaded", CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    probe.Result("CoInitializeEx multithreaded again", CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    probe.Result("CoInitializeEx apartment on a multithreaded thread",
                 CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    CoUninitialize();  // the second multithreaded one

    IMbnConnectionManager* wrong = reinterpret_cast<IMbnConnectionManager*>(&probe);
    probe.Result("create with an interface the class lacks",
                 CoCreateInstance(CLSID_MbnInterfaceManager, nullptr, CLSCTX_ALL, IID_IMbnConnectionManager,
                                  reinterpret_cast<void**>(&wrong)));
    probe.Line("  its out pointer", wrong == nullptr ? "null" : "not null");
    const CLSID unknown = {0x0BADC0DE, 0x1234, 0x5678, {0x9A, 0xBC, 0xDE, 0xF0, 0x12, 0x34, 0x56, 0x78}};
    probe.Result("create an unregistered class",
                 CoCreateInstance(unknown, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&object)));
    probe.Result("create with a null out pointer",
                 CoCreateInstance(CLSID_MbnInterfaceManager, nullptr, CLSCTX_ALL, IID_IUnknown, nullptr));

    IMbnInterfaceManager* manager = nullptr;
    probe.Result("create the interface manager",
                 CoCreateInstance(CLSID_MbnInterfaceManager, nullptr, CLSCTX_ALL, IID_IMbnInterfaceManager,
                                  reinterpret_cast<void**>(&manager)));
    if (manager == nullptr) {
        return;
    }
    probe.Result("create aggregated",
                 CoCreateInstance(CLSID_MbnInterfaceManager, manager, CLSCTX_ALL, IID_IUnknown,
                                  reinterpret_cast<void**>(&object)));
    IConnectionPointContainer* container = nullptr;
    probe.Result("manager's connection point container",
                 manager->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)));
    IConnectionPoint* point = nullptr;
    if (container != nullptr) {
        probe.Result("its interface events point", container->FindConnectionPoint(IID_IMbnInterfaceEvents, &point));
        container->Release();
    }
    if (point != nullptr) {
        probe.Result("  unadvise an unknown cookie", point->Unadvise(12345));
    }

    // After the thread's last CoUninitialize the process has left COM: proxies
    // of an out-of-process server are disconnected, an in-process object is not.
    CoUninitialize();
    if (point != nullptr) {
        probe.Result("  unadvise after the last CoUninitialize", point->Unadvise(12345));
        point->Release();
    }
    manager->Release();
    probe.Result("create after the last CoUninitialize",
                 CoCreateInstance(CLSID_MbnInterfaceManager, nullptr, CLSCTX_ALL, IID_IUnknown,
                                  reinterpret_cast<void**>(&object)));
}

void ProbeStrings(Probe& probe)
{
    const OLECHAR text[] = {L'a', 0, L'b'};
    BSTR bstr = SysAllocStringLen(text, 3);
    probe.Line("BSTR of 3 characters with a zero inside",
               std::to_string(SysStringLen(bstr)) + " characters, " + std::to_string(SysStringByteLen(bstr)) +
                   " bytes, ends in " + std::to_string(bstr[3]));
    SysFreeString(bstr);
    probe.Line("SysStringLen(null)", std::to_string(SysStringLen(nullptr)));
    probe.Line("SysAllocString(null)", SysAllocString(nullptr) == nullptr ? "null" : "a string");
}

std::string Bounds(SAFEARRAY* array)
{
    LONG lower = 99;
    LONG upper = 99;
    VARTYPE vt = VT_EMPTY;
    const HRESULT l = SafeArrayGetLBound(array, 1, &lower);
    const HRESULT u = SafeArrayGetUBound(array, 1, &upper);
    const HRESULT v = SafeArrayGetVartype(array, &vt);
    return "dims " + std::to_string(SafeArrayGetDim(array)) + ", bounds " + std::to_string(lower) + ".." +
           std::to_string(upper) + " (" + Hex(l) + " " + Hex(u) + "), vartype " + std::to_string(vt) + " (" +
           Hex(v) + ")";
}

void ProbeArrays(Probe& probe)
{
    SAFEARRAY* empty = SafeArrayCreateVector(VT_UI1, 0, 0);
    probe.Line("empty byte vector", Bounds(empty));
    LONG bound = 0;
    probe.Result("  lower bound of dimension 0", SafeArrayGetLBound(empty, 0, &bound));
    probe.Result("  upper bound of dimension 2", SafeArrayGetUBound(empty, 2, &bound));
    void* data = nullptr;
    probe.Result("  access", SafeArrayAccessData(empty, &data));
    probe.Result("  destroy while accessed", SafeArrayDestroy(empty));
    probe.Result("  unaccess", SafeArrayUnaccessData(empty));
    probe.Result("  unaccess again", SafeArrayUnaccessData(empty));
    probe.Result("  destroy", SafeArrayDestroy(empty));

    SAFEARRAY* offset = SafeArrayCreateVector(VT_UI1, 5, 3);
    probe.Line("byte vector of 3 from 5", Bounds(offset));
    SafeArrayDestroy(offset);

    VARTYPE vt = VT_EMPTY;
    probe.Result("vartype of null", SafeArrayGetVartype(nullptr, &vt));
    probe.Result("access null", SafeArrayAccessData(nullptr, &data));
    probe.Result("destroy null", SafeArrayDestroy(nullptr));
    probe.Line("dimensions of null", std::to_string(SafeArrayGetDim(nullptr)));
}

}  // namespace

std::vector<std::string> RunComProbe()
{
    Probe probe;
    ProbeCreation(probe);
    ProbeStrings(probe);
    ProbeArrays(probe);
    return probe.Lines();
}
