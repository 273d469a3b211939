#include "mbn_fixture.h"

#include <cstring>

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

HRESULT TestSink::Record(const char* name, HRESULT status, bool hadData)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.push_back(SinkEvent{name, status, hadData, std::this_thread::get_id()});
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
    auto wide = [](const std::string& text) { return SysAllocString(std::wstring(text.begin(), text.end()).c_str()); };
    BSTR id = wide(interfaceId.empty() ? mbn().InterfaceId() : interfaceId);
    IMbnDeviceServicesContext* context = nullptr;
    HRESULT hr = m_deviceServicesManager->GetDeviceServicesContext(id, &context);
    SysFreeString(id);
    if (FAILED(hr)) {
        return hr;
    }
    BSTR serviceId = wide(Mbn::kVendorServiceId);
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
    SAFEARRAY* payload = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    void* data = nullptr;
    SafeArrayAccessData(payload, &data);
    std::memcpy(data, bytes.data(), bytes.size());
    SafeArrayUnaccessData(payload);
    ULONG requestId = 0;
    HRESULT hr = (service != nullptr ? service : m_service)->SetCommand(commandId, payload, &requestId);
    SafeArrayDestroy(payload);  // the service may drop the payload right after the call
    return hr;
}
