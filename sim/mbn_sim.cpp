#include "sim/mbn_sim.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <future>

#include "sim/com_runtime.h"
#include "sim/mbn_objects.h"

namespace sim {

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

MobileBroadband::Impl::Impl(ComRuntime& comRuntime, Clock& simClock)
    : com(comRuntime), clock(simClock), dispatcher(simClock)
{
}

ULONG MobileBroadband::Impl::NextRequestId()
{
    if (nextRequestId == 0) {
        nextRequestId = 1;
    }
    return nextRequestId++;
}

ULONG MobileBroadband::Impl::NewRequestId()
{
    std::lock_guard<std::mutex> lock(mutex);
    return NextRequestId();
}

void MobileBroadband::Impl::RecordCommandLocked(const TranscriptEntry& entry)
{
    transcript.push_back(entry);
    if (activityListener) {
        activityListener(Activity{Activity::Kind::Command, entry});
    }
}

void MobileBroadband::Impl::NoteLocked(Activity::Kind kind)
{
    if (activityListener) {
        Activity activity;
        activity.kind = kind;
        activityListener(activity);
    }
}

std::string MobileBroadband::Impl::CurrentInterfaceId() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return interfaceId;
}

std::vector<SimConnectionPoint*> MobileBroadband::Impl::LivePointsLocked(EventsInterface which)
{
    std::vector<SimConnectionPoint*> points;
    const uint64_t current = generation.load();
    for (SimManagerBase* manager : managers) {
        if (manager->Generation() != current) {
            continue;
        }
        for (auto& point : manager->Points()) {
            if (point->Which() == which) {
                points.push_back(point.get());
            }
        }
    }
    return points;
}

std::vector<ComRef<IUnknown>> MobileBroadband::Impl::CollectSinks(EventsInterface which)
{
    std::vector<ComRef<IUnknown>> sinks;
    std::lock_guard<std::mutex> lock(mutex);
    for (SimConnectionPoint* point : LivePointsLocked(which)) {
        for (const auto& connection : point->connections) {
            sinks.emplace_back(connection.sink);
        }
    }
    return sinks;
}

void MobileBroadband::Impl::RunOnWorker(std::function<void()> work)
{
    // Signals when the last copy of the posted work is gone: after it ran, or
    // when a reset dropped it.
    struct Finished {
        std::promise<void> promise;
        ~Finished() { promise.set_value(); }
    };
    auto finished = std::make_shared<Finished>();
    std::future<void> done = finished->promise.get_future();
    dispatcher.Post([work = std::move(work), finished] { work(); });
    finished.reset();
    done.wait();
}

IMbnInterface* MobileBroadband::Impl::NewInterfaceObject()
{
    return NewInterface(*this, CurrentInterfaceId());
}

void MobileBroadband::Impl::FireCapableInterface(const std::string& id, MBN_DEVICE_SERVICES_INTERFACE_STATE state)
{
    BSTR bstr = MakeBstr(id);
    Fire<IMbnDeviceServicesEvents>(
        [bstr, state](IMbnDeviceServicesEvents* sink) { sink->OnInterfaceStateChange(bstr, state); });
    SysFreeString(bstr);
}

void MobileBroadband::Impl::FirePresenceEvent(PresenceEvent event)
{
    const std::string id = CurrentInterfaceId();
    switch (event) {
    case PresenceEvent::CapableRemoval:
        FireCapableInterface(id, MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_REMOVAL);
        return;
    case PresenceEvent::CapableArrival:
        FireCapableInterface(id, MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_ARRIVAL);
        return;
    case PresenceEvent::InterfaceRemoval:
    case PresenceEvent::InterfaceArrival: {
        const bool arrival = event == PresenceEvent::InterfaceArrival;
        ComRef<IMbnInterface> object(NewInterface(*this, id), false);
        Fire<IMbnInterfaceManagerEvents>([&object, arrival](IMbnInterfaceManagerEvents* sink) {
            if (arrival) {
                sink->OnInterfaceArrival(object.get());
            } else {
                sink->OnInterfaceRemoval(object.get());
            }
        });
        return;
    }
    }
}

MobileBroadband::Impl::PresenceOrder MobileBroadband::Impl::DefaultPresenceOrder()
{
    return {PresenceEvent::CapableRemoval, PresenceEvent::InterfaceRemoval, PresenceEvent::InterfaceArrival,
            PresenceEvent::CapableArrival};
}

namespace {

bool IsArrival(MobileBroadband::PresenceEvent event)
{
    return event == MobileBroadband::PresenceEvent::InterfaceArrival ||
           event == MobileBroadband::PresenceEvent::CapableArrival;
}

// What changed when the modem left or returned: the listener to tell and the
// events to deliver.
struct PresenceNews {
    bool present = true;
    std::function<void(bool)> listener;
    MobileBroadband::Impl::PresenceOrder events;
};

// Marks the modem present or gone. False when it already was.
bool ChangePresenceLocked(MobileBroadband::Impl& hub, bool present, PresenceNews& news)
{
    if (hub.present == present) {
        return false;
    }
    hub.present = present;
    hub.NoteLocked(present ? MobileBroadband::Activity::Kind::Returned : MobileBroadband::Activity::Kind::Left);
    news.present = present;
    news.listener = hub.presenceListener;
    if (present) {
        news.events.swap(hub.heldBack);
        return true;
    }
    // Everything bound to this appearance of the modem is gone with it.
    ++hub.presenceEpoch;
    hub.openSessions.clear();
    const auto firstArrival = std::find_if(hub.presenceOrder.begin(), hub.presenceOrder.end(), IsArrival);
    news.events.assign(hub.presenceOrder.begin(), firstArrival);
    hub.heldBack.assign(firstArrival, hub.presenceOrder.end());
    return true;
}

// Marks the modem present or gone, and its network adapter and class subkey
// with it, before anyone hears of it: the adapter list is never behind the
// modem, however the news of several changes is delivered. False when the
// modem already was.
bool ChangePresence(MobileBroadband::Impl& hub, bool present, PresenceNews& news)
{
    std::lock_guard<std::mutex> order(hub.presenceMutex);
    std::function<void(bool)> networkHook;
    {
        std::lock_guard<std::mutex> lock(hub.mutex);
        if (!ChangePresenceLocked(hub, present, news)) {
            return false;
        }
        networkHook = hub.networkHook;
    }
    if (networkHook) {
        networkHook(present);
    }
    return true;
}

// The events of one departure or return come from different sources, so they
// reach the sinks a moment apart: work that the first one starts is under way
// when the next comes, whatever the pace of time.
constexpr uint32_t kPresenceEventSpacingMs = 5;

// Tells the presence listener, then the sinks, that the modem left or returned.
// Returns when (from now) the next news may follow: a spacing after the last event.
uint32_t Announce(MobileBroadband::Impl& hub, const PresenceNews& news)
{
    if (news.listener) {
        news.listener(news.present);
    }
    uint32_t delay = 0;
    for (MobileBroadband::PresenceEvent event : news.events) {
        if (delay == 0) {
            hub.FirePresenceEvent(event);
        } else {
            MobileBroadband::Impl* target = &hub;
            hub.dispatcher.Post([target, event] { target->FirePresenceEvent(event); }, delay);
        }
        delay += kPresenceEventSpacingMs;
    }
    return delay;
}

// The modem leaves or returns and the news goes out on the calling thread.
// Returns when (from now) the next news may follow.
uint32_t SwitchPresenceNow(MobileBroadband::Impl& hub, bool present)
{
    PresenceNews news;
    return ChangePresence(hub, present, news) ? Announce(hub, news) : 0;
}

// The modem leaves or returns at once; the news goes out on a worker thread,
// after the events of the news before it (a return at the moment of a
// departure is announced after the departure, as the sources see them in turn).
void SwitchPresenceAndPost(MobileBroadband::Impl* hub, bool present)
{
    PresenceNews news;
    if (!ChangePresence(*hub, present, news)) {
        return;
    }
    const Clock::Duration now = hub->clock.Elapsed();
    uint32_t delayMs = 0;
    {
        std::lock_guard<std::mutex> lock(hub->mutex);
        if (hub->newsEndsAt > now) {
            delayMs = static_cast<uint32_t>(std::chrono::ceil<std::chrono::milliseconds>(hub->newsEndsAt - now).count());
        }
        hub->newsEndsAt = now + std::chrono::milliseconds(delayMs + kPresenceEventSpacingMs * news.events.size());
    }
    hub->dispatcher.Post([hub, news] { Announce(*hub, news); }, delayMs);
}

}  // namespace

void MobileBroadband::Impl::StartReboot(std::function<void()> afterLeaving)
{
    uint32_t removalDelay = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        removalDelay = removalDelayMs;
    }
    Impl* hub = this;
    dispatcher.Post(
        [hub, afterLeaving] {
            const uint32_t left = SwitchPresenceNow(*hub, false);
            if (afterLeaving) {
                hub->dispatcher.Post(afterLeaving, left);  // after the removal events
            }
            uint32_t away = 0;
            {
                std::lock_guard<std::mutex> lock(hub->mutex);
                away = hub->awayMs;
            }
            if (away != kStaysAway) {
                hub->dispatcher.Post([hub] { SwitchPresenceNow(*hub, true); }, away);
            }
        },
        removalDelay);
}

void MobileBroadband::Impl::Disconnect()
{
    std::vector<IUnknown*> sinks;
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++generation;
        // Managers still held by someone stay alive, disconnected, without sinks;
        // sessions of the disconnected objects are closed.
        for (SimManagerBase* manager : managers) {
            manager->TakeSinksLocked(sinks);
        }
        openSessions.clear();
    }
    for (IUnknown* sink : sinks) {
        sink->Release();
    }
}

void MobileBroadband::Impl::ClearFaultsLocked()
{
    contextFault = Armed{};
    serviceFault = Armed{};
    rebootFault = Armed{};
    adviseFaults.clear();
    unadviseFaults.clear();
    openFaults.clear();
    closeFaults.clear();
    commandFaults.clear();
}

void MobileBroadband::Impl::Reset()
{
    dispatcher.Stop();
    Disconnect();
    {
        std::lock_guard<std::mutex> lock(mutex);
        presenceEpoch = 1;
        present = true;
        interfaceId = kDefaultInterfaceId;
        nextRequestId = 1;
        nextCookie = 1;
        removalDelayMs = 20;
        awayMs = 50;
        commandLatencyMs = 0;
        presenceListener = nullptr;
        activityListener = nullptr;
        presenceOrder = DefaultPresenceOrder();
        heldBack.clear();
        newsEndsAt = Clock::Duration{0};
        sameObjects = false;
        earlySessionCompletions = false;
        rebootStatus = S_OK;
        rebootCompletionAfterLeaving = false;
        ClearFaultsLocked();
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
        adviseCalls.clear();
        unadviseCalls.clear();
        openSessionCalls = 0;
        closeSessionCalls = 0;
        transcript.clear();
    }
    modem.Reset();
}

// ---------------------------------------------------------------- facade

MobileBroadband::MobileBroadband(ComRuntime& com, Clock& clock) : m_impl(std::make_unique<Impl>(com, clock))
{
    Impl* hub = m_impl.get();
    com.AddClass(kClsidInterfaceManager, [hub] { return NewInterfaceManager(*hub); });
    com.AddClass(kClsidConnectionManager, [hub] { return NewConnectionManager(*hub); });
    com.AddClass(kClsidDeviceServicesManager, [hub] { return NewDeviceServicesManager(*hub); });
    com.SetTeardownHandler([hub] { hub->Disconnect(); });
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
    return m_impl->CurrentInterfaceId();
}

bool MobileBroadband::ModemPresent() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->present;
}

bool MobileBroadband::CommandSessionOpen() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return !m_impl->openSessions.empty();
}

void MobileBroadband::RemoveModem()
{
    SwitchPresenceAndPost(m_impl.get(), false);
}

void MobileBroadband::ReturnModem()
{
    SwitchPresenceAndPost(m_impl.get(), true);
}

void MobileBroadband::SetRebootTiming(uint32_t removalDelayMs, uint32_t awayMs)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->removalDelayMs = removalDelayMs;
    m_impl->awayMs = awayMs;
}

void MobileBroadband::SetCommandLatency(uint32_t milliseconds)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->commandLatencyMs = milliseconds;
}

void MobileBroadband::SetPresenceListener(std::function<void(bool present)> listener)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->presenceListener = std::move(listener);
}

void MobileBroadband::SetActivityListener(std::function<void(const Activity&)> listener)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->activityListener = std::move(listener);
}

void MobileBroadband::SetNetworkHook(std::function<void(bool present)> hook)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->networkHook = std::move(hook);
}

void MobileBroadband::HandOutSameObjects(bool same)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->sameObjects = same;
}

void MobileBroadband::CompleteSessionCallsBeforeReturn(bool early)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->earlySessionCompletions = early;
}

bool MobileBroadband::SetPresenceEventOrder(const std::vector<PresenceEvent>& order)
{
    // Each event once, and each source's removal before its arrival.
    const Impl::PresenceOrder all = Impl::DefaultPresenceOrder();
    auto at = [&order](PresenceEvent event) { return std::find(order.begin(), order.end(), event); };
    const bool valid = std::is_permutation(order.begin(), order.end(), all.begin(), all.end()) &&
                       at(PresenceEvent::CapableRemoval) < at(PresenceEvent::CapableArrival) &&
                       at(PresenceEvent::InterfaceRemoval) < at(PresenceEvent::InterfaceArrival);
    if (valid) {
        std::lock_guard<std::mutex> lock(m_impl->mutex);
        m_impl->presenceOrder = order;
    }
    return valid;
}

void MobileBroadband::SetRebootCompletion(int32_t status, bool afterLeaving)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->rebootStatus = status;
    m_impl->rebootCompletionAfterLeaving = afterLeaving;
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

void MobileBroadband::FailUnadvise(EventsInterface which, int times, int32_t failure)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->unadviseFaults[which] = Impl::Armed{times, failure};
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

void MobileBroadband::ClearFaults()
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->ClearFaultsLocked();
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

void MobileBroadband::SetRegisterMode(uint32_t mode)
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->registerMode = mode;
}

void MobileBroadband::RaiseInterfaceEvent(InterfaceEvent event)
{
    Impl* hub = m_impl.get();
    ComRef<IMbnInterface> object(hub->NewInterfaceObject(), false);
    const ULONG requestId = hub->NewRequestId();
    hub->PostEvent<IMbnInterfaceEvents>(object, [event, requestId](IMbnInterfaceEvents* sink, IMbnInterface* item) {
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
}

void MobileBroadband::RaiseRegistrationEvent(RegistrationEvent event)
{
    Impl* hub = m_impl.get();
    ComRef<IMbnInterface> object(hub->NewInterfaceObject(), false);
    IMbnRegistration* registration = nullptr;
    object->QueryInterface(IID_IMbnRegistration, reinterpret_cast<void**>(&registration));
    ComRef<IMbnRegistration> held(registration, false);
    const ULONG requestId = hub->NewRequestId();
    hub->PostEvent<IMbnRegistrationEvents>(held, [event, requestId](IMbnRegistrationEvents* sink,
                                                                    IMbnRegistration* item) {
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
}

void MobileBroadband::RaiseConnectionEvent(ConnectionEvent event)
{
    Impl* hub = m_impl.get();
    ComRef<IMbnConnection> object(NewConnection(*hub, hub->CurrentInterfaceId()), false);
    const ULONG requestId = hub->NewRequestId();
    hub->PostEvent<IMbnConnectionEvents>(object, [event, requestId](IMbnConnectionEvents* sink,
                                                                   IMbnConnection* item) {
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
}

void MobileBroadband::RaiseReadyState(uint32_t state)
{
    {
        std::lock_guard<std::mutex> lock(m_impl->mutex);
        m_impl->readyState = state;
    }
    RaiseInterfaceEvent(InterfaceEvent::ReadyStateChange);
}

void MobileBroadband::RaiseRegisterState(uint32_t state)
{
    {
        std::lock_guard<std::mutex> lock(m_impl->mutex);
        m_impl->registerState = state;
    }
    RaiseRegistrationEvent(RegistrationEvent::RegisterStateChange);
}

void MobileBroadband::RaiseConnectionState(uint32_t activationState, const std::string& profileName)
{
    {
        std::lock_guard<std::mutex> lock(m_impl->mutex);
        m_impl->activationState = activationState;
        m_impl->profileName = profileName;
    }
    RaiseConnectionEvent(ConnectionEvent::ConnectStateChange);
}

void MobileBroadband::RaiseInterfaceArrival()
{
    m_impl->PostEvent<IMbnInterfaceManagerEvents>(
        ComRef<IMbnInterface>(m_impl->NewInterfaceObject(), false),
        [](IMbnInterfaceManagerEvents* sink, IMbnInterface* item) { sink->OnInterfaceArrival(item); });
}

void MobileBroadband::RaiseInterfaceRemoval()
{
    m_impl->PostEvent<IMbnInterfaceManagerEvents>(
        ComRef<IMbnInterface>(m_impl->NewInterfaceObject(), false),
        [](IMbnInterfaceManagerEvents* sink, IMbnInterface* item) { sink->OnInterfaceRemoval(item); });
}

namespace {

// Capable-interface state change for `interfaceId` (empty: the modem's).
void PostCapableInterface(MobileBroadband::Impl* hub, const std::string& interfaceId,
                          MBN_DEVICE_SERVICES_INTERFACE_STATE state)
{
    const std::string id = interfaceId.empty() ? hub->CurrentInterfaceId() : interfaceId;
    hub->dispatcher.Post([hub, id, state] { hub->FireCapableInterface(id, state); });
}

// An event of the modem's vendor device service carrying `data` as a byte array.
void PostServiceData(MobileBroadband::Impl* hub, const std::vector<uint8_t>& data,
                     std::function<void(IMbnDeviceServicesEvents*, IMbnDeviceService*, SAFEARRAY*)> call)
{
    uint64_t epoch = 0;
    std::string id;
    {
        std::lock_guard<std::mutex> lock(hub->mutex);
        epoch = hub->presenceEpoch;
        id = hub->interfaceId;
    }
    ComRef<IMbnDeviceService> service(NewDeviceService(*hub, id, epoch), false);
    hub->dispatcher.Post([hub, service, data, call] {
        SAFEARRAY* array = MakeByteArray(data);
        hub->Fire<IMbnDeviceServicesEvents>(
            [&](IMbnDeviceServicesEvents* sink) { call(sink, service.get(), array); });
        SafeArrayDestroy(array);
    });
}

}  // namespace

void MobileBroadband::RaiseCapableInterfaceArrival(const std::string& interfaceId)
{
    PostCapableInterface(m_impl.get(), interfaceId, MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_ARRIVAL);
}

void MobileBroadband::RaiseCapableInterfaceRemoval(const std::string& interfaceId)
{
    PostCapableInterface(m_impl.get(), interfaceId, MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_REMOVAL);
}

void MobileBroadband::RaiseDeviceServiceNotification(uint32_t eventId, const std::vector<uint8_t>& data)
{
    PostServiceData(m_impl.get(), data,
                    [eventId](IMbnDeviceServicesEvents* sink, IMbnDeviceService* service, SAFEARRAY* array) {
                        sink->OnEventNotification(service, eventId, array);
                    });
}

void MobileBroadband::RaiseReadData(const std::vector<uint8_t>& data)
{
    PostServiceData(m_impl.get(), data, [](IMbnDeviceServicesEvents* sink, IMbnDeviceService* service,
                                           SAFEARRAY* array) { sink->OnReadData(service, array); });
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

size_t MobileBroadband::AdvisedSinks(EventsInterface which) const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    size_t count = 0;
    for (SimConnectionPoint* point : m_impl->LivePointsLocked(which)) {
        count += point->connections.size();
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
