// A sink for the device-services and interface-manager events that records
// what it receives, plus byte-array helpers to drive the simulated API.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mbnapi.h"

struct SinkEvent {
    std::string name;
    HRESULT status = S_OK;
    ULONG requestId = 0;
    ULONG commandId = 0;
    bool hadData = false;
    std::string data;         // the bytes of the data array
    std::string interfaceId;  // of the interface object or the BSTR argument
    std::thread::id thread;   // that delivered it
};

class TestSink final : public IMbnDeviceServicesEvents, public IMbnInterfaceManagerEvents {
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
