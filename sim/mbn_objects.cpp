#include "sim/mbn_objects.h"

#include <algorithm>
#include <cstdio>

namespace sim {

std::atomic<long> g_liveSimObjects{0};

namespace {

HRESULT Disconnected()
{
    return RPC_E_DISCONNECTED;
}

// Reads a one-dimensional VT_UI1 array; false when it is anything else.
bool ReadBytes(SAFEARRAY* data, std::vector<uint8_t>& bytes)
{
    VARTYPE vt = VT_EMPTY;
    if (data == nullptr || SafeArrayGetDim(data) != 1 || FAILED(SafeArrayGetVartype(data, &vt)) || vt != VT_UI1) {
        return false;
    }
    LONG lower = 0;
    LONG upper = -1;
    if (FAILED(SafeArrayGetLBound(data, 1, &lower)) || FAILED(SafeArrayGetUBound(data, 1, &upper))) {
        return false;
    }
    const long long count = static_cast<long long>(upper) - lower + 1;
    void* raw = nullptr;
    if (count < 0 || FAILED(SafeArrayAccessData(data, &raw))) {
        return false;
    }
    bytes.assign(static_cast<uint8_t*>(raw), static_cast<uint8_t*>(raw) + count);
    SafeArrayUnaccessData(data);
    return true;
}

std::string HexText(const std::vector<uint8_t>& bytes)
{
    std::string text;
    char item[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(item, sizeof(item), i == 0 ? "%02x" : " %02x", bytes[i]);
        text += item;
    }
    return text;
}

constexpr size_t kMaxCommandSize = 4096;

}  // namespace

// An object of the modem's interface.
class InterfaceObject : public SimHubObject {
protected:
    InterfaceObject(MobileBroadband::Impl& hub, std::string interfaceId)
        : SimHubObject(hub), m_interfaceId(std::move(interfaceId))
    {
    }

    // A state query: disconnected, null pointer, the injected failure, or the
    // value filled in under the hub's lock.
    template <class T, class Fill>
    HRESULT Query(T* out, Fill fill)
    {
        if (!m_hub.Alive(m_generation)) {
            return Disconnected();
        }
        if (out == nullptr) {
            return E_POINTER;
        }
        std::lock_guard<std::mutex> lock(m_hub.mutex);
        if (m_hub.failStateQueries) {
            return E_FAIL;
        }
        fill(out);
        return S_OK;
    }

    const std::string m_interfaceId;
};

// An object bound to one appearance of the modem (its presence epoch).
class ModemObject : public InterfaceObject {
public:
    // Still connected, and made for this interface since the modem's last arrival.
    bool Serves(const std::string& interfaceId, uint64_t epoch) const
    {
        return m_hub.Alive(m_generation) && m_interfaceId == interfaceId && m_epoch == epoch;
    }

protected:
    ModemObject(MobileBroadband::Impl& hub, std::string interfaceId, uint64_t epoch)
        : InterfaceObject(hub, std::move(interfaceId)), m_epoch(epoch)
    {
    }

    // Under the hub's mutex: the modem still there, in the epoch this object belongs to.
    HRESULT CheckPresentLocked() const
    {
        return (m_hub.present && m_hub.presenceEpoch == m_epoch) ? S_OK : sim::hr::DeviceNotAvailable;
    }

    const uint64_t m_epoch;
};

// ---------------------------------------------------------------- interface

namespace {

class SimConnection final : public SimComObject<IMbnConnection>, public InterfaceObject {
public:
    SimConnection(MobileBroadband::Impl& hub, std::string interfaceId) : InterfaceObject(hub, std::move(interfaceId)) {}

    HRESULT STDMETHODCALLTYPE get_ConnectionID(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_InterfaceID(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Connect(MBN_CONNECTION_MODE, LPCWSTR, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Disconnect(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetConnectionState(MBN_ACTIVATION_STATE* ConnectionState, BSTR* ProfileName) override
    {
        if (ProfileName == nullptr) {
            return E_POINTER;
        }
        return Query(ConnectionState, [this, ProfileName](MBN_ACTIVATION_STATE* out) {
            *out = static_cast<MBN_ACTIVATION_STATE>(m_hub.activationState);
            *ProfileName = MakeBstr(m_hub.profileName);
        });
    }
    HRESULT STDMETHODCALLTYPE GetVoiceCallState(MBN_VOICE_CALL_STATE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetActivationNetworkError(ULONG*) override { return E_NOTIMPL; }
};

// The modem's interface; it answers for its registration too.
class SimInterface final : public SimComObject<IMbnInterface, IMbnRegistration>, public InterfaceObject {
public:
    SimInterface(MobileBroadband::Impl& hub, std::string interfaceId) : InterfaceObject(hub, std::move(interfaceId)) {}

    // IMbnInterface
    HRESULT STDMETHODCALLTYPE get_InterfaceID(BSTR* InterfaceID) override
    {
        if (!m_hub.Alive(m_generation)) {
            return Disconnected();
        }
        if (InterfaceID == nullptr) {
            return E_POINTER;
        }
        *InterfaceID = MakeBstr(m_interfaceId);
        return *InterfaceID == nullptr ? E_OUTOFMEMORY : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetInterfaceCapability(MBN_INTERFACE_CAPS*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSubscriberInformation(IMbnSubscriberInformation**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetReadyState(MBN_READY_STATE* readyState) override
    {
        return Query(readyState,
                     [this](MBN_READY_STATE* out) { *out = static_cast<MBN_READY_STATE>(m_hub.readyState); });
    }
    HRESULT STDMETHODCALLTYPE InEmergencyMode(VARIANT_BOOL* emergencyMode) override
    {
        return Query(emergencyMode,
                     [this](VARIANT_BOOL* out) { *out = m_hub.emergencyMode ? VARIANT_TRUE : VARIANT_FALSE; });
    }
    HRESULT STDMETHODCALLTYPE GetHomeProvider(MBN_PROVIDER* homeProvider) override
    {
        return Query(homeProvider, [this](MBN_PROVIDER* out) {
            out->providerID = MakeBstr(m_hub.providerId);
            out->providerState = m_hub.providerState;
            out->providerName = MakeBstr(m_hub.providerName);
            out->dataClass = 0;
        });
    }
    HRESULT STDMETHODCALLTYPE GetPreferredProviders(SAFEARRAY**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPreferredProviders(SAFEARRAY*, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetVisibleProviders(ULONG*, SAFEARRAY**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ScanNetwork(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetConnection(IMbnConnection**) override { return E_NOTIMPL; }

    // IMbnRegistration
    HRESULT STDMETHODCALLTYPE GetRegisterState(MBN_REGISTER_STATE* registerState) override
    {
        return Query(registerState, [this](MBN_REGISTER_STATE* out) {
            *out = static_cast<MBN_REGISTER_STATE>(m_hub.registerState);
        });
    }
    HRESULT STDMETHODCALLTYPE GetRegisterMode(MBN_REGISTER_MODE* registerMode) override
    {
        return Query(registerMode,
                     [this](MBN_REGISTER_MODE* out) { *out = static_cast<MBN_REGISTER_MODE>(m_hub.registerMode); });
    }
    HRESULT STDMETHODCALLTYPE GetProviderID(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetProviderName(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetRoamingText(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAvailableDataClasses(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentDataClass(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetRegistrationNetworkError(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPacketAttachNetworkError(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetRegisterMode(MBN_REGISTER_MODE, LPCWSTR, ULONG, ULONG*) override
    {
        return E_NOTIMPL;
    }
};

}  // namespace

// ---------------------------------------------------------- device services

class SimDeviceService final : public SimComObject<IMbnDeviceService>, public ModemObject {
public:
    SimDeviceService(MobileBroadband::Impl& hub, std::string interfaceId, uint64_t epoch)
        : ModemObject(hub, std::move(interfaceId), epoch)
    {
    }
    ~SimDeviceService() override
    {
        std::lock_guard<std::mutex> lock(m_hub.mutex);
        m_hub.openSessions.erase(this);  // a released service leaves no session behind
        if (m_hub.handedService == this) {
            m_hub.handedService = nullptr;
        }
    }

    HRESULT STDMETHODCALLTYPE QuerySupportedCommands(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OpenCommandSession(ULONG* requestID) override { return Session(requestID, true); }
    HRESULT STDMETHODCALLTYPE CloseCommandSession(ULONG* requestID) override { return Session(requestID, false); }

    HRESULT STDMETHODCALLTYPE SetCommand(ULONG commandID, SAFEARRAY* deviceServiceData, ULONG* requestID) override
    {
        if (!m_hub.Alive(m_generation)) {
            return Disconnected();
        }
        if (requestID == nullptr) {
            return E_POINTER;
        }
        std::vector<uint8_t> payload;
        if (!ReadBytes(deviceServiceData, payload) || payload.size() > kMaxCommandSize) {
            return E_INVALIDARG;
        }

        MobileBroadband::TranscriptEntry entry;
        entry.commandId = commandID;
        const bool wellFramedAt = commandID == MobileBroadband::kAtCommandId && payload.size() >= 4 &&
                                  payload[0] == 0 && payload[1] == 0 && payload[2] == 0 && payload[3] == 0;
        entry.command = wellFramedAt ? std::string(payload.begin() + 4, payload.end()) : HexText(payload);

        using Kind = MobileBroadband::CommandFault::Kind;
        bool execute = false;
        bool complete = true;
        bool withData = true;
        bool reboot = false;
        bool completeAfterLeaving = false;
        uint32_t delayMs = 0;
        HRESULT status = S_OK;
        ULONG id = 0;
        {
            std::lock_guard<std::mutex> lock(m_hub.mutex);
            HRESULT hr = CheckPresentLocked();
            if (SUCCEEDED(hr) && m_hub.openSessions.count(this) == 0) {
                hr = sim::hr::InvalidState;
            }
            if (SUCCEEDED(hr) && commandID == MobileBroadband::kRebootCommandId) {
                int32_t refused = 0;
                if (m_hub.rebootFault.Take(refused)) {
                    hr = refused;
                }
            }
            if (SUCCEEDED(hr) && commandID == MobileBroadband::kAtCommandId && wellFramedAt) {
                delayMs = m_hub.commandLatencyMs;
                for (MobileBroadband::CommandFault& fault : m_hub.commandFaults) {
                    if (fault.times == 0 ||
                        (!fault.match.empty() && entry.command.find(fault.match) == std::string::npos)) {
                        continue;
                    }
                    if (fault.times > 0) {
                        --fault.times;
                    }
                    switch (fault.kind) {
                    case Kind::CallFails:
                        hr = fault.hr;
                        break;
                    case Kind::NoCompletion:
                        complete = false;
                        break;
                    case Kind::LateCompletion:
                        delayMs = fault.lateMs;
                        break;
                    case Kind::ErrorStatus:
                        status = fault.hr;
                        break;
                    case Kind::NoData:
                        withData = false;
                        break;
                    }
                    break;
                }
            }
            entry.callResult = hr;
            if (FAILED(hr)) {
                m_hub.RecordCommandLocked(entry);
                return hr;
            }
            entry.accepted = true;
            if (commandID == MobileBroadband::kAtCommandId) {
                if (!wellFramedAt) {
                    status = E_INVALIDARG;
                }
                execute = SUCCEEDED(status);
            } else if (commandID == MobileBroadband::kRebootCommandId &&
                       payload == std::vector<uint8_t>{0x00, 0x11}) {
                reboot = true;
                status = m_hub.rebootStatus;
                completeAfterLeaving = m_hub.rebootCompletionAfterLeaving;
            } else {
                status = E_INVALIDARG;
            }
            id = m_hub.NextRequestId();
        }

        std::vector<uint8_t> response(4, 0);
        if (execute) {
            entry.reply = m_hub.modem.Execute(entry.command);
            response.insert(response.end(), entry.reply.begin(), entry.reply.end());
        }
        if (reboot) {
            m_hub.modem.Reboot();
        }
        if (FAILED(status)) {
            withData = false;
        }
        entry.status = status;
        entry.completionSent = complete;
        {
            std::lock_guard<std::mutex> lock(m_hub.mutex);
            m_hub.RecordCommandLocked(entry);
        }
        *requestID = id;

        MobileBroadband::Impl* hub = &m_hub;
        std::function<void()> completion;
        if (complete) {
            ComRef<IMbnDeviceService> self(this);
            completion = [hub, self, commandID, response, withData, status, id] {
                SAFEARRAY* data = withData ? MakeByteArray(response) : nullptr;
                hub->Fire<IMbnDeviceServicesEvents>([&](IMbnDeviceServicesEvents* sink) {
                    sink->OnSetCommandComplete(self.get(), commandID, data, status, id);
                });
                SafeArrayDestroy(data);
            };
        }
        if (completion || reboot) {
            m_hub.dispatcher.Post(
                [hub, completion, reboot, completeAfterLeaving] {
                    if (completion && !completeAfterLeaving) {
                        completion();
                    }
                    if (reboot) {
                        hub->StartReboot(completeAfterLeaving ? completion : nullptr);
                    }
                },
                delayMs);
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE QueryCommand(ULONG, SAFEARRAY*, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OpenDataSession(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CloseDataSession(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE WriteData(SAFEARRAY*, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_InterfaceID(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_DeviceServiceID(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_IsCommandSessionOpen(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_IsDataSessionOpen(BOOL*) override { return E_NOTIMPL; }

private:
    // Opens or closes this object's command session; the completion goes to
    // every device-services sink on a worker thread, before the call returns
    // when the platform is set to.
    HRESULT Session(ULONG* requestID, bool open)
    {
        if (!m_hub.Alive(m_generation)) {
            return Disconnected();
        }
        if (requestID == nullptr) {
            return E_POINTER;
        }
        bool complete = true;
        bool beforeReturn = false;
        HRESULT status = S_OK;
        ULONG id = 0;
        {
            std::lock_guard<std::mutex> lock(m_hub.mutex);
            HRESULT hr = CheckPresentLocked();
            if (FAILED(hr)) {
                return hr;
            }
            ++(open ? m_hub.openSessionCalls : m_hub.closeSessionCalls);
            const bool isOpen = m_hub.openSessions.count(this) != 0;
            if (open && isOpen) {
                return sim::hr::AlreadyInitialized;
            }
            if (!open && !isOpen) {
                return sim::hr::InvalidState;
            }
            for (auto& fault : open ? m_hub.openFaults : m_hub.closeFaults) {
                if (fault.times == 0) {
                    continue;
                }
                if (fault.times > 0) {
                    --fault.times;
                }
                switch (fault.fault) {
                case MobileBroadband::SessionFault::CallFails:
                    return fault.failure;
                case MobileBroadband::SessionFault::NoCompletion:
                    complete = false;
                    break;
                case MobileBroadband::SessionFault::ErrorStatus:
                    status = fault.failure;
                    break;
                }
                break;
            }
            if (SUCCEEDED(status)) {
                if (open) {
                    m_hub.openSessions.insert(this);
                } else {
                    m_hub.openSessions.erase(this);
                }
                m_hub.NoteLocked(open ? MobileBroadband::Activity::Kind::SessionOpened
                                      : MobileBroadband::Activity::Kind::SessionClosed);
            }
            id = m_hub.NextRequestId();
            beforeReturn = m_hub.earlySessionCompletions;
        }
        *requestID = id;
        if (complete) {
            MobileBroadband::Impl* hub = &m_hub;
            ComRef<IMbnDeviceService> self(this);
            auto deliver = [hub, self, open, status, id] {
                hub->Fire<IMbnDeviceServicesEvents>([&](IMbnDeviceServicesEvents* sink) {
                    if (open) {
                        sink->OnOpenCommandSessionComplete(self.get(), status, id);
                    } else {
                        sink->OnCloseCommandSessionComplete(self.get(), status, id);
                    }
                });
            };
            if (beforeReturn) {
                m_hub.RunOnWorker(deliver);
            } else {
                m_hub.dispatcher.Post(deliver);
            }
        }
        return S_OK;
    }
};

class SimDeviceServicesContext final : public SimComObject<IMbnDeviceServicesContext>, public ModemObject {
public:
    SimDeviceServicesContext(MobileBroadband::Impl& hub, std::string interfaceId, uint64_t epoch)
        : ModemObject(hub, std::move(interfaceId), epoch)
    {
    }
    ~SimDeviceServicesContext() override
    {
        std::lock_guard<std::mutex> lock(m_hub.mutex);
        if (m_hub.handedContext == this) {
            m_hub.handedContext = nullptr;
        }
    }

    HRESULT STDMETHODCALLTYPE EnumerateDeviceServices(SAFEARRAY**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDeviceService(BSTR deviceServiceID, IMbnDeviceService** mbnDeviceService) override
    {
        if (!m_hub.Alive(m_generation)) {
            return Disconnected();
        }
        if (mbnDeviceService == nullptr) {
            return E_POINTER;
        }
        *mbnDeviceService = nullptr;
        std::lock_guard<std::mutex> lock(m_hub.mutex);
        HRESULT hr = CheckPresentLocked();
        if (FAILED(hr)) {
            return hr;
        }
        int32_t failure = 0;
        if (m_hub.serviceFault.Take(failure)) {
            return failure;  // S_OK here: success without an object
        }
        if (deviceServiceID == nullptr) {
            return E_INVALIDARG;
        }
        if (!SameIdNoCase(BstrText(deviceServiceID), MobileBroadband::kVendorServiceId)) {
            return sim::hr::NotFound;
        }
        SimDeviceService*& handed = m_hub.handedService;
        if (!(m_hub.sameObjects && handed != nullptr && handed->Serves(m_interfaceId, m_epoch) &&
              handed->TryAddRef())) {
            handed = new SimDeviceService(m_hub, m_interfaceId, m_epoch);
        }
        *mbnDeviceService = handed;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_MaxCommandSize(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_MaxDataSize(ULONG*) override { return E_NOTIMPL; }
};

// ------------------------------------------------------------------ managers

namespace {

// What the three manager classes share: their connection points.
template <class Manager>
class SimManager : public SimComObject<Manager, IConnectionPointContainer>, public SimManagerBase {
public:
    SimManager(MobileBroadband::Impl& hub, std::vector<std::pair<EventsInterface, IID>> points)
        : SimManagerBase(hub, std::move(points))
    {
    }
    IConnectionPointContainer* Container() override { return this; }

    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override
    {
        return FindPoint(riid, ppCP);
    }
};

class SimInterfaceManager final : public SimManager<IMbnInterfaceManager> {
public:
    explicit SimInterfaceManager(MobileBroadband::Impl& hub)
        : SimManager(hub, {{EventsInterface::InterfaceManager, IID_IMbnInterfaceManagerEvents},
                           {EventsInterface::Interface, IID_IMbnInterfaceEvents},
                           {EventsInterface::Registration, IID_IMbnRegistrationEvents}})
    {
    }

    HRESULT STDMETHODCALLTYPE GetInterface(LPCWSTR, IMbnInterface**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInterfaces(SAFEARRAY**) override { return E_NOTIMPL; }
};

class SimConnectionManager final : public SimManager<IMbnConnectionManager> {
public:
    explicit SimConnectionManager(MobileBroadband::Impl& hub)
        : SimManager(hub, {{EventsInterface::Connection, IID_IMbnConnectionEvents}})
    {
    }

    HRESULT STDMETHODCALLTYPE GetConnection(LPCWSTR, IMbnConnection**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetConnections(SAFEARRAY**) override { return E_NOTIMPL; }
};

class SimDeviceServicesManager final : public SimManager<IMbnDeviceServicesManager> {
public:
    explicit SimDeviceServicesManager(MobileBroadband::Impl& hub)
        : SimManager(hub, {{EventsInterface::DeviceServices, IID_IMbnDeviceServicesEvents}})
    {
    }

    HRESULT STDMETHODCALLTYPE GetDeviceServicesContext(BSTR networkInterfaceID,
                                                       IMbnDeviceServicesContext** mbnDevicesContext) override
    {
        if (!m_hub.Alive(m_generation)) {
            return Disconnected();
        }
        if (mbnDevicesContext == nullptr) {
            return E_POINTER;
        }
        *mbnDevicesContext = nullptr;
        std::lock_guard<std::mutex> lock(m_hub.mutex);
        int32_t failure = 0;
        if (m_hub.contextFault.Take(failure)) {
            return failure;
        }
        if (networkInterfaceID == nullptr) {
            return E_INVALIDARG;
        }
        if (!m_hub.present || !SameIdNoCase(BstrText(networkInterfaceID), m_hub.interfaceId)) {
            return sim::hr::NotFound;
        }
        SimDeviceServicesContext*& handed = m_hub.handedContext;
        if (!(m_hub.sameObjects && handed != nullptr && handed->Serves(m_hub.interfaceId, m_hub.presenceEpoch) &&
              handed->TryAddRef())) {
            handed = new SimDeviceServicesContext(m_hub, m_hub.interfaceId, m_hub.presenceEpoch);
        }
        *mbnDevicesContext = handed;
        return S_OK;
    }
};

}  // namespace

// ---------------------------------------------------------- connection point

SimConnectionPoint::SimConnectionPoint(SimManagerBase& owner, EventsInterface which, const IID& iid)
    : m_owner(owner), m_which(which), m_iid(iid)
{
}

HRESULT STDMETHODCALLTYPE SimConnectionPoint::QueryInterface(REFIID riid, void** ppv)
{
    return QueryAmong<IConnectionPoint>(this, riid, ppv);
}

ULONG STDMETHODCALLTYPE SimConnectionPoint::AddRef()
{
    return m_owner.Container()->AddRef();
}

ULONG STDMETHODCALLTYPE SimConnectionPoint::Release()
{
    return m_owner.Container()->Release();
}

HRESULT STDMETHODCALLTYPE SimConnectionPoint::GetConnectionInterface(IID*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE SimConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer**)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE SimConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie)
{
    if (pdwCookie == nullptr) {
        return E_POINTER;
    }
    *pdwCookie = 0;
    if (pUnkSink == nullptr) {
        return E_POINTER;
    }
    MobileBroadband::Impl& hub = m_owner.Hub();
    if (!hub.Alive(m_owner.Generation())) {
        return Disconnected();
    }
    {
        std::lock_guard<std::mutex> lock(hub.mutex);
        int32_t failure = 0;
        if (hub.adviseFaults[m_which].Take(failure)) {
            return failure;
        }
    }
    void* events = nullptr;
    if (FAILED(pUnkSink->QueryInterface(m_iid, &events)) || events == nullptr) {
        return CONNECT_E_CANNOTCONNECT;
    }
    IUnknown* sink = EventsToUnknown(m_which, events);
    {
        std::lock_guard<std::mutex> lock(hub.mutex);
        if (hub.Alive(m_owner.Generation())) {
            if (hub.nextCookie == 0) {
                hub.nextCookie = 1;
            }
            const DWORD cookie = hub.nextCookie++;
            connections.push_back(Connection{cookie, sink});
            ++hub.adviseCalls[m_which];
            *pdwCookie = cookie;
            return S_OK;
        }
    }
    sink->Release();  // a reset came in between
    return Disconnected();
}

HRESULT STDMETHODCALLTYPE SimConnectionPoint::Unadvise(DWORD dwCookie)
{
    MobileBroadband::Impl& hub = m_owner.Hub();
    if (!hub.Alive(m_owner.Generation())) {
        return Disconnected();
    }
    IUnknown* sink = nullptr;
    {
        std::lock_guard<std::mutex> lock(hub.mutex);
        int32_t failure = 0;
        if (hub.unadviseFaults[m_which].Take(failure)) {
            return failure;  // the connection stays
        }
        auto it = std::find_if(connections.begin(), connections.end(),
                               [dwCookie](const Connection& c) { return c.cookie == dwCookie; });
        if (dwCookie == 0 || it == connections.end()) {
            return CONNECT_E_NOCONNECTION;
        }
        sink = it->sink;
        connections.erase(it);
        ++hub.unadviseCalls[m_which];
    }
    sink->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SimConnectionPoint::EnumConnections(IEnumConnections**)
{
    return E_NOTIMPL;
}

// ---------------------------------------------------------- manager base

SimManagerBase::SimManagerBase(MobileBroadband::Impl& hub,
                               std::vector<std::pair<EventsInterface, IID>> points)
    : SimHubObject(hub)
{
    for (const auto& point : points) {
        m_points.push_back(std::make_unique<SimConnectionPoint>(*this, point.first, point.second));
    }
    std::lock_guard<std::mutex> lock(m_hub.mutex);
    m_hub.managers.push_back(this);
}

SimManagerBase::~SimManagerBase()
{
    {
        std::lock_guard<std::mutex> lock(m_hub.mutex);
        m_hub.managers.erase(std::remove(m_hub.managers.begin(), m_hub.managers.end(), this), m_hub.managers.end());
    }
    DropConnections();
}

void SimManagerBase::DropConnections()
{
    std::vector<IUnknown*> sinks;
    {
        std::lock_guard<std::mutex> lock(m_hub.mutex);
        TakeSinksLocked(sinks);
    }
    for (IUnknown* sink : sinks) {
        sink->Release();
    }
}

void SimManagerBase::TakeSinksLocked(std::vector<IUnknown*>& sinks)
{
    for (auto& point : m_points) {
        for (const auto& connection : point->connections) {
            sinks.push_back(connection.sink);
        }
        point->connections.clear();
    }
}

HRESULT SimManagerBase::FindPoint(REFIID riid, IConnectionPoint** ppCP)
{
    if (ppCP == nullptr) {
        return E_POINTER;
    }
    *ppCP = nullptr;
    if (!m_hub.Alive(m_generation)) {
        return Disconnected();
    }
    for (auto& point : m_points) {
        if (IsEqualIID(point->Iid(), riid)) {
            *ppCP = point.get();
            point->AddRef();
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

// ---------------------------------------------------------- factories

IUnknown* NewInterfaceManager(MobileBroadband::Impl& hub)
{
    return static_cast<IMbnInterfaceManager*>(new SimInterfaceManager(hub));
}

IUnknown* NewConnectionManager(MobileBroadband::Impl& hub)
{
    return static_cast<IMbnConnectionManager*>(new SimConnectionManager(hub));
}

IUnknown* NewDeviceServicesManager(MobileBroadband::Impl& hub)
{
    return static_cast<IMbnDeviceServicesManager*>(new SimDeviceServicesManager(hub));
}

IMbnInterface* NewInterface(MobileBroadband::Impl& hub, const std::string& interfaceId)
{
    return new SimInterface(hub, interfaceId);
}

IMbnConnection* NewConnection(MobileBroadband::Impl& hub, const std::string& interfaceId)
{
    return new SimConnection(hub, interfaceId);
}

IMbnDeviceService* NewDeviceService(MobileBroadband::Impl& hub, const std::string& interfaceId, uint64_t epoch)
{
    return new SimDeviceService(hub, interfaceId, epoch);
}

IUnknown* EventsToUnknown(EventsInterface which, void* events)
{
    switch (which) {
    case EventsInterface::Connection:
        return static_cast<IMbnConnectionEvents*>(events);
    case EventsInterface::InterfaceManager:
        return static_cast<IMbnInterfaceManagerEvents*>(events);
    case EventsInterface::Interface:
        return static_cast<IMbnInterfaceEvents*>(events);
    case EventsInterface::DeviceServices:
        return static_cast<IMbnDeviceServicesEvents*>(events);
    case EventsInterface::Registration:
        return static_cast<IMbnRegistrationEvents*>(events);
    }
    return nullptr;
}

}  // namespace sim
