// A sink for every Mobile Broadband events interface that records what it
// receives, plus small helpers to drive the simulated API from tests.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "mbnapi.h"

struct SinkEvent {
    std::string name;
    HRESULT status = S_OK;
    ULONG requestId = 0;
    ULONG number = 0;          // response id, event id or interface state
    bool hadData = false;
    std::string data;          // the bytes of the data array
    std::string interfaceId;   // of the object or the BSTR argument
};

class TestSink final : public IMbnDeviceServicesEvents,
                       public IMbnInterfaceManagerEvents,
                       public IMbnInterfaceEvents,
                       public IMbnConnectionEvents,
                       public IMbnRegistrationEvents {
public:
    TestSink() = default;

    std::vector<SinkEvent> Events() const;
    std::vector<std::string> Names() const;
    ULONG RefCount() const { return m_refs.load(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override;

    // IMbnDeviceServicesEvents
    HRESULT STDMETHODCALLTYPE OnQuerySupportedCommandsComplete(IMbnDeviceService*, SAFEARRAY*, HRESULT, ULONG) override;
    HRESULT STDMETHODCALLTYPE OnOpenCommandSessionComplete(IMbnDeviceService*, HRESULT, ULONG) override;
    HRESULT STDMETHODCALLTYPE OnCloseCommandSessionComplete(IMbnDeviceService*, HRESULT, ULONG) override;
    HRESULT STDMETHODCALLTYPE OnSetCommandComplete(IMbnDeviceService*, ULONG, SAFEARRAY*, HRESULT, ULONG) override;
    HRESULT STDMETHODCALLTYPE OnQueryCommandComplete(IMbnDeviceService*, ULONG, SAFEARRAY*, HRESULT, ULONG) override;
    HRESULT STDMETHODCALLTYPE OnEventNotification(IMbnDeviceService*, ULONG, SAFEARRAY*) override;
    HRESULT STDMETHODCALLTYPE OnOpenDataSessionComplete(IMbnDeviceService*, HRESULT, ULONG) override;
    HRESULT STDMETHODCALLTYPE OnCloseDataSessionComplete(IMbnDeviceService*, HRESULT, ULONG) override;
    HRESULT STDMETHODCALLTYPE OnWriteDataComplete(IMbnDeviceService*, HRESULT, ULONG) override;
    HRESULT STDMETHODCALLTYPE OnReadData(IMbnDeviceService*, SAFEARRAY*) override;
    HRESULT STDMETHODCALLTYPE OnInterfaceStateChange(BSTR, MBN_DEVICE_SERVICES_INTERFACE_STATE) override;
    // IMbnInterfaceManagerEvents
    HRESULT STDMETHODCALLTYPE OnInterfaceArrival(IMbnInterface*) override;
    HRESULT STDMETHODCALLTYPE OnInterfaceRemoval(IMbnInterface*) override;
    // IMbnInterfaceEvents
    HRESULT STDMETHODCALLTYPE OnInterfaceCapabilityAvailable(IMbnInterface*) override;
    HRESULT STDMETHODCALLTYPE OnSubscriberInformationChange(IMbnInterface*) override;
    HRESULT STDMETHODCALLTYPE OnReadyStateChange(IMbnInterface*) override;
    HRESULT STDMETHODCALLTYPE OnEmergencyModeChange(IMbnInterface*) override;
    HRESULT STDMETHODCALLTYPE OnHomeProviderAvailable(IMbnInterface*) override;
    HRESULT STDMETHODCALLTYPE OnPreferredProvidersChange(IMbnInterface*) override;
    HRESULT STDMETHODCALLTYPE OnSetPreferredProvidersComplete(IMbnInterface*, ULONG, HRESULT) override;
    HRESULT STDMETHODCALLTYPE OnScanNetworkComplete(IMbnInterface*, ULONG, HRESULT) override;
    // IMbnConnectionEvents
    HRESULT STDMETHODCALLTYPE OnConnectComplete(IMbnConnection*, ULONG, HRESULT) override;
    HRESULT STDMETHODCALLTYPE OnDisconnectComplete(IMbnConnection*, ULONG, HRESULT) override;
    HRESULT STDMETHODCALLTYPE OnConnectStateChange(IMbnConnection*) override;
    HRESULT STDMETHODCALLTYPE OnVoiceCallStateChange(IMbnConnection*) override;
    // IMbnRegistrationEvents
    HRESULT STDMETHODCALLTYPE OnRegisterModeAvailable(IMbnRegistration*) override;
    HRESULT STDMETHODCALLTYPE OnRegisterStateChange(IMbnRegistration*) override;
    HRESULT STDMETHODCALLTYPE OnPacketServiceStateChange(IMbnRegistration*) override;
    HRESULT STDMETHODCALLTYPE OnSetRegisterModeComplete(IMbnRegistration*, ULONG, HRESULT) override;

private:
    ~TestSink() = default;
    HRESULT Record(SinkEvent event);  // S_OK, what every handler answers

    std::atomic<ULONG> m_refs{1};
    mutable std::mutex m_mutex;
    std::vector<SinkEvent> m_events;
};

std::string Narrow(BSTR text);
std::string ArrayBytes(SAFEARRAY* array);
SAFEARRAY* ByteArray(const std::string& bytes);
// The AT payload: four zero bytes, then the text.
SAFEARRAY* AtPayload(const std::string& text);
