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

// The interface id an event's object reports ("" without one).
template <class Object>
std::string IdOf(Object* object)
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

// The event with the state its object reports: the query's result as status,
// the state as number.
template <class Object, class State>
SinkEvent WithState(SinkEvent event, Object* object, HRESULT (STDMETHODCALLTYPE Object::*query)(State*),
                    State state)
{
    event.status = (object->*query)(&state);
    event.number = static_cast<ULONG>(state);
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

HRESULT TestSink::Record(SinkEvent event)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.push_back(std::move(event));
    return S_OK;
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
    return Record(event);
}
HRESULT STDMETHODCALLTYPE TestSink::OnOpenCommandSessionComplete(IMbnDeviceService* s, HRESULT status, ULONG id)
{
    return Record(Make("OpenCommandSession", IdOf(s), status, id));
}
HRESULT STDMETHODCALLTYPE TestSink::OnCloseCommandSessionComplete(IMbnDeviceService* s, HRESULT status, ULONG id)
{
    return Record(Make("CloseCommandSession", IdOf(s), status, id));
}
HRESULT STDMETHODCALLTYPE TestSink::OnSetCommandComplete(IMbnDeviceService* s, ULONG response, SAFEARRAY* data,
                                                         HRESULT status, ULONG id)
{
    return Record(Make("SetCommand", IdOf(s), status, id, data, response));
}
HRESULT STDMETHODCALLTYPE TestSink::OnQueryCommandComplete(IMbnDeviceService* s, ULONG response, SAFEARRAY* data,
                                                           HRESULT status, ULONG id)
{
    return Record(Make("QueryCommand", IdOf(s), status, id, data, response));
}
HRESULT STDMETHODCALLTYPE TestSink::OnEventNotification(IMbnDeviceService* s, ULONG eventId, SAFEARRAY* data)
{
    return Record(Make("EventNotification", IdOf(s), S_OK, 0, data, eventId));
}
HRESULT STDMETHODCALLTYPE TestSink::OnOpenDataSessionComplete(IMbnDeviceService* s, HRESULT status, ULONG id)
{
    return Record(Make("OpenDataSession", IdOf(s), status, id));
}
HRESULT STDMETHODCALLTYPE TestSink::OnCloseDataSessionComplete(IMbnDeviceService* s, HRESULT status, ULONG id)
{
    return Record(Make("CloseDataSession", IdOf(s), status, id));
}
HRESULT STDMETHODCALLTYPE TestSink::OnWriteDataComplete(IMbnDeviceService* s, HRESULT status, ULONG id)
{
    return Record(Make("WriteData", IdOf(s), status, id));
}
HRESULT STDMETHODCALLTYPE TestSink::OnReadData(IMbnDeviceService* s, SAFEARRAY* data)
{
    return Record(Make("ReadData", IdOf(s), S_OK, 0, data));
}
HRESULT STDMETHODCALLTYPE TestSink::OnInterfaceStateChange(BSTR id, MBN_DEVICE_SERVICES_INTERFACE_STATE state)
{
    return Record(Make(state == MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_ARRIVAL ? "CapableArrival" : "CapableRemoval",
                       Narrow(id), S_OK, 0, nullptr, static_cast<ULONG>(state)));
}
HRESULT STDMETHODCALLTYPE TestSink::OnInterfaceArrival(IMbnInterface* i)
{
    return Record(Make("InterfaceArrival", IdOf(i)));
}
HRESULT STDMETHODCALLTYPE TestSink::OnInterfaceRemoval(IMbnInterface* i)
{
    return Record(Make("InterfaceRemoval", IdOf(i)));
}
HRESULT STDMETHODCALLTYPE TestSink::OnInterfaceCapabilityAvailable(IMbnInterface* i)
{
    return Record(Make("CapabilityAvailable", IdOf(i)));
}
HRESULT STDMETHODCALLTYPE TestSink::OnSubscriberInformationChange(IMbnInterface* i)
{
    return Record(Make("SubscriberInformationChange", IdOf(i)));
}
HRESULT STDMETHODCALLTYPE TestSink::OnReadyStateChange(IMbnInterface* i)
{
    return Record(
        WithState(Make("ReadyStateChange", IdOf(i)), i, &IMbnInterface::GetReadyState, MBN_READY_STATE_OFF));
}
HRESULT STDMETHODCALLTYPE TestSink::OnEmergencyModeChange(IMbnInterface* i)
{
    SinkEvent event = Make("EmergencyModeChange", IdOf(i));
    VARIANT_BOOL on = VARIANT_FALSE;
    event.status = i->InEmergencyMode(&on);
    event.number = static_cast<ULONG>(on == VARIANT_TRUE);
    return Record(event);
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
    return Record(event);
}
HRESULT STDMETHODCALLTYPE TestSink::OnPreferredProvidersChange(IMbnInterface* i)
{
    return Record(Make("PreferredProvidersChange", IdOf(i)));
}
HRESULT STDMETHODCALLTYPE TestSink::OnSetPreferredProvidersComplete(IMbnInterface* i, ULONG id, HRESULT status)
{
    return Record(Make("SetPreferredProvidersComplete", IdOf(i), status, id));
}
HRESULT STDMETHODCALLTYPE TestSink::OnScanNetworkComplete(IMbnInterface* i, ULONG id, HRESULT status)
{
    return Record(Make("ScanNetworkComplete", IdOf(i), status, id));
}
HRESULT STDMETHODCALLTYPE TestSink::OnConnectComplete(IMbnConnection* c, ULONG id, HRESULT status)
{
    return Record(Make("ConnectComplete", IdOf(c), status, id));
}
HRESULT STDMETHODCALLTYPE TestSink::OnDisconnectComplete(IMbnConnection* c, ULONG id, HRESULT status)
{
    return Record(Make("DisconnectComplete", IdOf(c), status, id));
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
    return Record(event);
}
HRESULT STDMETHODCALLTYPE TestSink::OnVoiceCallStateChange(IMbnConnection* c)
{
    return Record(WithState(Make("VoiceCallStateChange", IdOf(c)), c, &IMbnConnection::GetVoiceCallState,
                            MBN_VOICE_CALL_STATE_NONE));
}
HRESULT STDMETHODCALLTYPE TestSink::OnRegisterModeAvailable(IMbnRegistration* r)
{
    return Record(
        WithState(Make("RegisterModeAvailable", ""), r, &IMbnRegistration::GetRegisterMode, MBN_REGISTER_MODE_NONE));
}
HRESULT STDMETHODCALLTYPE TestSink::OnRegisterStateChange(IMbnRegistration* r)
{
    return Record(
        WithState(Make("RegisterStateChange", ""), r, &IMbnRegistration::GetRegisterState, MBN_REGISTER_STATE_NONE));
}
HRESULT STDMETHODCALLTYPE TestSink::OnPacketServiceStateChange(IMbnRegistration*)
{
    return Record(Make("PacketServiceStateChange", ""));
}
HRESULT STDMETHODCALLTYPE TestSink::OnSetRegisterModeComplete(IMbnRegistration*, ULONG id, HRESULT status)
{
    return Record(Make("SetRegisterModeComplete", "", status, id));
}
