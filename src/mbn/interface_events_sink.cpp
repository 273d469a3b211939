#include "logging/log_helper.h"
#include "mbn/mbn_event_info.h"
#include "mbn/mbn_sinks.h"
#include "mbn/mbn_state_names.h"
#include "mbn/mbn_text.h"
#include "mbn/sink_com.h"

HRESULT STDMETHODCALLTYPE CInterfaceEventsSink::QueryInterface(REFIID riid, void** object)
{
    return mbnsink::QueryInterface<IMbnInterfaceEvents>(this, riid, IID_IMbnInterfaceEvents, object);
}

ULONG STDMETHODCALLTYPE CInterfaceEventsSink::AddRef()
{
    return mbnsink::AddRef(m_ref_count);
}

ULONG STDMETHODCALLTYPE CInterfaceEventsSink::Release()
{
    const ULONG count = mbnsink::Release(m_ref_count);
    if (count == 0) {
        delete this;
    }
    return count;
}

HRESULT CInterfaceEventsSink::Forward(IMbnInterface* newInterface, uint32_t eventIndex)
{
    MbnEventInfo info;
    info.source = MBN_EVENT_SOURCE_INTERFACE;
    info.object = newInterface;
    info.event_index = eventIndex;
    Notify(&info);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CInterfaceEventsSink::OnInterfaceCapabilityAvailable(IMbnInterface* newInterface)
{
    LogScope scope("CInterfaceEventsSink::OnInterfaceCapabilityAvailable");
    return Forward(newInterface, 0);
}

HRESULT STDMETHODCALLTYPE CInterfaceEventsSink::OnSubscriberInformationChange(IMbnInterface* newInterface)
{
    LogScope scope("CInterfaceEventsSink::OnSubscriberInformationChange");
    return Forward(newInterface, 1);
}

HRESULT STDMETHODCALLTYPE CInterfaceEventsSink::OnReadyStateChange(IMbnInterface* newInterface)
{
    static const char* const kName = "CInterfaceEventsSink::OnReadyStateChange";
    LogScope scope(kName);
    if (newInterface != nullptr) {
        MBN_READY_STATE state = static_cast<MBN_READY_STATE>(0);
        if (newInterface->GetReadyState(&state) == S_OK) {
            LogHelper::Log(LOG_LEVEL_INFO, kName, "ready state change to %s",
                           ReadyStateName(static_cast<int32_t>(state)));
        }
    }
    return Forward(newInterface, 2);
}

HRESULT STDMETHODCALLTYPE CInterfaceEventsSink::OnEmergencyModeChange(IMbnInterface* newInterface)
{
    static const char* const kName = "CInterfaceEventsSink::OnEmergencyModeChange";
    LogScope scope(kName);
    if (newInterface != nullptr) {
        VARIANT_BOOL emergency = 0;
        if (newInterface->InEmergencyMode(&emergency) == S_OK) {
            LogHelper::Log(LOG_LEVEL_INFO, kName, "InEmergencyMode = %d", static_cast<int>(emergency));
        }
    }
    return Forward(newInterface, 3);
}

HRESULT STDMETHODCALLTYPE CInterfaceEventsSink::OnHomeProviderAvailable(IMbnInterface* newInterface)
{
    static const char* const kName = "CInterfaceEventsSink::OnHomeProviderAvailable";
    LogScope scope(kName);
    if (newInterface != nullptr) {
        MBN_PROVIDER provider{};
        if (newInterface->GetHomeProvider(&provider) == S_OK) {
            LogHelper::Log(LOG_LEVEL_INFO, kName, "HomeProviderAvailable. ID = %s. State = %ld. Name = %s",
                           NarrowFromBstr(provider.providerID).c_str(), static_cast<long>(provider.providerState),
                           NarrowFromBstr(provider.providerName).c_str());
        }
        // The provider's strings belong to the caller.
        SysFreeString(provider.providerID);
        SysFreeString(provider.providerName);
    }
    return Forward(newInterface, 4);
}

HRESULT STDMETHODCALLTYPE CInterfaceEventsSink::OnPreferredProvidersChange(IMbnInterface* newInterface)
{
    LogScope scope("CInterfaceEventsSink::OnPreferredProvidersChange");
    return Forward(newInterface, 5);
}

HRESULT STDMETHODCALLTYPE CInterfaceEventsSink::OnSetPreferredProvidersComplete(IMbnInterface* newInterface,
                                                                                 ULONG /*requestID*/,
                                                                                 HRESULT /*status*/)
{
    LogScope scope("CInterfaceEventsSink::OnSetPreferredProvidersComplete");
    return Forward(newInterface, 6);
}

HRESULT STDMETHODCALLTYPE CInterfaceEventsSink::OnScanNetworkComplete(IMbnInterface* newInterface,
                                                                       ULONG /*requestID*/, HRESULT /*status*/)
{
    LogScope scope("CInterfaceEventsSink::OnScanNetworkComplete");
    return Forward(newInterface, 7);
}
