// A client of the simulated Mobile Broadband API for tests: the interface and
// device services managers, one TestSink advised on their device-services and
// interface-manager connection points, and the modem's vendor device service.
#pragma once

#include <gtest/gtest.h>

#include "machine_fixture.h"
#include "test_sink.h"

class MbnClientTest : public MachineTest {
protected:
    using Mbn = sim::MobileBroadband;
    using Events = sim::MobileBroadband::EventsInterface;

    void SetUp() override;
    void TearDown() override;

    sim::MobileBroadband& mbn() { return machine().mbn(); }

    void AdviseAll();
    void UnadviseAll();
    // A context (released again) and its vendor device service for
    // `interfaceId` (the modem's by default).
    HRESULT GetService(IMbnDeviceService** service, const std::string& interfaceId = "");
    // m_service, replacing the one held before.
    HRESULT OpenService() { return GetService(&m_service); }
    HRESULT OpenSession(IMbnDeviceService* service = nullptr);  // OpenCommandSession, then WaitIdle
    HRESULT SendAt(const std::string& text, ULONG* requestId = nullptr, IMbnDeviceService* service = nullptr);
    HRESULT SendBytes(ULONG commandId, const std::string& bytes);
    void WaitIdle() { ASSERT_TRUE(mbn().WaitIdle()); }
    std::vector<SinkEvent> EventsNamed(const std::string& name) const;

    IMbnInterfaceManager* m_interfaceManager = nullptr;
    IMbnDeviceServicesManager* m_deviceServicesManager = nullptr;
    IMbnDeviceService* m_service = nullptr;
    TestSink* m_sink = nullptr;
    struct Advised {
        IConnectionPoint* point;
        DWORD cookie;
    };
    std::vector<Advised> m_advised;
};

// The byte payload of an AT command: four zero bytes, then the text.
inline std::string AtBytes(const std::string& text)
{
    return std::string(4, '\0') + text;
}
