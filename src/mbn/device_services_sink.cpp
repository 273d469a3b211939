#include "logging/log_helper.h"
#include "mbn/mbn_event_info.h"
#include "mbn/mbn_sinks.h"
#include "mbn/mbn_text.h"
#include "mbn/sink_com.h"

HRESULT STDMETHODCALLTYPE CDeviceServicesSink::QueryInterface(REFIID riid, void** object)
{
    return mbnsink::QueryInterface<IMbnDeviceServicesEvents>(this, riid, IID_IMbnDeviceServicesEvents, object);
}

ULONG STDMETHODCALLTYPE CDeviceServicesSink::AddRef()
{
    return mbnsink::AddRef(m_ref_count);
}

ULONG STDMETHODCALLTYPE CDeviceServicesSink::Release()
{
    const ULONG count = mbnsink::Release(m_ref_count);
    if (count == 0) {
        delete this;
    }
    return count;
}

namespace {

// A device-service record with the fields every completion carries.
MbnEventInfo ServiceRecord(uint32_t serviceEvent, IMbnDeviceService* deviceService)
{
    MbnEventInfo info;
    info.source = MBN_EVENT_SOURCE_DEVICE_SERVICES;
    info.service_event = serviceEvent;
    info.object = deviceService;
    return info;
}

MbnEventInfo CompletionRecord(uint32_t serviceEvent, IMbnDeviceService* deviceService, HRESULT status,
                              ULONG requestID)
{
    MbnEventInfo info = ServiceRecord(serviceEvent, deviceService);
    info.status = status;
    info.request_id = static_cast<uint32_t>(requestID);
    return info;
}

}  // namespace

HRESULT STDMETHODCALLTYPE CDeviceServicesSink::OnQuerySupportedCommandsComplete(IMbnDeviceService* deviceService,
                                                                                 SAFEARRAY* commandIDList,
                                                                                 HRESULT status, ULONG requestID)
{
    MbnEventInfo info = CompletionRecord(DS_EVENT_QUERY_COMMAND_COMPLETE, deviceService, status, requestID);
    info.data = commandIDList;
    Notify(&info);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CDeviceServicesSink::OnOpenCommandSessionComplete(IMbnDeviceService* deviceService,
                                                                             HRESULT status, ULONG requestID)
{
    LogScope scope("CDeviceServicesSink::OnOpenCommandSessionComplete");
    MbnEventInfo info = CompletionRecord(DS_EVENT_OPEN_COMMAND_SESSION_COMPLETE, deviceService, status, requestID);
    Notify(&info);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CDeviceServicesSink::OnCloseCommandSessionComplete(IMbnDeviceService* deviceService,
                                                                              HRESULT status, ULONG requestID)
{
    static const char* const kName = "CDeviceServicesSink::OnCloseCommandSessionComplete";
    LogScope scope(kName);
    MbnEventInfo info = CompletionRecord(DS_EVENT_CLOSE_COMMAND_SESSION_COMPLETE, deviceService, status, requestID);
    Notify(&info);
    LogHelper::Log(LOG_LEVEL_INFO, kName, "close command session complete. result = 0x%08x.",
                   static_cast<unsigned>(status));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CDeviceServicesSink::OnSetCommandComplete(IMbnDeviceService* deviceService,
                                                                     ULONG /*responseID*/,
                                                                     SAFEARRAY* deviceServiceData, HRESULT status,
                                                                     ULONG requestID)
{
    LogScope scope("CDeviceServicesSink::OnSetCommandComplete");
    MbnEventInfo info = CompletionRecord(DS_EVENT_SET_COMMAND_COMPLETE, deviceService, status, requestID);
    info.data = deviceServiceData;
    Notify(&info);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CDeviceServicesSink::OnQueryCommandComplete(IMbnDeviceService* deviceService,
                                                                       ULONG /*responseID*/,
                                                                       SAFEARRAY* deviceServiceData, HRESULT status,
                                                                       ULONG requestID)
{
    LogScope scope("CDeviceServicesSink::OnQueryCommandComplete");
    MbnEventInfo info = CompletionRecord(DS_EVENT_QUERY_COMMAND_COMPLETE, deviceService, status, requestID);
    info.data = deviceServiceData;
    Notify(&info);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CDeviceServicesSink::OnEventNotification(IMbnDeviceService* deviceService, ULONG eventID,
                                                                    SAFEARRAY* deviceServiceData)
{
    LogScope scope("CDeviceServicesSink::OnEventNotification");
    MbnEventInfo info = ServiceRecord(DS_EVENT_NOTIFICATION, deviceService);
    info.event_id = static_cast<uint32_t>(eventID);
    info.data = deviceServiceData;
    Notify(&info);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CDeviceServicesSink::OnOpenDataSessionComplete(IMbnDeviceService* deviceService,
                                                                          HRESULT status, ULONG requestID)
{
    LogScope scope("CDeviceServicesSink::OnOpenDataSessionComplete");
    MbnEventInfo info = CompletionRecord(DS_EVENT_OPEN_DATA_SESSION_COMPLETE, deviceService, status, requestID);
    Notify(&info);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CDeviceServicesSink::OnCloseDataSessionComplete(IMbnDeviceService* deviceService,
                                                                           HRESULT status, ULONG requestID)
{
    LogScope scope("CDeviceServicesSink::OnCloseDataSessionComplete");
    MbnEventInfo info = CompletionRecord(DS_EVENT_CLOSE_DATA_SESSION_COMPLETE, deviceService, status, requestID);
    Notify(&info);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CDeviceServicesSink::OnWriteDataComplete(IMbnDeviceService* deviceService, HRESULT status,
                                                                    ULONG requestID)
{
    MbnEventInfo info = CompletionRecord(DS_EVENT_WRITE_DATA_COMPLETE, deviceService, status, requestID);
    Notify(&info);
    // This one writes its exit line only.
    LogHelper::WriteScopeLine('-', "CDeviceServicesSink::OnWriteDataComplete");
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CDeviceServicesSink::OnReadData(IMbnDeviceService* deviceService,
                                                           SAFEARRAY* deviceServiceData)
{
    MbnEventInfo info = ServiceRecord(DS_EVENT_READ_DATA, deviceService);
    info.data = deviceServiceData;
    Notify(&info);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CDeviceServicesSink::OnInterfaceStateChange(BSTR interfaceID,
                                                                       MBN_DEVICE_SERVICES_INTERFACE_STATE stateChange)
{
    LogScope scope("CDeviceServicesSink::OnInterfaceStateChange");
    MbnEventInfo info;
    info.source = MBN_EVENT_SOURCE_DEVICE_SERVICES;
    info.service_event = DS_EVENT_INTERFACE_STATE_CHANGE;
    info.interface_id = NarrowFromBstr(interfaceID);
    info.interface_state = static_cast<uint32_t>(stateChange);
    Notify(&info);
    return S_OK;
}
