#include "sim/mbn_sim.h"

#include <cctype>
#include <cstring>

#include "sim/com_runtime.h"
#include "sim/mbn_objects.h"

namespace sim {

using EventsInterface = MobileBroadband::EventsInterface;

// ---------------------------------------------------------------- helpers

BSTR MakeBstr(const std::string& text)
{
    std::wstring wide;
    wide.reserve(text.size());
    for (unsigned char c : text) {
        wide.push_back(static_cast<wchar_t>(c));
    }
    return SysAllocStringLen(wide.c_str(), static_cast<UINT>(wide.size()));
}

std::string BstrText(BSTR text)
{
    std::string narrow;
    const UINT length = SysStringLen(text);
    for (UINT i = 0; i < length; ++i) {
        narrow.push_back(text[i] < 0x100 ? static_cast<char>(text[i]) : '?');
    }
    return narrow;
}

bool SameIdNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

SAFEARRAY* MakeByteArray(const std::vector<uint8_t>& bytes)
{
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (array == nullptr) {
        return nullptr;
    }
    void* data = nullptr;
    if (SUCCEEDED(SafeArrayAccessData(array, &data))) {
        if (!bytes.empty()) {
            std::memcpy(data, bytes.data(), bytes.size());
        }
        SafeArrayUnaccessData(array);
    }
    return array;
}

// ---------------------------------------------------------------- the hub

bool MobileBroadband::Impl::Armed::Take(int32_t& hr)
{
    if (times == 0) {
        return false;
    }
    if (times > 0) {
        --times;
    }
    hr = failure;
    return true;
}

MobileBroadband::Impl::Impl(ComRuntime& comRuntime) : com(comRuntime) {}

ULONG MobileBroadband::Impl::NextRequestId()
{
    if (nextRequestId == 0) {
        nextRequestId = 1;
    }
    return nextRequestId++;
}

std::vector<ComRef<IUnknown>> MobileBroadband::Impl::CollectSinks(EventsInterface which)
{
    std::vector<ComRef<IUnknown>> sinks;
    std::lock_guard<std::mutex> lock(mutex);
    const uint64_t current = generation.load();
    for (SimManagerBase* manager : managers) {
        if (manager->Generation() != current) {
            continue;
        }
        for (auto& point : manager->Points()) {
            if (point->Which() != which) {
                continue;
            }
            for (const auto& connection : point->connections) {
                sinks.emplace_back(connection.sink);
            }
        }
    }
    return sinks;
}

IMbnInterface* MobileBroadband::Impl::NewInterfaceObject()
{
    std::string id;
    {
        std::lock_guard<std::mutex> lock(mutex);
        id = interfaceId;
    }
    return NewInterface(*this, id);
}

void MobileBroadband::Impl::FireRemoval()
{
    std::string id;
    {
        std::lock_guard<std::mutex> lock(mutex);
        id = interfaceId;
    }
    BSTR bstr = MakeBstr(id);
    Fire<IMbnDeviceServicesEvents>(EventsInterface::DeviceServices, [bstr](IMbnDeviceServicesEvents* sink) {
        sink->OnInterfaceStateChange(bstr, MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_REMOVAL);
    });
    SysFreeString(bstr);
    ComRef<IMbnInterface> object(NewInterface(*this, id), false);
    Fire<IMbnInterfaceManagerEvents>(EventsInterface::InterfaceManager, [&object](IMbnInterfaceManagerEvents* sink) {
        sink->OnInterfaceRemoval(object.get());
    });
}

void MobileBroadband::Impl::FireArrival()
{
    std::string id;
    {
        std::lock_guard<std::mutex> lock(mutex);
        id = interfaceId;
    }
    ComRef<IMbnInterface> object(NewInterface(*this, id), false);
    Fire<IMbnInterfaceManagerEvents>(EventsInterface::InterfaceManager, [&object](IMbnInterfaceManagerEvents* sink) {
        sink->OnInterfaceArrival(object.get());
    });
    BSTR bstr = MakeBstr(id);
    Fire<IMbnDeviceServicesEvents>(EventsInterface::DeviceServices, [bstr](IMbnDeviceServicesEvents* sink) {
        sink->OnInterfaceStateChange(bstr, MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_ARRIVAL);
    });
    SysFreeString(bstr);
}

namespace {

// Marks the modem gone (true) or back; returns the listener to call, if the
// state changed.
std::function<void(bool)> ChangePresence(MobileBroadband::Impl& hub, bool present, bool& changed)
{
    std::lock_guard<std::mutex> lock(hub.mutex);
    changed = hub.present != present;
    if (!changed) {
        return nullptr;
    }
    hub.present = present;
    if (!present) {
        // Everything bound to this appearance of the modem is gone with it.
        ++hub.presenceEpoch;
        hub.sessionOpen = false;
        hub.dataSessionOpen = false;
    }
    return hub.presenceListener;
}

void Leave(MobileBroadband::Impl& hub)
{
    bool changed = false;
    auto listener = ChangePresence(hub, false, changed);
    if (!changed) {
        return;
    }
    if (listener) {
        listener(false);
    }
    hub.FireRemoval();
}

void Return(MobileBroadband::Impl& hub)
{
    bool changed = false;
    auto listener = ChangePresence(hub, true, changed);
    if (!changed) {
        return;
    }
    if (listener) {
        listener(true);
    }
    hub.FireArrival();
}

}  // namespace

void MobileBroadband::Impl::StartReboot()
{
    uint32_t removalDelay = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        removalDelay = removalDelayMs;
    }
    Impl* hub = this;
    dispatcher.Post(
        [hub] {
            Leave(*hub);
            uint32_t away = 0;
            {
                std::lock_guard<std::mutex> lock(hub->mutex);
                away = hub->awayMs;
            }
            hub->dispatcher.Post([hub] { Return(*hub); }, away);
        },
        removalDelay);
}

void MobileBroadband::Impl::Reset()
{
    dispatcher.Stop();
    std::vector<IUnknown*> sinks;
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++generation;
        // Managers still held by someone stay alive, disconnected, without sinks.
        for (SimManagerBase* manager : managers) {
            for (auto& point : manager->Points()) {
                for (const auto& connection : point->connections) {
                    sinks.push_back(connection.sink);
                }
                point->connections.clear();
            }
        }
        presenceEpoch = 1;
        present = true;
        sessionOpen = false;
        dataSessionOpen = false;
        interfaceId = kDefaultInterfaceId;
        nextRequestId = 1;
        nextCookie = 1;
        removalDelayMs = 20;
        awayMs = 50;
        presenceListener = nullptr;
        contextFault = Armed{};
        serviceFault = Armed{};
        rebootFault = Armed{};
        adviseFaults.clear();
        openFaults.clear();
        closeFaults.clear();
        commandFaults.clear();
        failStateQueries = false;
        readyState = MBN_READY_STATE_INITIALIZED;
        emergencyMode = false;
        providerId = "00101";
        providerState = 1;
        providerName = "Test Network";
        registerState = MBN_REGISTER_STATE_HOME;
        registerMode = MBN_REGISTER_MODE_AUTOMATIC;
        activationState = MBN_ACTIVATION_STATE_ACTIVATED;
        profileName = "Internet";
        voiceCallState = MBN_VOICE_CALL_STATE_NONE;
        adviseCalls.clear();
        unadviseCalls.clear();
        openSessionCalls = 0;
        closeSessionCalls = 0;
        transcript.clear();
    }
    for (IUnknown* sink : sinks) {
        sink->Release();
    }
    modem.Reset();
}

// ---------------------------------------------------------------- facade

MobileBroadband::MobileBroadband(ComRuntime& com) : m_impl(std::make_unique<Impl>(com))
{
    Impl* hub = m_impl.get();
    com.RegisterClass(kClsidInterfaceManager, [hub] { return NewInterfaceManager(*hub); });
    com.RegisterClass(kClsidConnectionManager, [hub] { return NewConnectionManager(*hub); });
    com.RegisterClass(kClsidDeviceServicesManager, [hub] { return NewDeviceServicesManager(*hub); });
}

MobileBroadband::~MobileBroadband()
{
    m_impl->dispatcher.Stop();
}

void MobileBroadband::Reset()
{
    m_impl->Reset();
}

Tk42nModem& MobileBroadband::modem()
{
    return m_impl->modem;
}

void MobileBroadband::SetInterfaceId(const std::string& id)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->interfaceId = id;
}

std::string MobileBroadband::InterfaceId() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->interfaceId;
}

bool MobileBroadband::ModemPresent() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->present;
}

bool MobileBroadband::CommandSessionOpen() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->present && m_impl->sessionOpen;
}

void MobileBroadband::RemoveModem()
{
    Impl* hub = m_impl.get();
    bool changed = false;
    auto listener = ChangePresence(*hub, false, changed);
    if (changed) {
        hub->dispatcher.Post([hub, listener] {
            if (listener) {
                listener(false);
            }
            hub->FireRemoval();
        });
    }
}

void MobileBroadband::ReturnModem()
{
    Impl* hub = m_impl.get();
    bool changed = false;
    auto listener = ChangePresence(*hub, true, changed);
    if (changed) {
        hub->dispatcher.Post([hub, listener] {
            if (listener) {
                listener(true);
            }
            hub->FireArrival();
        });
    }
}

void MobileBroadband::SetRebootTiming(uint32_t removalDelayMs, uint32_t awayMs)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->removalDelayMs = removalDelayMs;
    m_impl->awayMs = awayMs;
}

void MobileBroadband::SetPresenceListener(std::function<void(bool present)> listener)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->presenceListener = std::move(listener);
}

namespace {

const char* ClassId(MobileBroadband::ManagerClass which)
{
    switch (which) {
    case MobileBroadband::ManagerClass::InterfaceManager:
        return MobileBroadband::kClsidInterfaceManager;
    case MobileBroadband::ManagerClass::ConnectionManager:
        return MobileBroadband::kClsidConnectionManager;
    case MobileBroadband::ManagerClass::DeviceServicesManager:
        return MobileBroadband::kClsidDeviceServicesManager;
    }
    return "";
}

}  // namespace

void MobileBroadband::FailClassCreation(ManagerClass which, int times, int32_t failure)
{
    m_impl->com.FailCreation(ClassId(which), times, failure);
}

void MobileBroadband::FailAdvise(EventsInterface which, int times, int32_t failure)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->adviseFaults[which] = Impl::Armed{times, failure};
}

void MobileBroadband::FailDeviceServicesContext(int times, int32_t failure)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->contextFault = Impl::Armed{times, failure};
}

void MobileBroadband::FailDeviceService(int times, int32_t failure)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->serviceFault = Impl::Armed{times, failure};
}

void MobileBroadband::InjectOpenSessionFault(SessionFault fault, int times, int32_t failure)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->openFaults.push_back(Impl::SessionFaultEntry{fault, times, failure});
}

void MobileBroadband::InjectCloseSessionFault(SessionFault fault, int times, int32_t failure)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->closeFaults.push_back(Impl::SessionFaultEntry{fault, times, failure});
}

void MobileBroadband::InjectCommandFault(const CommandFault& fault)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->commandFaults.push_back(fault);
}

void MobileBroadband::RefuseReboot(int times, int32_t failure)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->rebootFault = Impl::Armed{times, failure};
}

void MobileBroadband::FailStateQueries(bool fail)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->failStateQueries = fail;
}

void MobileBroadband::ClearFaults()
{
    for (ManagerClass which :
         {ManagerClass::InterfaceManager, ManagerClass::ConnectionManager, ManagerClass::DeviceServicesManager}) {
        m_impl->com.FailCreation(ClassId(which), 0, 0);
    }
    m_impl->modem.ClearReplyFaults();
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->contextFault = Impl::Armed{};
    m_impl->serviceFault = Impl::Armed{};
    m_impl->rebootFault = Impl::Armed{};
    m_impl->adviseFaults.clear();
    m_impl->openFaults.clear();
    m_impl->closeFaults.clear();
    m_impl->commandFaults.clear();
    m_impl->failStateQueries = false;
}

void MobileBroadband::SetReadyState(uint32_t state)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->readyState = state;
}

void MobileBroadband::SetEmergencyMode(bool on)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->emergencyMode = on;
}

void MobileBroadband::SetHomeProvider(const std::string& id, uint32_t state, const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->providerId = id;
    m_impl->providerState = state;
    m_impl->providerName = name;
}

void MobileBroadband::SetRegisterState(uint32_t state)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->registerState = state;
}

void MobileBroadband::SetRegisterMode(uint32_t mode)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->registerMode = mode;
}

void MobileBroadband::SetConnectionState(uint32_t activationState, const std::string& profileName)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->activationState = activationState;
    m_impl->profileName = profileName;
}

void MobileBroadband::SetVoiceCallState(uint32_t state)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->voiceCallState = state;
}

void MobileBroadband::RaiseInterfaceEvent(InterfaceEvent event)
{
    Impl* hub = m_impl.get();
    ComRef<IMbnInterface> object(hub->NewInterfaceObject(), false);
    ULONG requestId = 0;
    {
        std::lock_guard<std::mutex> lock(hub->mutex);
        requestId = hub->NextRequestId();
    }
    hub->dispatcher.Post([hub, object, event, requestId] {
        hub->Fire<IMbnInterfaceEvents>(EventsInterface::Interface, [&](IMbnInterfaceEvents* sink) {
            IMbnInterface* item = object.get();
            switch (event) {
            case InterfaceEvent::CapabilityAvailable:
                sink->OnInterfaceCapabilityAvailable(item);
                break;
            case InterfaceEvent::SubscriberInformationChange:
                sink->OnSubscriberInformationChange(item);
                break;
            case InterfaceEvent::ReadyStateChange:
                sink->OnReadyStateChange(item);
                break;
            case InterfaceEvent::EmergencyModeChange:
                sink->OnEmergencyModeChange(item);
                break;
            case InterfaceEvent::HomeProviderAvailable:
                sink->OnHomeProviderAvailable(item);
                break;
            case InterfaceEvent::PreferredProvidersChange:
                sink->OnPreferredProvidersChange(item);
                break;
            case InterfaceEvent::SetPreferredProvidersComplete:
                sink->OnSetPreferredProvidersComplete(item, requestId, S_OK);
                break;
            case InterfaceEvent::ScanNetworkComplete:
                sink->OnScanNetworkComplete(item, requestId, S_OK);
                break;
            }
        });
    });
}

void MobileBroadband::RaiseRegistrationEvent(RegistrationEvent event)
{
    Impl* hub = m_impl.get();
    ComRef<IMbnInterface> object(hub->NewInterfaceObject(), false);
    IMbnRegistration* registration = nullptr;
    object->QueryInterface(IID_IMbnRegistration, reinterpret_cast<void**>(&registration));
    ComRef<IMbnRegistration> held(registration, false);
    ULONG requestId = 0;
    {
        std::lock_guard<std::mutex> lock(hub->mutex);
        requestId = hub->NextRequestId();
    }
    hub->dispatcher.Post([hub, held, event, requestId] {
        hub->Fire<IMbnRegistrationEvents>(EventsInterface::Registration, [&](IMbnRegistrationEvents* sink) {
            IMbnRegistration* item = held.get();
            switch (event) {
            case RegistrationEvent::RegisterModeAvailable:
                sink->OnRegisterModeAvailable(item);
                break;
            case RegistrationEvent::RegisterStateChange:
                sink->OnRegisterStateChange(item);
                break;
            case RegistrationEvent::PacketServiceStateChange:
                sink->OnPacketServiceStateChange(item);
                break;
            case RegistrationEvent::SetRegisterModeComplete:
                sink->OnSetRegisterModeComplete(item, requestId, S_OK);
                break;
            }
        });
    });
}

void MobileBroadband::RaiseConnectionEvent(ConnectionEvent event)
{
    Impl* hub = m_impl.get();
    std::string id = InterfaceId();
    ComRef<IMbnConnection> object(NewConnection(*hub, id), false);
    ULONG requestId = 0;
    {
        std::lock_guard<std::mutex> lock(hub->mutex);
        requestId = hub->NextRequestId();
    }
    hub->dispatcher.Post([hub, object, event, requestId] {
        hub->Fire<IMbnConnectionEvents>(EventsInterface::Connection, [&](IMbnConnectionEvents* sink) {
            IMbnConnection* item = object.get();
            switch (event) {
            case ConnectionEvent::ConnectComplete:
                sink->OnConnectComplete(item, requestId, S_OK);
                break;
            case ConnectionEvent::DisconnectComplete:
                sink->OnDisconnectComplete(item, requestId, S_OK);
                break;
            case ConnectionEvent::ConnectStateChange:
                sink->OnConnectStateChange(item);
                break;
            case ConnectionEvent::VoiceCallStateChange:
                sink->OnVoiceCallStateChange(item);
                break;
            }
        });
    });
}

void MobileBroadband::RaiseReadyState(uint32_t state)
{
    SetReadyState(state);
    RaiseInterfaceEvent(InterfaceEvent::ReadyStateChange);
}

void MobileBroadband::RaiseRegisterState(uint32_t state)
{
    SetRegisterState(state);
    RaiseRegistrationEvent(RegistrationEvent::RegisterStateChange);
}

void MobileBroadband::RaiseConnectionState(uint32_t activationState, const std::string& profileName)
{
    SetConnectionState(activationState, profileName);
    RaiseConnectionEvent(ConnectionEvent::ConnectStateChange);
}

void MobileBroadband::RaiseVoiceCallState(uint32_t state)
{
    SetVoiceCallState(state);
    RaiseConnectionEvent(ConnectionEvent::VoiceCallStateChange);
}

void MobileBroadband::RaiseInterfaceArrival()
{
    Impl* hub = m_impl.get();
    ComRef<IMbnInterface> object(hub->NewInterfaceObject(), false);
    hub->dispatcher.Post([hub, object] {
        hub->Fire<IMbnInterfaceManagerEvents>(
            EventsInterface::InterfaceManager,
            [&object](IMbnInterfaceManagerEvents* sink) { sink->OnInterfaceArrival(object.get()); });
    });
}

void MobileBroadband::RaiseInterfaceRemoval()
{
    Impl* hub = m_impl.get();
    ComRef<IMbnInterface> object(hub->NewInterfaceObject(), false);
    hub->dispatcher.Post([hub, object] {
        hub->Fire<IMbnInterfaceManagerEvents>(
            EventsInterface::InterfaceManager,
            [&object](IMbnInterfaceManagerEvents* sink) { sink->OnInterfaceRemoval(object.get()); });
    });
}

namespace {

void PostInterfaceState(MobileBroadband::Impl* hub, std::string id, MBN_DEVICE_SERVICES_INTERFACE_STATE state)
{
    hub->dispatcher.Post([hub, id, state] {
        BSTR bstr = MakeBstr(id);
        hub->Fire<IMbnDeviceServicesEvents>(EventsInterface::DeviceServices, [bstr, state](IMbnDeviceServicesEvents* sink) {
            sink->OnInterfaceStateChange(bstr, state);
        });
        SysFreeString(bstr);
    });
}

}  // namespace

void MobileBroadband::RaiseCapableInterfaceArrival(const std::string& interfaceId)
{
    PostInterfaceState(m_impl.get(), interfaceId.empty() ? InterfaceId() : interfaceId,
                       MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_ARRIVAL);
}

void MobileBroadband::RaiseCapableInterfaceRemoval(const std::string& interfaceId)
{
    PostInterfaceState(m_impl.get(), interfaceId.empty() ? InterfaceId() : interfaceId,
                       MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_REMOVAL);
}

void MobileBroadband::RaiseDeviceServiceNotification(uint32_t eventId, const std::vector<uint8_t>& data)
{
    Impl* hub = m_impl.get();
    uint64_t epoch = 0;
    std::string id;
    {
        std::lock_guard<std::mutex> lock(hub->mutex);
        epoch = hub->presenceEpoch;
        id = hub->interfaceId;
    }
    ComRef<IMbnDeviceService> service(NewDeviceService(*hub, id, epoch), false);
    hub->dispatcher.Post([hub, service, eventId, data] {
        SAFEARRAY* array = MakeByteArray(data);
        hub->Fire<IMbnDeviceServicesEvents>(EventsInterface::DeviceServices, [&](IMbnDeviceServicesEvents* sink) {
            sink->OnEventNotification(service.get(), eventId, array);
        });
        SafeArrayDestroy(array);
    });
}

void MobileBroadband::RaiseReadData(const std::vector<uint8_t>& data)
{
    Impl* hub = m_impl.get();
    uint64_t epoch = 0;
    std::string id;
    {
        std::lock_guard<std::mutex> lock(hub->mutex);
        epoch = hub->presenceEpoch;
        id = hub->interfaceId;
    }
    ComRef<IMbnDeviceService> service(NewDeviceService(*hub, id, epoch), false);
    hub->dispatcher.Post([hub, service, data] {
        SAFEARRAY* array = MakeByteArray(data);
        hub->Fire<IMbnDeviceServicesEvents>(EventsInterface::DeviceServices, [&](IMbnDeviceServicesEvents* sink) {
            sink->OnReadData(service.get(), array);
        });
        SafeArrayDestroy(array);
    });
}

bool MobileBroadband::WaitIdle(std::chrono::milliseconds timeout)
{
    return m_impl->dispatcher.WaitIdle(timeout);
}

std::vector<MobileBroadband::TranscriptEntry> MobileBroadband::Transcript() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->transcript;
}

void MobileBroadband::ClearTranscript()
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->transcript.clear();
}

size_t MobileBroadband::AdvisedSinks(EventsInterface which) const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    size_t count = 0;
    for (SimManagerBase* manager : m_impl->managers) {
        if (manager->Generation() != m_impl->generation.load()) {
            continue;
        }
        for (auto& point : manager->Points()) {
            if (point->Which() == which) {
                count += point->connections.size();
            }
        }
    }
    return count;
}

int MobileBroadband::AdviseCalls(EventsInterface which) const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    auto it = m_impl->adviseCalls.find(which);
    return it == m_impl->adviseCalls.end() ? 0 : it->second;
}

int MobileBroadband::UnadviseCalls(EventsInterface which) const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    auto it = m_impl->unadviseCalls.find(which);
    return it == m_impl->unadviseCalls.end() ? 0 : it->second;
}

int MobileBroadband::OpenSessionCalls() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->openSessionCalls;
}

int MobileBroadband::CloseSessionCalls() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->closeSessionCalls;
}

long MobileBroadband::LiveObjects() const
{
    return g_liveSimObjects.load();
}

}  // namespace sim
