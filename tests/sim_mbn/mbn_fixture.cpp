#include "mbn_fixture.h"

namespace {

template <class T>
void ReleaseAndClear(T*& object)
{
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

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
    UnadviseAll();
    ReleaseAndClear(m_service);
    ReleaseAndClear(m_deviceServicesManager);
    ReleaseAndClear(m_interfaceManager);
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
        m_advised.push_back({point, cookie});
    }
}

void MbnClientTest::UnadviseAll()
{
    for (const Advised& advised : m_advised) {
        advised.point->Unadvise(advised.cookie);
        advised.point->Release();
    }
    m_advised.clear();
}

HRESULT MbnClientTest::GetService(IMbnDeviceService** service, const std::string& interfaceId)
{
    ReleaseAndClear(*service);
    BSTR id = Wide(interfaceId.empty() ? mbn().InterfaceId() : interfaceId);
    IMbnDeviceServicesContext* context = nullptr;
    HRESULT hr = m_deviceServicesManager->GetDeviceServicesContext(id, &context);
    SysFreeString(id);
    if (FAILED(hr)) {
        return hr;
    }
    BSTR serviceId = Wide(Mbn::kVendorServiceId);
    hr = context->GetDeviceService(serviceId, service);
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

HRESULT MbnClientTest::SendBytes(ULONG commandId, const std::string& bytes)
{
    SAFEARRAY* payload = ByteArray(bytes);
    ULONG requestId = 0;
    HRESULT hr = m_service->SetCommand(commandId, payload, &requestId);
    SafeArrayDestroy(payload);  // the service may drop the payload right after the call
    return hr;
}

HRESULT MbnClientTest::SendAt(const std::string& text, ULONG* requestId, IMbnDeviceService* service)
{
    SAFEARRAY* payload = ByteArray(AtBytes(text));
    ULONG id = 0;
    HRESULT hr = (service != nullptr ? service : m_service)->SetCommand(Mbn::kAtCommandId, payload, &id);
    SafeArrayDestroy(payload);
    if (requestId != nullptr) {
        *requestId = id;
    }
    return hr;
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
