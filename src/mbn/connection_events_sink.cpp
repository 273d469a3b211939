#include "logging/log_helper.h"
#include "mbn/mbn_event_info.h"
#include "mbn/mbn_sinks.h"
#include "mbn/mbn_state_names.h"
#include "mbn/mbn_text.h"
#include "mbn/sink_com.h"

HRESULT STDMETHODCALLTYPE CConnectionEventsSink::QueryInterface(REFIID riid, void** object)
{
    return mbnsink::QueryInterface<IMbnConnectionEvents>(this, riid, IID_IMbnConnectionEvents, object);
}

ULONG STDMETHODCALLTYPE CConnectionEventsSink::AddRef()
{
    return mbnsink::AddRef(m_ref_count);
}

ULONG STDMETHODCALLTYPE CConnectionEventsSink::Release()
{
    const ULONG count = mbnsink::Release(m_ref_count);
    if (count == 0) {
        delete this;
    }
    return count;
}

HRESULT STDMETHODCALLTYPE CConnectionEventsSink::OnConnectComplete(IMbnConnection* /*newConnection*/,
                                                                    ULONG /*requestID*/, HRESULT /*status*/)
{
    LogScope scope("CConnectionEventsSink::OnConnectComplete");
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CConnectionEventsSink::OnDisconnectComplete(IMbnConnection* /*newConnection*/,
                                                                       ULONG /*requestID*/, HRESULT /*status*/)
{
    LogScope scope("CConnectionEventsSink::OnDisconnectComplete");
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CConnectionEventsSink::OnConnectStateChange(IMbnConnection* newConnection)
{
    static const char* const kName = "CConnectionEventsSink::OnConnectStateChange";
    LogScope scope(kName);
    if (newConnection != nullptr) {
        MBN_ACTIVATION_STATE state = static_cast<MBN_ACTIVATION_STATE>(0);
        BSTR profileName = nullptr;
        if (newConnection->GetConnectionState(&state, &profileName) == S_OK) {
            LogHelper::Log(LOG_LEVEL_INFO, kName, "activation state = %s. provider name = %s",
                           ActivationStateName(static_cast<int32_t>(state)), NarrowFromBstr(profileName).c_str());
        }
        SysFreeString(profileName);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CConnectionEventsSink::OnVoiceCallStateChange(IMbnConnection* newConnection)
{
    LogScope scope("CConnectionEventsSink::OnVoiceCallStateChange");
    MbnEventInfo info;
    info.source = MBN_EVENT_SOURCE_CONNECTION;
    info.object = newConnection;
    Notify(&info);
    return S_OK;
}
