#include "test_sink.h"

#include <cstring>

std::string Narrow(BSTR text)
{
    std::string narrow;
    for (UINT i = 0; i < SysStringLen(text); ++i) {
        narrow.push_back(static_cast<char>(text[i]));
    }
    return narrow;
}

std::string ArrayBytes(SAFEARRAY* array)
{
    LONG lower = 0;
    LONG upper = -1;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    void* data = nullptr;
    SafeArrayAccessData(array, &data);
    std::string bytes(static_cast<const char*>(data), static_cast<size_t>(upper - lower + 1));
    SafeArrayUnaccessData(array);
    return bytes;
}

SAFEARRAY* ByteArray(const std::string& bytes)
{
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    void* data = nullptr;
    SafeArrayAccessData(array, &data);
    std::memcpy(data, bytes.data(), bytes.size());
    SafeArrayUnaccessData(array);
    return array;
}

SAFEARRAY* AtPayload(const std::string& text)
{
    return ByteArray(std::string(4, '\0') + text);
}

namespace {

std::string IdOf(IMbnInterface* object)
{
    BSTR id = nullptr;
    if (object == nullptr || object->get_InterfaceID(&id) != S_OK) {
        return "";
    }
    std::string text = Narrow(id);
    SysFreeString(id);
    return text;
}

std::string IdOf(IMbnConnection* object)
{
    BSTR id = nullptr;
    if (object == nullptr || object->get_InterfaceID(&id) != S_OK) {
        return "";
    }
    std::string text = Narrow(id);
    SysFreeString(id);
    return text;
}

std::string IdOf(IMbnDeviceService* object)
{
    BSTR id = nullptr;
    if (object == nullptr || object->get_InterfaceID(&id) != S_OK) {
        return "";
    }
    std::string text = Narrow(id);
    SysFreeString(id);
    return text;
}

SinkEvent Make(const char* name, const std::string& id, HRESULT status = S_OK, ULONG requestId = 0,
               SAFEARRAY* data = nullptr, ULONG number = 0)
{
    SinkEvent event;
    event.name = name;
    event.interfaceId = id;
    event.status = status;
    event.requestId = requestId;
    event.number = number;
    event.hadData = data != nullptr;
    if (data != nullptr) {
        event.data = ArrayBytes(data);
    }
    return event;
}

}  // namespace

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

void TestSink::Record(SinkEvent event)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.push_back(std::move(event));
}

HRESULT STDMETHODCALLTYPE TestSink::QueryInterface(REFIID riid, void** ppv)
{
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMbnDeviceServicesEvents)) {
        *ppv = static_cast<IMbnDeviceServicesEvents*>(this);
    } else if (IsEqualIID(riid, IID_IMbnInterfaceManagerEvents)) {
        *ppv = static_cast<IMbnInterfaceManagerEvents*>(this);
    } else if (IsEqualIID(riid, IID_IMbnInterfaceEvents)) {
        *ppv = static_cast<IMbnInterfaceEvents*>(this);
    } else if (IsEqualIID(riid, IID_IMbnConnectionEvents)) {
        *ppv = static_cast<IMbnConnectionEvents*>(this);
    } else if (IsEqualIID(riid, IID_IMbnRegistrationEvents)) {
        *ppv = static_cast<IMbnRegistrationEvents*>(this);
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

HRESULT STDMETHODCALLTYPE TestSink::OnQuerySupportedCommandsComplete(IMbnDeviceService* s, SAFEARRAY* list,
                                                                     HRESULT status, ULONG id)
{
    SinkEvent event = Make("QuerySupportedCommands", IdOf(s), status, id);
    LONG upper = -1;
    SafeArrayGetUBound(list, 1, &upper);
    event.number = static_cast<ULONG>(upper + 1);
    Record(event);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnOpenCommandSessionComplete(IMbnDeviceService* s, HRESULT status, ULONG id)
{
    Record(Make("OpenCommandSession", IdOf(s), status, id));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnCloseCommandSessionComplete(IMbnDeviceService* s, HRESULT status, ULONG id)
{
    Record(Make("CloseCommandSession", IdOf(s), status, id));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnSetCommandComplete(IMbnDeviceService* s, ULONG response, SAFEARRAY* data,
                                                         HRESULT status, ULONG id)
{
    Record(Make("SetCommand", IdOf(s), status, id, data, response));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnQueryCommandComplete(IMbnDeviceService* s, ULONG response, SAFEARRAY* data,
                                                           HRESULT status, ULONG id)
{
    Record(Make("QueryCommand", IdOf(s), status, id, data, response));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnEventNotification(IMbnDeviceService* s, ULONG eventId, SAFEARRAY* data)
{
    Record(Make("EventNotification", IdOf(s), S_OK, 0, data, eventId));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnOpenDataSessionComplete(IMbnDeviceService* s, HRESULT status, ULONG id)
{
    Record(Make("OpenDataSession", IdOf(s), status, id));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnCloseDataSessionComplete(IMbnDeviceService* s, HRESULT status, ULONG id)
{
    Record(Make("CloseDataSession", IdOf(s), status, id));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnWriteDataComplete(IMbnDeviceService* s, HRESULT status, ULONG id)
{
    Record(Make("WriteData", IdOf(s), status, id));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnReadData(IMbnDeviceService* s, SAFEARRAY* data)
{
    Record(Make("ReadData", IdOf(s), S_OK, 0, data));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnInterfaceStateChange(BSTR id, MBN_DEVICE_SERVICES_INTERFACE_STATE state)
{
    Record(Make(state == MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_ARRIVAL ? "CapableArrival" : "CapableRemoval",
                Narrow(id), S_OK, 0, nullptr, static_cast<ULONG>(state)));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnInterfaceArrival(IMbnInterface* i)
{
    Record(Make("InterfaceArrival", IdOf(i)));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnInterfaceRemoval(IMbnInterface* i)
{
    Record(Make("InterfaceRemoval", IdOf(i)));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnInterfaceCapabilityAvailable(IMbnInterface* i)
{
    Record(Make("CapabilityAvailable", IdOf(i)));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnSubscriberInformationChange(IMbnInterface* i)
{
    Record(Make("SubscriberInformationChange", IdOf(i)));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnReadyStateChange(IMbnInterface* i)
{
    SinkEvent event = Make("ReadyStateChange", IdOf(i));
    MBN_READY_STATE state = MBN_READY_STATE_OFF;
    event.status = i->GetReadyState(&state);
    event.number = static_cast<ULONG>(state);
    Record(event);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnEmergencyModeChange(IMbnInterface* i)
{
    SinkEvent event = Make("EmergencyModeChange", IdOf(i));
    VARIANT_BOOL on = VARIANT_FALSE;
    event.status = i->InEmergencyMode(&on);
    event.number = static_cast<ULONG>(on == VARIANT_TRUE);
    Record(event);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnHomeProviderAvailable(IMbnInterface* i)
{
    SinkEvent event = Make("HomeProviderAvailable", IdOf(i));
    MBN_PROVIDER provider{};
    event.status = i->GetHomeProvider(&provider);
    if (event.status == S_OK) {
        event.data = Narrow(provider.providerID) + "/" + Narrow(provider.providerName);
        event.number = provider.providerState;
        SysFreeString(provider.providerID);
        SysFreeString(provider.providerName);
    }
    Record(event);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnPreferredProvidersChange(IMbnInterface* i)
{
    Record(Make("PreferredProvidersChange", IdOf(i)));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnSetPreferredProvidersComplete(IMbnInterface* i, ULONG id, HRESULT status)
{
    Record(Make("SetPreferredProvidersComplete", IdOf(i), status, id));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnScanNetworkComplete(IMbnInterface* i, ULONG id, HRESULT status)
{
    Record(Make("ScanNetworkComplete", IdOf(i), status, id));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnConnectComplete(IMbnConnection* c, ULONG id, HRESULT status)
{
    Record(Make("ConnectComplete", IdOf(c), status, id));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnDisconnectComplete(IMbnConnection* c, ULONG id, HRESULT status)
{
    Record(Make("DisconnectComplete", IdOf(c), status, id));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnConnectStateChange(IMbnConnection* c)
{
    SinkEvent event = Make("ConnectStateChange", IdOf(c));
    MBN_ACTIVATION_STATE state = MBN_ACTIVATION_STATE_NONE;
    BSTR profile = nullptr;
    event.status = c->GetConnectionState(&state, &profile);
    if (event.status == S_OK) {
        event.number = static_cast<ULONG>(state);
        event.data = Narrow(profile);
        SysFreeString(profile);
    }
    Record(event);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnVoiceCallStateChange(IMbnConnection* c)
{
    SinkEvent event = Make("VoiceCallStateChange", IdOf(c));
    MBN_VOICE_CALL_STATE state = MBN_VOICE_CALL_STATE_NONE;
    event.status = c->GetVoiceCallState(&state);
    event.number = static_cast<ULONG>(state);
    Record(event);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnRegisterModeAvailable(IMbnRegistration* r)
{
    SinkEvent event = Make("RegisterModeAvailable", "");
    MBN_REGISTER_MODE mode = MBN_REGISTER_MODE_NONE;
    event.status = r->GetRegisterMode(&mode);
    event.number = static_cast<ULONG>(mode);
    Record(event);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnRegisterStateChange(IMbnRegistration* r)
{
    SinkEvent event = Make("RegisterStateChange", "");
    MBN_REGISTER_STATE state = MBN_REGISTER_STATE_NONE;
    event.status = r->GetRegisterState(&state);
    event.number = static_cast<ULONG>(state);
    Record(event);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnPacketServiceStateChange(IMbnRegistration*)
{
    Record(Make("PacketServiceStateChange", ""));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE TestSink::OnSetRegisterModeComplete(IMbnRegistration*, ULONG id, HRESULT status)
{
    Record(Make("SetRegisterModeComplete", "", status, id));
    return S_OK;
}
