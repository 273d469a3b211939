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

namespace {

SinkEvent Make(const char* name, HRESULT status = S_OK, ULONG requestId = 0, SAFEARRAY* data = nullptr,
               ULONG commandId = 0)
{
    SinkEvent event;
    event.name = name;
    event.status = status;
    event.requestId = requestId;
    event.commandId = commandId;
    event.hadData = data != nullptr;
    event.thread = std::this_thread::get_id();
    if (data != nullptr) {
        event.data = ArrayBytes(data);
    }
    return event;
}

SinkEvent ForInterface(const char* name, IMbnInterface* object)
{
    SinkEvent event = Make(name);
    BSTR id = nullptr;
    event.status = object->get_InterfaceID(&id);
    event.interfaceId = Narrow(id);
    SysFreeString(id);
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

HRESULT STDMETHODCALLTYPE TestSink::OnQuerySupportedCommandsComplete(IMbnDeviceService*, SAFEARRAY*, HRESULT, ULONG)
{
    return Record(Make("QuerySupportedCommands"));
}
HRESULT STDMETHODCALLTYPE TestSink::OnOpenCommandSessionComplete(IMbnDeviceService*, HRESULT status, ULONG id)
{
    return Record(Make("OpenCommandSession", status, id));
}
HRESULT STDMETHODCALLTYPE TestSink::OnCloseCommandSessionComplete(IMbnDeviceService*, HRESULT status, ULONG id)
{
    return Record(Make("CloseCommandSession", status, id));
}
HRESULT STDMETHODCALLTYPE TestSink::OnSetCommandComplete(IMbnDeviceService*, ULONG response, SAFEARRAY* data,
                                                         HRESULT status, ULONG id)
{
    return Record(Make("SetCommand", status, id, data, response));
}
HRESULT STDMETHODCALLTYPE TestSink::OnQueryCommandComplete(IMbnDeviceService*, ULONG, SAFEARRAY*, HRESULT, ULONG)
{
    return Record(Make("QueryCommand"));
}
HRESULT STDMETHODCALLTYPE TestSink::OnEventNotification(IMbnDeviceService*, ULONG, SAFEARRAY*)
{
    return Record(Make("EventNotification"));
}
HRESULT STDMETHODCALLTYPE TestSink::OnOpenDataSessionComplete(IMbnDeviceService*, HRESULT, ULONG)
{
    return Record(Make("OpenDataSession"));
}
HRESULT STDMETHODCALLTYPE TestSink::OnCloseDataSessionComplete(IMbnDeviceService*, HRESULT, ULONG)
{
    return Record(Make("CloseDataSession"));
}
HRESULT STDMETHODCALLTYPE TestSink::OnWriteDataComplete(IMbnDeviceService*, HRESULT, ULONG)
{
    return Record(Make("WriteData"));
}
HRESULT STDMETHODCALLTYPE TestSink::OnReadData(IMbnDeviceService*, SAFEARRAY*)
{
    return Record(Make("ReadData"));
}
HRESULT STDMETHODCALLTYPE TestSink::OnInterfaceStateChange(BSTR id, MBN_DEVICE_SERVICES_INTERFACE_STATE state)
{
    SinkEvent event =
        Make(state == MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_ARRIVAL ? "CapableArrival" : "CapableRemoval");
    event.interfaceId = Narrow(id);
    return Record(event);
}
HRESULT STDMETHODCALLTYPE TestSink::OnInterfaceArrival(IMbnInterface* object)
{
    return Record(ForInterface("InterfaceArrival", object));
}
HRESULT STDMETHODCALLTYPE TestSink::OnInterfaceRemoval(IMbnInterface* object)
{
    return Record(ForInterface("InterfaceRemoval", object));
}
