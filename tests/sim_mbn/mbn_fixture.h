// A client of the simulated Mobile Broadband API for tests: the three
// managers, one TestSink advised on every connection point, and the vendor
// device service of the modem's interface.
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

    // Advises `sink` on every connection point of the three managers.
    void AdviseAll();
    void UnadviseAll();
    // Context and device service for `interfaceId` (the modem's by default).
    HRESULT OpenService(const std::string& interfaceId = "");
    HRESULT OpenSession();  // OpenCommandSession + wait for its completion
    HRESULT SendAt(const std::string& text, ULONG* requestId = nullptr);
    HRESULT SendBytes(ULONG commandId, const std::string& bytes);
    void WaitIdle() { ASSERT_TRUE(mbn().WaitIdle()); }
    std::vector<SinkEvent> EventsNamed(const std::string& name) const;

    IMbnInterfaceManager* m_interfaceManager = nullptr;
    IMbnConnectionManager* m_connectionManager = nullptr;
    IMbnDeviceServicesManager* m_deviceServicesManager = nullptr;
    IMbnDeviceServicesContext* m_context = nullptr;
    IMbnDeviceService* m_service = nullptr;
    TestSink* m_sink = nullptr;
    struct Advised {
        IConnectionPoint* point;
        DWORD cookie;
    };
    std::vector<Advised> m_advised;
};
