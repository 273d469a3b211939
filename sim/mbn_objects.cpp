#include "sim/mbn_objects.h"

#include <algorithm>
#include <cstring>

namespace sim {

std::atomic<long> g_liveSimObjects{0};

namespace {

constexpr ULONG kMaxCommandSize = 4096;
constexpr ULONG kMaxDataSize = 4096;

HRESULT Disconnected()
{
    return RPC_E_DISCONNECTED;
}

template <class Out>
HRESULT PutBstr(Out* out, const std::string& text)
{
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = MakeBstr(text);
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
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

class SimSubscriberInformation final : public SimComObject<IMbnSubscriberInformation>, public SimHubObject {
public:
    explicit SimSubscriberInformation(MobileBroadband::Impl& hub) : SimHubObject(hub) {}

    HRESULT STDMETHODCALLTYPE get_SubscriberID(BSTR* SubscriberID) override
    {
        return m_hub.Alive(m_generation) ? PutBstr(SubscriberID, "001010123456789") : Disconnected();
    }
    HRESULT STDMETHODCALLTYPE get_SimIccID(BSTR* SimIccID) override
    {
        return m_hub.Alive(m_generation) ? PutBstr(SimIccID, "8900100000000000001") : Disconnected();
    }
    HRESULT STDMETHODCALLTYPE get_TelephoneNumbers(SAFEARRAY** TelephoneNumbers) override
    {
        if (!m_hub.Alive(m_generation)) {
            return Disconnected();
        }
        if (TelephoneNumbers == nullptr) {
            return E_POINTER;
        }
        *TelephoneNumbers = SafeArrayCreateVector(VT_BSTR, 0, 1);
        if (*TelephoneNumbers == nullptr) {
            return E_OUTOFMEMORY;
        }
        LONG index = 0;
        BSTR number = MakeBstr("+15550100");
        SafeArrayPutElement(*TelephoneNumbers, &index, number);
        SysFreeString(number);
        return S_OK;
    }
};

class SimConnection final : public SimComObject<IMbnConnection>, public InterfaceObject {
public:
    SimConnection(MobileBroadband::Impl& hub, std::string interfaceId) : InterfaceObject(hub, std::move(interfaceId)) {}

    HRESULT STDMETHODCALLTYPE get_ConnectionID(BSTR* ConnectionID) override
    {
        return m_hub.Alive(m_generation) ? PutBstr(ConnectionID, m_interfaceId) : Disconnected();
    }
    HRESULT STDMETHODCALLTYPE get_InterfaceID(BSTR* InterfaceID) override
    {
        return m_hub.Alive(m_generation) ? PutBstr(InterfaceID, m_interfaceId) : Disconnected();
    }
    HRESULT STDMETHODCALLTYPE Connect(MBN_CONNECTION_MODE, LPCWSTR, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Disconnect(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetConnectionState(MBN_ACTIVATION_STATE* ConnectionState, BSTR* ProfileName) override
    {
        if (!m_hub.Alive(m_generation)) {
            return Disconnected();
        }
        if (ConnectionState == nullptr || ProfileName == nullptr) {
            return E_POINTER;
        }
        std::lock_guard<std::mutex> lock(m_hub.mutex);
        if (m_hub.failStateQueries) {
            return E_FAIL;
        }
        *ConnectionState = static_cast<MBN_ACTIVATION_STATE>(m_hub.activationState);
        *ProfileName = MakeBstr(m_hub.profileName);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetVoiceCallState(MBN_VOICE_CALL_STATE* voiceCallState) override
    {
        return Query(voiceCallState, [this](MBN_VOICE_CALL_STATE* out) {
            *out = static_cast<MBN_VOICE_CALL_STATE>(m_hub.voiceCallState);
        });
    }
    HRESULT STDMETHODCALLTYPE GetActivationNetworkError(ULONG* networkError) override
    {
        if (!m_hub.Alive(m_generation)) {
            return Disconnected();
        }
        if (networkError == nullptr) {
            return E_POINTER;
        }
        *networkError = 0;
        return S_OK;
    }
};

// The modem's interface; it answers for its registration too.
class SimInterface final : public SimComObject<IMbnInterface, IMbnRegistration>, public InterfaceObject {
public:
    SimInterface(MobileBroadband::Impl& hub, std::string interfaceId) : InterfaceObject(hub, std::move(interfaceId)) {}

    // IMbnInterface
    HRESULT STDMETHODCALLTYPE get_InterfaceID(BSTR* InterfaceID) override
    {
        return m_hub.Alive(m_generation) ? PutBstr(InterfaceID, m_interfaceId) : Disconnected();
    }
    HRESULT STDMETHODCALLTYPE GetInterfaceCapability(MBN_INTERFACE_CAPS* caps) override
    {
        if (!m_hub.Alive(m_generation)) {
            return Disconnected();
        }
        if (caps == nullptr) {
            return E_POINTER;
        }
        std::memset(caps, 0, sizeof(*caps));
        caps->cellularClass = MBN_CELLULAR_CLASS_GSM;
        caps->voiceClass = MBN_VOICE_CLASS_NO_VOICE;
        caps->dataClass = 0x1F;  // GPRS, EDGE, UMTS, HSDPA, HSUPA
        caps->customDataClass = MakeBstr("LTE");
        caps->gsmBandClass = 0;
        caps->customBandClass = MakeBstr("");
        caps->deviceID = MakeBstr("TK42N0000000001");
        caps->manufacturer = MakeBstr("Varnick Wireless Inc");
        caps->model = MakeBstr("TK42-N");
        caps->firmwareInfo = MakeBstr("TK42N.01.00.00");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSubscriberInformation(IMbnSubscriberInformation** info) override
    {
        if (!m_hub.Alive(m_generation)) {
            return Disconnected();
        }
        if (info == nullptr) {
            return E_POINTER;
        }
        *info = new SimSubscriberInformation(m_hub);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetReadyState(MBN_READY_STATE* readyState) override
    {
        return Query(readyState, [this](MBN_READY_STATE* out) {
            *out = static_cast<MBN_READY_STATE>(m_hub.readyState);
        });
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
            out->dataClass = 0x1F;
        });
    }
    HRESULT STDMETHODCALLTYPE GetPreferredProviders(SAFEARRAY**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPreferredProviders(SAFEARRAY*, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetVisibleProviders(ULONG*, SAFEARRAY**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ScanNetwork(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetConnection(IMbnConnection** mbnConnection) override
    {
        if (!m_hub.Alive(m_generation)) {
            return Disconnected();
        }
        if (mbnConnection == nullptr) {
            return E_POINTER;
        }
        *mbnConnection = NewConnection(m_hub, m_interfaceId);
        return S_OK;
    }

    // IMbnRegistration
    HRESULT STDMETHODCALLTYPE GetRegisterState(MBN_REGISTER_STATE* registerState) override
    {
        return Query(registerState, [this](MBN_REGISTER_STATE* out) {
            *out = static_cast<MBN_REGISTER_STATE>(m_hub.registerState);
        });
    }
    HRESULT STDMETHODCALLTYPE GetRegisterMode(MBN_REGISTER_MODE* registerMode) override
    {
        return Query(registerMode, [this](MBN_REGISTER_MODE* out) {
            *out = static_cast<MBN_REGISTER_MODE>(m_hub.registerMode);
        });
    }
    HRESULT STDMETHODCALLTYPE GetProviderID(BSTR* providerID) override
    {
        return Query(providerID, [this](BSTR* out) { *out = MakeBstr(m_hub.providerId); });
    }
    HRESULT STDMETHODCALLTYPE GetProviderName(BSTR* providerName) override
    {
        return Query(providerName, [this](BSTR* out) { *out = MakeBstr(m_hub.providerName); });
    }
    HRESULT STDMETHODCALLTYPE GetRoamingText(BSTR* roamingText) override
    {
        return Query(roamingText, [](BSTR* out) { *out = MakeBstr(""); });
    }
    HRESULT STDMETHODCALLTYPE GetAvailableDataClasses(ULONG* classes) override
    {
        return Query(classes, [](ULONG* out) { *out = 0x1F; });
    }
    HRESULT STDMETHODCALLTYPE GetCurrentDataClass(ULONG* dataClass) override
    {
        return Query(dataClass, [](ULONG* out) { *out = 0x10; });
    }
    HRESULT STDMETHODCALLTYPE GetRegistrationNetworkError(ULONG* error) override
    {
        return Query(error, [](ULONG* out) { *out = 0; });
    }
    HRESULT STDMETHODCALLTYPE GetPacketAttachNetworkError(ULONG* error) override
    {
        return Query(error, [](ULONG* out) { *out = 0; });
    }
    HRESULT STDMETHODCALLTYPE SetRegisterMode(MBN_REGISTER_MODE, LPCWSTR, ULONG, ULONG*) override
    {
        return E_NOTIMPL;
    }

};

// ---------------------------------------------------------- device services

class SimDeviceService final : public SimComObject<IMbnDeviceService>, public ModemObject {
public:
    SimDeviceService(MobileBroadband::Impl& hub, std::string interfaceId, uint64_t epoch)
        : ModemObject(hub, std::move(interfaceId), epoch)
    {
    }

    HRESULT STDMETHODCALLTYPE QuerySupportedCommands(ULONG* requestID) override
    {
        ULONG id = 0;
        HRESULT hr = Begin(requestID, id);
        if (FAILED(hr)) {
            return hr;
        }
        Complete([id](IMbnDeviceServicesEvents* sink, IMbnDeviceService* service) {
            SAFEARRAY* list = SafeArrayCreateVector(VT_UI4, 0, 2);
            if (list != nullptr) {
                LONG index = 0;
                ULONG command = MobileBroadband::kAtCommandId;
                SafeArrayPutElement(list, &index, &command);
                index = 1;
                command = MobileBroadband::kRebootCommandId;
                SafeArrayPutElement(list, &index, &command);
            }
            sink->OnQuerySupportedCommandsComplete(service, list, S_OK, id);
            SafeArrayDestroy(list);
        });
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE OpenCommandSession(ULONG* requestID) override
    {
        return Session(requestID, true);
    }

    HRESULT STDMETHODCALLTYPE CloseCommandSession(ULONG* requestID) override
    {
        return Session(requestID, false);
    }

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
        uint32_t delayMs = 0;
        HRESULT status = S_OK;
        ULONG id = 0;
        {
            std::lock_guard<std::mutex> lock(m_hub.mutex);
            HRESULT hr = CheckPresentLocked();
            if (SUCCEEDED(hr) && !m_hub.sessionOpen) {
                hr = sim::hr::InvalidState;
            }
            if (SUCCEEDED(hr) && commandID == MobileBroadband::kRebootCommandId) {
                int32_t refused = 0;
                if (m_hub.rebootFault.Take(refused)) {
                    hr = refused;
                }
            }
            if (SUCCEEDED(hr) && commandID == MobileBroadband::kAtCommandId && wellFramedAt) {
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
                m_hub.transcript.push_back(entry);
                return hr;
            }
            entry.accepted = true;
            if (commandID == MobileBroadband::kAtCommandId) {
                if (!wellFramedAt) {
                    status = E_INVALIDARG;
                }
                execute = SUCCEEDED(status);
            } else if (commandID == MobileBroadband::kRebootCommandId) {
                if (payload == std::vector<uint8_t>{0x00, 0x11}) {
                    reboot = true;
                } else {
                    status = E_INVALIDARG;
                }
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
            m_hub.transcript.push_back(entry);
        }
        *requestID = id;

        if (complete || reboot) {
            MobileBroadband::Impl* hub = &m_hub;
            ComRef<IMbnDeviceService> self(this);
            m_hub.dispatcher.Post(
                [hub, self, commandID, response, withData, status, id, complete, reboot] {
                    if (complete) {
                        SAFEARRAY* data = withData ? MakeByteArray(response) : nullptr;
                        hub->Fire<IMbnDeviceServicesEvents>([&](IMbnDeviceServicesEvents* sink) {
                            sink->OnSetCommandComplete(self.get(), commandID, data, status, id);
                        });
                        SafeArrayDestroy(data);
                    }
                    if (reboot) {
                        hub->StartReboot();
                    }
                },
                delayMs);
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE QueryCommand(ULONG commandID, SAFEARRAY*, ULONG* requestID) override
    {
        ULONG id = 0;
        HRESULT hr = Begin(requestID, id);
        if (FAILED(hr)) {
            return hr;
        }
        Complete([commandID, id](IMbnDeviceServicesEvents* sink, IMbnDeviceService* service) {
            // The modem answers every query with its functionality mode (1: full).
            SAFEARRAY* data = MakeByteArray({1, 0, 0, 0});
            sink->OnQueryCommandComplete(service, commandID, data, S_OK, id);
            SafeArrayDestroy(data);
        });
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE OpenDataSession(ULONG* requestID) override { return DataSession(requestID, true); }
    HRESULT STDMETHODCALLTYPE CloseDataSession(ULONG* requestID) override { return DataSession(requestID, false); }

    HRESULT STDMETHODCALLTYPE WriteData(SAFEARRAY* deviceServiceData, ULONG* requestID) override
    {
        std::vector<uint8_t> bytes;
        if (deviceServiceData != nullptr && !ReadBytes(deviceServiceData, bytes)) {
            return E_INVALIDARG;
        }
        ULONG id = 0;
        HRESULT hr = Begin(requestID, id, [this] { return m_hub.dataSessionOpen ? S_OK : sim::hr::InvalidState; });
        if (FAILED(hr)) {
            return hr;
        }
        Complete([id](IMbnDeviceServicesEvents* sink, IMbnDeviceService* service) {
            sink->OnWriteDataComplete(service, S_OK, id);
        });
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_InterfaceID(BSTR* InterfaceID) override
    {
        return m_hub.Alive(m_generation) ? PutBstr(InterfaceID, m_interfaceId) : Disconnected();
    }
    HRESULT STDMETHODCALLTYPE get_DeviceServiceID(BSTR* DeviceServiceID) override
    {
        return m_hub.Alive(m_generation) ? PutBstr(DeviceServiceID, MobileBroadband::kVendorServiceId)
                                         : Disconnected();
    }
    HRESULT STDMETHODCALLTYPE get_IsCommandSessionOpen(BOOL* value) override
    {
        return Flag(value, [this] { return m_hub.sessionOpen; });
    }
    HRESULT STDMETHODCALLTYPE get_IsDataSessionOpen(BOOL* value) override
    {
        return Flag(value, [this] { return m_hub.dataSessionOpen; });
    }

private:
    template <class Extra>
    HRESULT Begin(ULONG* requestID, ULONG& id, Extra extra)
    {
        if (!m_hub.Alive(m_generation)) {
            return Disconnected();
        }
        if (requestID == nullptr) {
            return E_POINTER;
        }
        std::lock_guard<std::mutex> lock(m_hub.mutex);
        HRESULT hr = CheckPresentLocked();
        if (SUCCEEDED(hr)) {
            hr = extra();
        }
        if (FAILED(hr)) {
            return hr;
        }
        id = m_hub.NextRequestId();
        *requestID = id;
        return S_OK;
    }
    HRESULT Begin(ULONG* requestID, ULONG& id)
    {
        return Begin(requestID, id, [] { return S_OK; });
    }

    // Delivers a completion to every device-services sink on a worker thread.
    template <class Call>
    void Complete(Call call)
    {
        m_hub.PostEvent<IMbnDeviceServicesEvents>(ComRef<IMbnDeviceService>(this), call);
    }

    HRESULT Session(ULONG* requestID, bool open)
    {
        if (!m_hub.Alive(m_generation)) {
            return Disconnected();
        }
        if (requestID == nullptr) {
            return E_POINTER;
        }
        bool complete = true;
        HRESULT status = S_OK;
        ULONG id = 0;
        {
            std::lock_guard<std::mutex> lock(m_hub.mutex);
            HRESULT hr = CheckPresentLocked();
            if (FAILED(hr)) {
                return hr;
            }
            (open ? m_hub.openSessionCalls : m_hub.closeSessionCalls)++;
            auto& faults = open ? m_hub.openFaults : m_hub.closeFaults;
            for (auto& fault : faults) {
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
                m_hub.sessionOpen = open;
            }
            id = m_hub.NextRequestId();
        }
        *requestID = id;
        if (complete) {
            Complete([open, status, id](IMbnDeviceServicesEvents* sink, IMbnDeviceService* service) {
                if (open) {
                    sink->OnOpenCommandSessionComplete(service, status, id);
                } else {
                    sink->OnCloseCommandSessionComplete(service, status, id);
                }
            });
        }
        return S_OK;
    }

    HRESULT DataSession(ULONG* requestID, bool open)
    {
        ULONG id = 0;
        HRESULT hr = Begin(requestID, id, [this, open] {
            m_hub.dataSessionOpen = open;
            return S_OK;
        });
        if (FAILED(hr)) {
            return hr;
        }
        Complete([open, id](IMbnDeviceServicesEvents* sink, IMbnDeviceService* service) {
            if (open) {
                sink->OnOpenDataSessionComplete(service, S_OK, id);
            } else {
                sink->OnCloseDataSessionComplete(service, S_OK, id);
            }
        });
        return S_OK;
    }

    template <class Read>
    HRESULT Flag(BOOL* value, Read read)
    {
        if (!m_hub.Alive(m_generation)) {
            return Disconnected();
        }
        if (value == nullptr) {
            return E_POINTER;
        }
        std::lock_guard<std::mutex> lock(m_hub.mutex);
        *value = (SUCCEEDED(CheckPresentLocked()) && read()) ? TRUE : FALSE;
        return S_OK;
    }
};

class SimDeviceServicesContext final : public SimComObject<IMbnDeviceServicesContext>, public ModemObject {
public:
    SimDeviceServicesContext(MobileBroadband::Impl& hub, std::string interfaceId, uint64_t epoch)
        : ModemObject(hub, std::move(interfaceId), epoch)
    {
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
        {
            std::lock_guard<std::mutex> lock(m_hub.mutex);
            HRESULT hr = CheckPresentLocked();
            if (FAILED(hr)) {
                return hr;
            }
            int32_t failure = 0;
            if (m_hub.serviceFault.Take(failure)) {
                return failure;  // S_OK here: success without an object
            }
        }
        if (deviceServiceID == nullptr) {
            return E_INVALIDARG;
        }
        if (!SameIdNoCase(BstrText(deviceServiceID), MobileBroadband::kVendorServiceId)) {
            return sim::hr::NotFound;
        }
        *mbnDeviceService = NewDeviceService(m_hub, m_interfaceId, m_epoch);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_MaxCommandSize(ULONG* maxCommandSize) override
    {
        if (maxCommandSize == nullptr) {
            return E_POINTER;
        }
        *maxCommandSize = kMaxCommandSize;
        return m_hub.Alive(m_generation) ? S_OK : Disconnected();
    }
    HRESULT STDMETHODCALLTYPE get_MaxDataSize(ULONG* maxDataSize) override
    {
        if (maxDataSize == nullptr) {
            return E_POINTER;
        }
        *maxDataSize = kMaxDataSize;
        return m_hub.Alive(m_generation) ? S_OK : Disconnected();
    }
};

// ------------------------------------------------------------------ managers

// A wide id as ASCII, other characters as '?'.
std::string AsciiId(const wchar_t* text)
{
    std::string ascii;
    for (const wchar_t* c = text; *c != 0; ++c) {
        ascii += static_cast<char>(*c < 0x80 ? *c : '?');
    }
    return ascii;
}

// What the three manager classes share: their connection points, and the
// modem's interface as the one item the interface and connection managers
// can look up or list.
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

protected:
    template <class Item>
    using MakeItem = Item* (*)(MobileBroadband::Impl&, const std::string&);

    // The item for the modem's interface when `wantedId` names it
    // (case-insensitively) and the modem is present.
    template <class Item>
    HRESULT FindItem(LPCWSTR wantedId, Item** item, MakeItem<Item> make)
    {
        if (!m_hub.Alive(m_generation)) {
            return Disconnected();
        }
        if (item == nullptr) {
            return E_POINTER;
        }
        *item = nullptr;
        if (wantedId == nullptr) {
            return E_INVALIDARG;
        }
        const std::string wanted = AsciiId(wantedId);
        std::string id;
        {
            std::lock_guard<std::mutex> lock(m_hub.mutex);
            if (!m_hub.present || !SameIdNoCase(wanted, m_hub.interfaceId)) {
                return sim::hr::NotFound;
            }
            id = m_hub.interfaceId;
        }
        *item = make(m_hub, id);
        return S_OK;
    }

    // An array of the items: the modem's interface while it is present, else none.
    template <class Item>
    HRESULT ListItems(SAFEARRAY** items, MakeItem<Item> make)
    {
        if (!m_hub.Alive(m_generation)) {
            return Disconnected();
        }
        if (items == nullptr) {
            return E_POINTER;
        }
        std::string id;
        bool present = false;
        {
            std::lock_guard<std::mutex> lock(m_hub.mutex);
            present = m_hub.present;
            id = m_hub.interfaceId;
        }
        *items = SafeArrayCreateVector(VT_UNKNOWN, 0, present ? 1 : 0);
        if (*items == nullptr) {
            return E_OUTOFMEMORY;
        }
        if (present) {
            LONG index = 0;
            ComRef<Item> item(make(m_hub, id), false);
            SafeArrayPutElement(*items, &index, static_cast<IUnknown*>(item.get()));
        }
        return S_OK;
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

    HRESULT STDMETHODCALLTYPE GetInterface(LPCWSTR interfaceID, IMbnInterface** mbnInterface) override
    {
        return FindItem(interfaceID, mbnInterface, &NewInterface);
    }
    HRESULT STDMETHODCALLTYPE GetInterfaces(SAFEARRAY** mbnInterfaces) override
    {
        return ListItems<IMbnInterface>(mbnInterfaces, &NewInterface);
    }
};

class SimConnectionManager final : public SimManager<IMbnConnectionManager> {
public:
    explicit SimConnectionManager(MobileBroadband::Impl& hub)
        : SimManager(hub, {{EventsInterface::Connection, IID_IMbnConnectionEvents}})
    {
    }

    HRESULT STDMETHODCALLTYPE GetConnection(LPCWSTR connectionID, IMbnConnection** mbnConnection) override
    {
        return FindItem(connectionID, mbnConnection, &NewConnection);
    }
    HRESULT STDMETHODCALLTYPE GetConnections(SAFEARRAY** mbnConnections) override
    {
        return ListItems<IMbnConnection>(mbnConnections, &NewConnection);
    }
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
        std::string id;
        uint64_t epoch = 0;
        {
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
            id = m_hub.interfaceId;
            epoch = m_hub.presenceEpoch;
        }
        *mbnDevicesContext = new SimDeviceServicesContext(m_hub, id, epoch);
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

HRESULT STDMETHODCALLTYPE SimConnectionPoint::GetConnectionInterface(IID* pIID)
{
    if (pIID == nullptr) {
        return E_POINTER;
    }
    *pIID = m_iid;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SimConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC)
{
    if (ppCPC == nullptr) {
        return E_POINTER;
    }
    *ppCPC = m_owner.Container();
    (*ppCPC)->AddRef();
    return S_OK;
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
    IUnknown* sink = nullptr;
    {
        std::lock_guard<std::mutex> lock(hub.mutex);
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
