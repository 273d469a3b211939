#include "logging/log_helper.h"
#include "mbn/mbn_event_info.h"
#include "mbn/mbn_sinks.h"
#include "mbn/mbn_state_names.h"
#include "mbn/sink_com.h"

HRESULT STDMETHODCALLTYPE CRegistrationEventsSink::QueryInterface(REFIID riid, void** object)
{
    return mbnsink::QueryInterface<IMbnRegistrationEvents>(this, riid, IID_IMbnRegistrationEvents, object);
}

ULONG STDMETHODCALLTYPE CRegistrationEventsSink::AddRef()
{
    return mbnsink::AddRef(m_ref_count);
}

ULONG STDMETHODCALLTYPE CRegistrationEventsSink::Release()
{
    const ULONG count = mbnsink::Release(m_ref_count);
    if (count == 0) {
        delete this;
    }
    return count;
}

HRESULT CRegistrationEventsSink::Forward(IMbnRegistration* registration, uint32_t eventIndex)
{
    MbnEventInfo info;
    info.source = MBN_EVENT_SOURCE_REGISTRATION;
    info.object = registration;
    info.event_index = eventIndex;
    Notify(&info);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CRegistrationEventsSink::OnRegisterModeAvailable(IMbnRegistration* newInterface)
{
    static const char* const kName = "CRegistrationEventsSink::OnRegisterModeAvailable";
    LogScope scope(kName);
    if (newInterface != nullptr) {
        MBN_REGISTER_MODE mode = static_cast<MBN_REGISTER_MODE>(0);
        if (newInterface->GetRegisterMode(&mode) == S_OK) {
            LogHelper::Log(LOG_LEVEL_INFO, kName, "register mode available = %d", static_cast<int>(mode));
        }
    }
    return Forward(newInterface, 0);
}

HRESULT STDMETHODCALLTYPE CRegistrationEventsSink::OnRegisterStateChange(IMbnRegistration* newInterface)
{
    static const char* const kName = "CRegistrationEventsSink::OnRegisterStateChange";
    LogScope scope(kName);
    if (newInterface != nullptr) {
        MBN_REGISTER_STATE state = static_cast<MBN_REGISTER_STATE>(0);
        if (newInterface->GetRegisterState(&state) == S_OK) {
            LogHelper::Log(LOG_LEVEL_INFO, kName, "register state change to %s",
                           RegisterStateName(static_cast<int32_t>(state)));
        }
    }
    return Forward(newInterface, 1);
}

HRESULT STDMETHODCALLTYPE CRegistrationEventsSink::OnPacketServiceStateChange(IMbnRegistration* newInterface)
{
    LogScope scope("CRegistrationEventsSink::OnPacketServiceStateChange");
    return Forward(newInterface, 2);
}

HRESULT STDMETHODCALLTYPE CRegistrationEventsSink::OnSetRegisterModeComplete(IMbnRegistration* newInterface,
                                                                              ULONG /*requestID*/,
                                                                              HRESULT /*status*/)
{
    LogScope scope("CRegistrationEventsSink::OnSetRegisterModeComplete");
    return Forward(newInterface, 3);
}
