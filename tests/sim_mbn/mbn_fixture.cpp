#include "mbn_fixture.h"

#include <cstring>

SAFEARRAY* ByteArray(const std::string& bytes)
{
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    void* data = nullptr;
    SafeArrayAccessData(array, &data);
    std::memcpy(data, bytes.data(), bytes.size());
    SafeArrayUnaccessData(array);
    return array;
}

std::vector<SinkEvent> TestSink::Events() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
}

std::vector<std::string> TestSink::Names() const
{
    std::vector<std::string> names;
    for (const SinkEvent& event : Events()) {
        names.push_back(event.name);
    }
    return names;
}

HRESULT TestSink::Record(const char* name, HRESULT status, bool hadData, std::string interfaceId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.push_back(SinkEvent{name, status, hadData, std::move(interfaceId), std::this_thread::get_id()});
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TestSink::QueryInterface(REFIID riid, void** ppv)
{
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMbnDeviceServicesEvents)) {
        *ppv = static_cast<IMbnDeviceServicesEvents*>(this);
    } else if (IsEqualIID(riid, IID_IMbnInterfaceManagerEvents)) {
        *ppv = static_cast<IMbnInterfaceManagerEvents*>(this);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE TestSink::Release()
{
    const ULONG refs = --m_refs;
    if (refs == 0) {
        delete this;
    }
    return refs;
}

HRESULT STDMETHODCALLTYPE TestSink::OnOpenCommandSessionComplete(IMbnDeviceService*, HRESULT status, ULONG)
{
    return Record("OpenCommandSession", status);
}
HRESULT STDMETHODCALLTYPE TestSink::OnCloseCommandSessionComplete(IMbnDeviceService*, HRESULT status, ULONG)
{
    return Record("CloseCommandSession", status);
}
HRESULT STDMETHODCALLTYPE TestSink::OnSetCommandComplete(IMbnDeviceService*, ULONG, SAFEARRAY* data, HRESULT status,
                                                         ULONG)
{
    return Record("SetCommand", status, data != nullptr);
}
HRESULT STDMETHODCALLTYPE TestSink::OnInterfaceStateChange(BSTR id, MBN_DEVICE_SERVICES_INTERFACE_STATE state)
{
    const bool arrival = state == MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_ARRIVAL;
    return Record(arrival ? "CapableArrival" : "CapableRemoval", S_OK, false, std::string(id, id + SysStringLen(id)));
}
HRESULT STDMETHODCALLTYPE TestSink::OnInterfaceArrival(IMbnInterface*)
{
    return Record("InterfaceArrival");
}
HRESULT STDMETHODCALLTYPE TestSink::OnInterfaceRemoval(IMbnInterface*)
{
    return Record("InterfaceRemoval");
}

namespace {

BSTR Wide(const std::string& text)
{
    std::wstring wide(text.begin(), text.end());
    return SysAllocString(wide.c_str());
}

}  // namespace

void MbnClientTest::SetUp()
{
    MachineTest::SetUp();
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_MbnInterfaceManager, nullptr, CLSCTX_ALL, IID_IMbnInterfaceManager,
                               reinterpret_cast<void**>(&m_interfaceManager)),
              S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_MbnDeviceServicesManager, nullptr, CLSCTX_ALL, IID_IMbnDeviceServicesManager,
                               reinterpret_cast<void**>(&m_deviceServicesManager)),
              S_OK);
    m_sink = new TestSink;
}

void MbnClientTest::TearDown()
{
    EXPECT_TRUE(mbn().WaitIdle());
    for (const auto& advised : m_advised) {
        advised.first->Unadvise(advised.second);
        advised.first->Release();
    }
    for (IUnknown* object : {static_cast<IUnknown*>(m_service), static_cast<IUnknown*>(m_deviceServicesManager),
                             static_cast<IUnknown*>(m_interfaceManager)}) {
        if (object != nullptr) {
            object->Release();
        }
    }
    // Every reference the simulated API took has been given back.
    EXPECT_EQ(m_sink->RefCount(), 1u);
    m_sink->Release();
    EXPECT_EQ(mbn().LiveObjects(), 0);
    EXPECT_EQ(machine().com().LiveBstrs(), 0);
    EXPECT_EQ(machine().com().LiveSafeArrays(), 0);
    CoUninitialize();
}

void MbnClientTest::AdviseAll()
{
    const std::pair<IUnknown*, IID> points[] = {
        {m_interfaceManager, IID_IMbnInterfaceManagerEvents},
        {m_deviceServicesManager, IID_IMbnDeviceServicesEvents},
    };
    for (const auto& item : points) {
        IConnectionPointContainer* container = nullptr;
        ASSERT_EQ(item.first->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)),
                  S_OK);
        IConnectionPoint* point = nullptr;
        ASSERT_EQ(container->FindConnectionPoint(item.second, &point), S_OK);
        container->Release();
        DWORD cookie = 0;
        ASSERT_EQ(point->Advise(static_cast<IMbnDeviceServicesEvents*>(m_sink), &cookie), S_OK);
        m_advised.emplace_back(point, cookie);
    }
}

HRESULT MbnClientTest::GetService(IMbnDeviceService*& service, const std::string& interfaceId)
{
    if (service != nullptr) {
        service->Release();
        service = nullptr;
    }
    BSTR id = Wide(interfaceId.empty() ? mbn().InterfaceId() : interfaceId);
    IMbnDeviceServicesContext* context = nullptr;
    HRESULT hr = m_deviceServicesManager->GetDeviceServicesContext(id, &context);
    SysFreeString(id);
    if (FAILED(hr)) {
        return hr;
    }
    BSTR serviceId = Wide(Mbn::kVendorServiceId);
    hr = context->GetDeviceService(serviceId, &service);
    SysFreeString(serviceId);
    context->Release();
    return hr;
}

HRESULT MbnClientTest::OpenSession(IMbnDeviceService* service)
{
    ULONG requestId = 0;
    HRESULT hr = (service != nullptr ? service : m_service)->OpenCommandSession(&requestId);
    mbn().WaitIdle();
    return hr;
}

HRESULT MbnClientTest::SendBytes(ULONG commandId, const std::string& bytes, IMbnDeviceService* service)
{
    SAFEARRAY* payload = ByteArray(bytes);
    ULONG requestId = 0;
    HRESULT hr = (service != nullptr ? service : m_service)->SetCommand(commandId, payload, &requestId);
    SafeArrayDestroy(payload);  // the service may drop the payload right after the call
    return hr;
}

HRESULT MbnClientTest::SendAt(const std::string& text, IMbnDeviceService* service)
{
    return SendBytes(Mbn::kAtCommandId, AtBytes(text), service);
}

std::vector<SinkEvent> MbnClientTest::EventsNamed(const std::string& name) const
{
    std::vector<SinkEvent> matching;
    for (const SinkEvent& event : m_sink->Events()) {
        if (event.name == name) {
            matching.push_back(event);
        }
    }
    return matching;
}
