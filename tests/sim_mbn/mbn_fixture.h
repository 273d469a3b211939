// A client of the simulated Mobile Broadband API for tests: a sink that
// records the device-services and interface-manager events the API delivers,
// the interface and device services managers, and the modem's vendor device service.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "machine_fixture.h"
#include "mbnapi.h"

struct SinkEvent {
    std::string name;
    HRESULT status;
    bool hadData;            // a data array came with it
    std::thread::id thread;  // that delivered it
};

class TestSink final : public IMbnDeviceServicesEvents, public IMbnInterfaceManagerEvents {
public:
    std::vector<SinkEvent> Events() const;
    std::vector<std::string> Names() const;
    ULONG RefCount() const { return m_refs.load(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE OnOpenCommandSessionComplete(IMbnDeviceService*, HRESULT status, ULONG) override
    {
        return Record("OpenCommandSession", status);
    }
    HRESULT STDMETHODCALLTYPE OnCloseCommandSessionComplete(IMbnDeviceService*, HRESULT status, ULONG) override
    {
        return Record("CloseCommandSession", status);
    }
    HRESULT STDMETHODCALLTYPE OnSetCommandComplete(IMbnDeviceService*, ULONG, SAFEARRAY* data, HRESULT status,
                                                   ULONG) override
    {
        return Record("SetCommand", status, data != nullptr);
    }
    HRESULT STDMETHODCALLTYPE OnInterfaceStateChange(BSTR, MBN_DEVICE_SERVICES_INTERFACE_STATE state) override
    {
        return Record(state == MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_ARRIVAL ? "CapableArrival" : "CapableRemoval");
    }
    // Not delivered by the tests of this folder.
    HRESULT STDMETHODCALLTYPE OnQuerySupportedCommandsComplete(IMbnDeviceService*, SAFEARRAY*, HRESULT, ULONG) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnQueryCommandComplete(IMbnDeviceService*, ULONG, SAFEARRAY*, HRESULT, ULONG) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnEventNotification(IMbnDeviceService*, ULONG, SAFEARRAY*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnOpenDataSessionComplete(IMbnDeviceService*, HRESULT, ULONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnCloseDataSessionComplete(IMbnDeviceService*, HRESULT, ULONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnWriteDataComplete(IMbnDeviceService*, HRESULT, ULONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnReadData(IMbnDeviceService*, SAFEARRAY*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInterfaceArrival(IMbnInterface*) override { return Record("InterfaceArrival"); }
    HRESULT STDMETHODCALLTYPE OnInterfaceRemoval(IMbnInterface*) override { return Record("InterfaceRemoval"); }

private:
    ~TestSink() = default;
    // Records the event with the delivering thread; S_OK, what every handler answers.
    HRESULT Record(const char* name, HRESULT status = S_OK, bool hadData = false);

    std::atomic<ULONG> m_refs{1};
    mutable std::mutex m_mutex;
    std::vector<SinkEvent> m_events;
};

class MbnClientTest : public MachineTest {
protected:
    using Mbn = sim::MobileBroadband;

    void SetUp() override;
    void TearDown() override;

    sim::MobileBroadband& mbn() { return machine().mbn(); }

    void AdviseAll();
    // The vendor device service of `interfaceId` (the modem's by default) into
    // `service`, replacing what it held; the context is released again.
    HRESULT GetService(IMbnDeviceService*& service, const std::string& interfaceId = "");
    HRESULT OpenService() { return GetService(m_service); }
    HRESULT OpenSession(IMbnDeviceService* service = nullptr);  // OpenCommandSession, then WaitIdle
    HRESULT SendBytes(ULONG commandId, const std::string& bytes, IMbnDeviceService* service = nullptr);
    // An AT command: four zero bytes, then the text.
    HRESULT SendAt(const std::string& text, IMbnDeviceService* service = nullptr)
    {
        return SendBytes(Mbn::kAtCommandId, std::string(4, '\0') + text, service);
    }
    void WaitIdle() { ASSERT_TRUE(mbn().WaitIdle()); }

    IMbnInterfaceManager* m_interfaceManager = nullptr;
    IMbnDeviceServicesManager* m_deviceServicesManager = nullptr;
    IMbnDeviceService* m_service = nullptr;
    TestSink* m_sink = new TestSink;
    std::vector<std::pair<IConnectionPoint*, DWORD>> m_advised;
};
