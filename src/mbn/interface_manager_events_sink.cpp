#include "logging/log_helper.h"
#include "mbn/mbn_event_info.h"
#include "mbn/mbn_sinks.h"
#include "mbn/sink_com.h"

HRESULT STDMETHODCALLTYPE CInterfaceManagerEventsSink::QueryInterface(REFIID riid, void** object)
{
    return mbnsink::QueryInterface<IMbnInterfaceManagerEvents>(this, riid, IID_IMbnInterfaceManagerEvents, object);
}

ULONG STDMETHODCALLTYPE CInterfaceManagerEventsSink::AddRef()
{
    return mbnsink::AddRef(m_ref_count);
}

ULONG STDMETHODCALLTYPE CInterfaceManagerEventsSink::Release()
{
    const ULONG count = mbnsink::Release(m_ref_count);
    if (count == 0) {
        delete this;
    }
    return count;
}

HRESULT CInterfaceManagerEventsSink::Forward(IMbnInterface* mbnInterface, uint32_t eventIndex)
{
    MbnEventInfo info;
    info.source = MBN_EVENT_SOURCE_INTERFACE_MANAGER;
    info.object = mbnInterface;
    info.event_index = eventIndex;
    Notify(&info);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CInterfaceManagerEventsSink::OnInterfaceArrival(IMbnInterface* newInterface)
{
    LogScope scope("CInterfaceManagerEventsSink::OnInterfaceArrival");
    return Forward(newInterface, 0);
}

HRESULT STDMETHODCALLTYPE CInterfaceManagerEventsSink::OnInterfaceRemoval(IMbnInterface* oldInterface)
{
    LogScope scope("CInterfaceManagerEventsSink::OnInterfaceRemoval");
    return Forward(oldInterface, 1);
}
