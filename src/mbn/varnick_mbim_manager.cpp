// Construction, the process-wide instance, Init/UnInit and sink registration.
#include "mbn/varnick_mbim_manager.h"

#include <memory>

#include "logging/log_helper.h"

namespace {

std::atomic<CVarnickMbimManager*> g_mbim_manager{nullptr};
std::atomic<bool> g_mbim_manager_spin{false};
std::shared_ptr<CVarnickMbimManager> g_mbim_manager_owner;

// Stores a sink in a member that holds one reference to it.
template <class Sink>
void StoreSink(Sink*& member, Sink* sink)
{
    if (sink != nullptr) {
        sink->AddRef();
    }
    if (member != nullptr) {
        member->Release();
    }
    member = sink;
}

template <class Sink>
void CreateSinkIfMissing(Sink*& member)
{
    if (member == nullptr) {
        StoreSink(member, new Sink());
    }
}

template <class T>
void ReleaseAndClear(T*& object)
{
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

}  // namespace

CVarnickMbimManager* CVarnickMbimManager::GetInstance()
{
    CVarnickMbimManager* instance = g_mbim_manager.load(std::memory_order_acquire);
    if (instance != nullptr) {
        return instance;
    }
    while (g_mbim_manager_spin.exchange(true, std::memory_order_acquire)) {
        SwitchToThread();
    }
    instance = g_mbim_manager.load(std::memory_order_acquire);
    if (instance == nullptr) {
        instance = new CVarnickMbimManager();
        g_mbim_manager.store(instance, std::memory_order_release);
        g_mbim_manager_owner.reset(instance, [](CVarnickMbimManager* manager) { delete manager; });
    }
    g_mbim_manager_spin.store(false, std::memory_order_release);
    return instance;
}

CVarnickMbimManager::CVarnickMbimManager()
    : m_open_cv(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_close_cv(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      m_command_cv(CreateEventW(nullptr, FALSE, FALSE, nullptr))
{
    CreateMissingSinks();
}

CVarnickMbimManager::~CVarnickMbimManager()
{
    // A platform thread that still holds a sink must not reach a destroyed observer.
    MbnSubject* subjects[] = {m_device_services_sink, m_interface_manager_sink, m_interface_sink,
                              m_connection_sink, m_registration_sink};
    for (MbnSubject* subject : subjects) {
        if (subject != nullptr) {
            subject->Detach(this);
        }
    }
    StoreSink<CDeviceServicesSink>(m_device_services_sink, nullptr);
    StoreSink<CInterfaceManagerEventsSink>(m_interface_manager_sink, nullptr);
    StoreSink<CInterfaceEventsSink>(m_interface_sink, nullptr);
    StoreSink<CConnectionEventsSink>(m_connection_sink, nullptr);
    StoreSink<CRegistrationEventsSink>(m_registration_sink, nullptr);
    for (HANDLE event : {m_open_cv, m_close_cv, m_command_cv}) {
        if (event != nullptr) {
            CloseHandle(event);
        }
    }
}

void CVarnickMbimManager::CreateMissingSinks()
{
    CreateSinkIfMissing(m_device_services_sink);
    CreateSinkIfMissing(m_interface_manager_sink);
    CreateSinkIfMissing(m_interface_sink);
    CreateSinkIfMissing(m_connection_sink);
    CreateSinkIfMissing(m_registration_sink);
}

int CVarnickMbimManager::Init()
{
    static const char* const kName = "CVarnickMbimManager::Init";
    LogHelper::WriteScopeLine('+', kName);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_init_flag.load(std::memory_order_relaxed)) {
        return 0;
    }

    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr)) {
        LogHelper::Log(LOG_LEVEL_INFO, kName, "CoInitializeEx result = 0x%08x.", static_cast<unsigned>(hr));
    }

    hr = CoCreateInstance(CLSID_MbnDeviceServicesManager, nullptr, CLSCTX_ALL, IID_IMbnDeviceServicesManager,
                          reinterpret_cast<void**>(&m_device_services_manager));
    if (FAILED(hr) || m_device_services_manager == nullptr) {
        LogHelper::Log(LOG_LEVEL_INFO, kName, "CoCreateInstance MbnDeviceServicesManager failed. result = 0x%08x.",
                       static_cast<unsigned>(hr));
        ReleaseManagerObjects();
        return -1;
    }
    hr = CoCreateInstance(CLSID_MbnInterfaceManager, nullptr, CLSCTX_ALL, IID_IMbnInterfaceManager,
                          reinterpret_cast<void**>(&m_interface_manager));
    if (FAILED(hr) || m_interface_manager == nullptr) {
        LogHelper::Log(LOG_LEVEL_INFO, kName, "CoCreateInstance MbnInterfaceManager failed. result = 0x%08x.",
                       static_cast<unsigned>(hr));
        ReleaseManagerObjects();
        return -1;
    }
    hr = CoCreateInstance(CLSID_MbnConnectionManager, nullptr, CLSCTX_ALL, IID_IMbnConnectionManager,
                          reinterpret_cast<void**>(&m_connection_manager));
    if (FAILED(hr) || m_connection_manager == nullptr) {
        LogHelper::Log(LOG_LEVEL_INFO, kName, "CoCreateInstance MbnConnectionManager failed. result = 0x%08x.",
                       static_cast<unsigned>(hr));
        ReleaseManagerObjects();
        return -1;
    }

    CreateMissingSinks();

    RegisterOneSink(static_cast<IMbnConnectionEvents*>(m_connection_sink), m_connection_sink, m_connection_manager,
                    IID_IMbnConnectionEvents, "resigter connection event sink failed.");
    RegisterOneSink(static_cast<IMbnInterfaceManagerEvents*>(m_interface_manager_sink), m_interface_manager_sink,
                    m_interface_manager, IID_IMbnInterfaceManagerEvents,
                    "resigter interface manager event sink failed.");
    RegisterOneSink(static_cast<IMbnInterfaceEvents*>(m_interface_sink), m_interface_sink, m_interface_manager,
                    IID_IMbnInterfaceEvents, "resigter interface event sink failed.");
    RegisterOneSink(static_cast<IMbnDeviceServicesEvents*>(m_device_services_sink), m_device_services_sink,
                    m_device_services_manager, IID_IMbnDeviceServicesEvents, "resigter device service sink failed.");
    RegisterOneSink(static_cast<IMbnRegistrationEvents*>(m_registration_sink), m_registration_sink,
                    m_interface_manager, IID_IMbnRegistrationEvents, "resigter interface manager sink failed.");

    m_init_flag.store(true, std::memory_order_relaxed);
    LogHelper::WriteScopeLine('-', kName);
    return 0;
}

void CVarnickMbimManager::RegisterOneSink(IUnknown* sink, MbnSubject* subject, IUnknown* object, REFIID eventsIid,
                                          const char* failureMessage)
{
    SinkCookie registration = register_sink(sink, object, eventsIid);
    if (registration.first == nullptr || registration.second == 0) {
        LogHelper::Log(LOG_LEVEL_INFO, "CVarnickMbimManager::Init", "%s", failureMessage);
        return;
    }
    m_sink_cookies.push_back(registration);
    subject->Attach(this);
}

CVarnickMbimManager::SinkCookie CVarnickMbimManager::register_sink(IUnknown* sink, IUnknown* object,
                                                                   REFIID eventsIid)
{
    const SinkCookie none(nullptr, 0);
    if (sink == nullptr || object == nullptr) {
        return none;
    }

    IConnectionPointContainer* container = nullptr;
    HRESULT hr = object->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    if (FAILED(hr) || container == nullptr) {
        return none;
    }
    IConnectionPoint* point = nullptr;
    hr = container->FindConnectionPoint(eventsIid, &point);
    container->Release();
    if (FAILED(hr) || point == nullptr) {
        return none;
    }
    IUnknown* unknown = nullptr;
    hr = sink->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown));
    if (FAILED(hr) || unknown == nullptr) {
        point->Release();
        return none;
    }
    DWORD cookie = 0;
    hr = point->Advise(unknown, &cookie);
    unknown->Release();
    if (FAILED(hr) || cookie == 0) {
        point->Release();
        return none;
    }
    // The pair keeps the connection point's reference until UnInit.
    return SinkCookie(point, cookie);
}

bool CVarnickMbimManager::varnick_deresigter_sink(IConnectionPoint* point, DWORD cookie)
{
    if (point == nullptr) {
        return false;
    }
    try {
        return SUCCEEDED(point->Unadvise(cookie));
    } catch (...) {
        LogHelper::Log(LOG_LEVEL_INFO, "varnick_deresigter_sink", "varnick_deresigter_sink exception.");
        return false;
    }
}

void CVarnickMbimManager::UnInit()
{
    static const char* const kName = "CVarnickMbimManager::UnInit";
    LogHelper::WriteScopeLine('+', kName);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_init_flag.load(std::memory_order_relaxed)) {
        return;
    }

    for (SinkCookie& registration : m_sink_cookies) {
        varnick_deresigter_sink(registration.first, registration.second);
        ReleaseAndClear(registration.first);
    }
    m_sink_cookies.clear();

    m_device_services_sink->Detach(this);
    m_interface_manager_sink->Detach(this);
    m_interface_sink->Detach(this);
    m_connection_sink->Detach(this);
    m_registration_sink->Detach(this);

    ReleaseManagerObjects();

    m_init_flag.store(false, std::memory_order_relaxed);
    CoUninitialize();
    LogHelper::WriteScopeLine('-', kName);
}

void CVarnickMbimManager::ReleaseManagerObjects()
{
    ReleaseAndClear(m_device_services_manager);
    ReleaseAndClear(m_interface_manager);
    ReleaseAndClear(m_connection_manager);
}
