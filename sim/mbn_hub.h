// Inside of the simulated Mobile Broadband API: the shared state behind every
// simulated COM object (MobileBroadband::Impl), and the helpers the objects
// and the test-facing facade use. Linux build only.
#pragma once

#include <windows.h>
#include <olectl.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "mbnapi.h"
#include "sim/mbn_dispatcher.h"
#include "sim/mbn_sim.h"

namespace sim {

class SimConnectionPoint;
class SimManagerBase;
class SimDeviceServicesContext;
class SimDeviceService;

// Holds one COM reference; copies AddRef, destruction Releases.
template <class T>
class ComRef {
public:
    ComRef() = default;
    explicit ComRef(T* object, bool addRef = true) : m_object(object)
    {
        if (m_object != nullptr && addRef) {
            m_object->AddRef();
        }
    }
    ComRef(const ComRef& other) : ComRef(other.m_object) {}
    ComRef(ComRef&& other) noexcept : m_object(other.m_object) { other.m_object = nullptr; }
    ComRef& operator=(ComRef other) noexcept
    {
        std::swap(m_object, other.m_object);
        return *this;
    }
    ~ComRef()
    {
        if (m_object != nullptr) {
            m_object->Release();
        }
    }
    T* get() const { return m_object; }
    T* operator->() const { return m_object; }

private:
    T* m_object = nullptr;
};

// The interface id each interface of the simulated objects answers to.
template <class Interface>
const IID& IidOf();
template <> inline const IID& IidOf<IMbnInterfaceManager>() { return IID_IMbnInterfaceManager; }
template <> inline const IID& IidOf<IMbnConnectionManager>() { return IID_IMbnConnectionManager; }
template <> inline const IID& IidOf<IMbnDeviceServicesManager>() { return IID_IMbnDeviceServicesManager; }
template <> inline const IID& IidOf<IMbnDeviceServicesContext>() { return IID_IMbnDeviceServicesContext; }
template <> inline const IID& IidOf<IMbnDeviceService>() { return IID_IMbnDeviceService; }
template <> inline const IID& IidOf<IMbnInterface>() { return IID_IMbnInterface; }
template <> inline const IID& IidOf<IMbnRegistration>() { return IID_IMbnRegistration; }
template <> inline const IID& IidOf<IMbnConnection>() { return IID_IMbnConnection; }
template <> inline const IID& IidOf<IConnectionPointContainer>() { return IID_IConnectionPointContainer; }
template <> inline const IID& IidOf<IConnectionPoint>() { return IID_IConnectionPoint; }

// Points *ppv at `self` as `Interface` when `riid` is its id.
template <class Interface, class Object>
bool Offer(Object* self, REFIID riid, void** ppv)
{
    if (!IsEqualIID(riid, IidOf<Interface>())) {
        return false;
    }
    *ppv = static_cast<Interface*>(self);
    return true;
}

// QueryInterface of an object offering the listed interfaces; IUnknown is
// answered with the first of them.
template <class First, class... Rest, class Object>
HRESULT QueryAmong(Object* self, REFIID riid, void** ppv)
{
    if (ppv == nullptr) {
        return E_POINTER;
    }
    const IID& wanted = IsEqualIID(riid, IID_IUnknown) ? IidOf<First>() : riid;
    if (!(Offer<First>(self, wanted, ppv) || ... || Offer<Rest>(self, wanted, ppv))) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    self->AddRef();
    return S_OK;
}

// Count of simulated COM objects alive.
extern std::atomic<long> g_liveSimObjects;

// Reference counting and QueryInterface shared by the simulated objects.
template <class... Interfaces>
class SimComObject : public Interfaces... {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryAmong<Interfaces...>(this, riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG refs = --m_refs;
        if (refs == 0) {
            delete this;
        }
        return refs;
    }
    // AddRef unless the object is already on its way out.
    bool TryAddRef()
    {
        ULONG refs = m_refs.load();
        while (refs != 0) {
            if (m_refs.compare_exchange_weak(refs, refs + 1)) {
                return true;
            }
        }
        return false;
    }

protected:
    SimComObject() { ++g_liveSimObjects; }
    virtual ~SimComObject() { --g_liveSimObjects; }

private:
    std::atomic<ULONG> m_refs{1};
};

using EventsInterface = MobileBroadband::EventsInterface;

// The events interface a sink interface is advised on.
template <class Events>
struct EventsOf;
template <>
struct EventsOf<IMbnConnectionEvents> { static constexpr auto which = EventsInterface::Connection; };
template <>
struct EventsOf<IMbnInterfaceManagerEvents> { static constexpr auto which = EventsInterface::InterfaceManager; };
template <>
struct EventsOf<IMbnInterfaceEvents> { static constexpr auto which = EventsInterface::Interface; };
template <>
struct EventsOf<IMbnDeviceServicesEvents> { static constexpr auto which = EventsInterface::DeviceServices; };
template <>
struct EventsOf<IMbnRegistrationEvents> { static constexpr auto which = EventsInterface::Registration; };

BSTR MakeBstr(const std::string& text);
std::string BstrText(BSTR text);
bool SameIdNoCase(const std::string& a, const std::string& b);
SAFEARRAY* MakeByteArray(const std::vector<uint8_t>& bytes);

struct MobileBroadband::Impl {
    Impl(ComRuntime& comRuntime, Clock& clock);

    // A fault armed for `times` more calls (< 0: every call).
    struct Armed {
        int times = 0;
        int32_t failure = 0;
        bool Take(int32_t& hr);  // consumes one call when armed
    };
    struct SessionFaultEntry {
        SessionFault fault;
        int times;
        int32_t failure;
    };

    using PresenceOrder = std::vector<PresenceEvent>;
    static PresenceOrder DefaultPresenceOrder();

    ComRuntime& com;
    Clock& clock;
    MbnDispatcher dispatcher;
    Tk42nModem modem;
    // Objects made in an earlier generation (before a reset, or before the
    // process left COM) are disconnected.
    std::atomic<uint64_t> generation{1};

    // Taken over a change of presence and the network hook's update, so that
    // the adapter list always ends as the last change left the modem.
    std::mutex presenceMutex;
    mutable std::mutex mutex;
    // ---- guarded by mutex ----
    uint64_t presenceEpoch = 1;
    bool present = true;
    std::set<const SimDeviceService*> openSessions;  // objects whose command session is open
    std::string interfaceId = kDefaultInterfaceId;
    ULONG nextRequestId = 1;
    DWORD nextCookie = 1;
    uint32_t removalDelayMs = 20;
    uint32_t awayMs = 50;
    uint32_t commandLatencyMs = 0;  // answer time of every AT command
    std::function<void(bool)> presenceListener;
    std::function<void(const Activity&)> activityListener;
    std::function<void(bool)> networkHook;  // kept across resets
    PresenceOrder presenceOrder = DefaultPresenceOrder();
    PresenceOrder heldBack;  // events of the last leave that wait for the return
    Clock::Duration newsEndsAt{0};  // when the events of the last presence news have all gone out

    bool sameObjects = false;
    SimDeviceServicesContext* handedContext = nullptr;  // not owned; cleared by its destructor
    SimDeviceService* handedService = nullptr;          // not owned; cleared by its destructor
    bool earlySessionCompletions = false;
    int32_t rebootStatus = 0;
    bool rebootCompletionAfterLeaving = false;

    Armed contextFault;
    Armed serviceFault;
    Armed rebootFault;
    std::map<EventsInterface, Armed> adviseFaults;
    std::map<EventsInterface, Armed> unadviseFaults;
    std::vector<SessionFaultEntry> openFaults;
    std::vector<SessionFaultEntry> closeFaults;
    std::vector<CommandFault> commandFaults;
    bool failStateQueries = false;

    uint32_t readyState = MBN_READY_STATE_INITIALIZED;
    bool emergencyMode = false;
    std::string providerId = "00101";
    uint32_t providerState = 1;
    std::string providerName = "Test Network";
    uint32_t registerState = MBN_REGISTER_STATE_HOME;
    uint32_t registerMode = MBN_REGISTER_MODE_AUTOMATIC;
    uint32_t activationState = MBN_ACTIVATION_STATE_ACTIVATED;
    std::string profileName = "Internet";

    std::vector<SimManagerBase*> managers;  // live manager objects (not owned)
    std::map<EventsInterface, int> adviseCalls;
    std::map<EventsInterface, int> unadviseCalls;
    int openSessionCalls = 0;
    int closeSessionCalls = 0;
    std::vector<TranscriptEntry> transcript;
    // ---- end of guarded state ----

    bool Alive(uint64_t objectGeneration) const { return objectGeneration == generation.load(); }
    ULONG NextRequestId();  // under mutex
    ULONG NewRequestId();   // takes the mutex
    // Under mutex: a command joins the transcript; an activity is told.
    void RecordCommandLocked(const TranscriptEntry& entry);
    void NoteLocked(Activity::Kind kind);
    std::string CurrentInterfaceId() const;  // takes the mutex
    // Under mutex: the connection points for `which` of the managers made
    // since the last reset.
    std::vector<SimConnectionPoint*> LivePointsLocked(EventsInterface which);
    // The advised sinks of one events interface, each with a reference.
    std::vector<ComRef<IUnknown>> CollectSinks(EventsInterface which);
    // Calls every advised sink of `Events` (on the calling thread).
    template <class Events>
    void Fire(const std::function<void(Events*)>& call)
    {
        for (const ComRef<IUnknown>& sink : CollectSinks(EventsOf<Events>::which)) {
            call(static_cast<Events*>(sink.get()));
        }
    }
    // Runs `work` on a worker thread and returns once it has run (or was
    // dropped by a reset).
    void RunOnWorker(std::function<void()> work);
    // Calls `call(sink, object)` for every advised sink of `Events` on a worker
    // thread, `delayMs` from now; `object` is held until then.
    template <class Events, class Object, class Call>
    void PostEvent(ComRef<Object> object, Call call, uint32_t delayMs = 0)
    {
        dispatcher.Post([this, object, call] { Fire<Events>([&](Events* sink) { call(sink, object.get()); }); },
                        delayMs);
    }
    IMbnInterface* NewInterfaceObject();  // one reference, for events and queries
    // Delivers OnInterfaceStateChange for `id` to the device-services sinks.
    void FireCapableInterface(const std::string& id, MBN_DEVICE_SERVICES_INTERFACE_STATE state);
    // Delivers one presence event for the modem's interface.
    void FirePresenceEvent(PresenceEvent event);
    // The modem leaves `removalDelayMs` from now, `afterLeaving` runs once its
    // events are out, and it returns `awayMs` later.
    void StartReboot(std::function<void()> afterLeaving);
    // Disconnects every object handed out so far and releases the advised sinks.
    void Disconnect();
    void Reset();
    void ClearFaultsLocked();  // hub mutex held
};

}  // namespace sim
