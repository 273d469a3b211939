#include <functional>

#include "fake_device_service.h"
#include "mbn/mbn_sinks.h"
#include "mbn/mbn_state_names.h"
#include "mbn/mbn_text.h"
#include "mbn_fixture.h"
#include "sim/machine.h"

using Mbn = sim::MobileBroadband;

namespace {

template <class Sink, class Events>
void CheckComIdentity(const IID& ownIid, const IID& foreignIid)
{
    Sink* sink = new Sink();
    EXPECT_EQ(sink->AddRef(), 1u);
    void* object = nullptr;
    EXPECT_EQ(sink->QueryInterface(IID_IUnknown, &object), S_OK);
    EXPECT_EQ(object, static_cast<Events*>(sink));
    EXPECT_EQ(sink->QueryInterface(ownIid, &object), S_OK);
    EXPECT_EQ(object, static_cast<Events*>(sink));
    EXPECT_EQ(sink->QueryInterface(foreignIid, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(sink->Release(), 2u);  // 1 + the two successful queries
    EXPECT_EQ(sink->Release(), 1u);
    EXPECT_EQ(sink->Release(), 0u);
}

}  // namespace

TEST(MbnSinkCom, QueryInterfaceHandsOutOnlyIUnknownAndTheOwnEventsInterface)
{
    CheckComIdentity<CInterfaceEventsSink, IMbnInterfaceEvents>(IID_IMbnInterfaceEvents, IID_IMbnConnectionEvents);
    CheckComIdentity<CInterfaceManagerEventsSink, IMbnInterfaceManagerEvents>(IID_IMbnInterfaceManagerEvents,
                                                                            IID_IMbnInterfaceEvents);
    CheckComIdentity<CDeviceServicesSink, IMbnDeviceServicesEvents>(IID_IMbnDeviceServicesEvents,
                                                                    IID_IMbnRegistrationEvents);
    CheckComIdentity<CConnectionEventsSink, IMbnConnectionEvents>(IID_IMbnConnectionEvents,
                                                                  IID_IMbnDeviceServicesEvents);
    CheckComIdentity<CRegistrationEventsSink, IMbnRegistrationEvents>(IID_IMbnRegistrationEvents,
                                                                      IID_IMbnInterfaceManagerEvents);
}

// The state texts of the log: every value of each table and one beyond it.
TEST(MbnStateNames, EachStateHasItsOwnText)
{
    auto texts = [](const char* (*name)(int32_t), int32_t last) {
        std::string all;
        for (int32_t value = 0; value <= last; ++value) {
            all += std::string(name(value)) + ";";
        }
        return all;
    };
    EXPECT_EQ(texts(ReadyStateName, 6),
              "MBN_READY_STATE_OFF;MBN_READY_STATE_INITIALIZED;MBN_READY_STATE_SIM_NOT_INSERTED;Don't Care;Don't Care;"
              "MBN_READY_STATE_NOT_ACTIVATED;Don't Care;");
    EXPECT_EQ(texts(RegisterStateName, 7),
              "MBN_REGISTER_STATE_NONE;MBN_REGISTER_STATE_DEREGISTERED;MBN_REGISTER_STATE_SEARCHING;"
              "MBN_REGISTER_STATE_HOME;MBN_REGISTER_STATE_ROAMING;MBN_REGISTER_STATE_PARTNER;"
              "MBN_REGISTER_STATE_DENIED;UNKNOWN;");
    EXPECT_EQ(texts(ActivationStateName, 5),
              "MBN_ACTIVATION_STATE_NONE;MBN_ACTIVATION_STATE_ACTIVATED;MBN_ACTIVATION_STATE_ACTIVATING;"
              "MBN_ACTIVATION_STATE_DEACTIVATED;MBN_ACTIVATION_STATE_DEACTIVATING;UNKNOWN;");
}

using MbnSinks = MbnTest;

// Each event reaches the observers as its own source and index, with the
// platform's object, and writes its own line.
TEST_F(MbnSinks, EachEventIsForwardedWithItsOwnIndexAndLogsItsLine)
{
    using I = Mbn::InterfaceEvent;
    using R = Mbn::RegistrationEvent;
    using C = Mbn::ConnectionEvent;
    const uint32_t kNotForwarded = 0;
    struct Case {
        std::function<void(Mbn&)> raise;
        uint32_t source;
        uint32_t index;
        std::string line;
    };
    const Case cases[] = {
        {[](Mbn& m) { m.RaiseInterfaceEvent(I::CapabilityAvailable); }, MBN_EVENT_SOURCE_INTERFACE, 0,
         "h : - CInterfaceEventsSink::OnInterfaceCapabilityAvailable"},
        {[](Mbn& m) { m.RaiseInterfaceEvent(I::SubscriberInformationChange); }, MBN_EVENT_SOURCE_INTERFACE, 1,
         "h : + CInterfaceEventsSink::OnSubscriberInformationChange"},
        {[](Mbn& m) { m.RaiseReadyState(1); }, MBN_EVENT_SOURCE_INTERFACE, 2,
         "i :   ready state change to MBN_READY_STATE_INITIALIZED"},
        {[](Mbn& m) { m.SetEmergencyMode(true), m.RaiseInterfaceEvent(I::EmergencyModeChange); },
         MBN_EVENT_SOURCE_INTERFACE, 3, "i :   InEmergencyMode = -1"},
        {[](Mbn& m) { m.SetHomeProvider("310410", 1, "Carrier"), m.RaiseInterfaceEvent(I::HomeProviderAvailable); },
         MBN_EVENT_SOURCE_INTERFACE, 4, "i :   HomeProviderAvailable. ID = 310410. State = 1. Name = Carrier"},
        {[](Mbn& m) { m.RaiseInterfaceEvent(I::PreferredProvidersChange); }, MBN_EVENT_SOURCE_INTERFACE, 5,
         "h : + CInterfaceEventsSink::OnPreferredProvidersChange"},
        {[](Mbn& m) { m.RaiseInterfaceEvent(I::SetPreferredProvidersComplete); }, MBN_EVENT_SOURCE_INTERFACE, 6,
         "h : + CInterfaceEventsSink::OnSetPreferredProvidersComplete"},
        {[](Mbn& m) { m.RaiseInterfaceEvent(I::ScanNetworkComplete); }, MBN_EVENT_SOURCE_INTERFACE, 7,
         "h : - CInterfaceEventsSink::OnScanNetworkComplete"},
        {[](Mbn& m) { m.SetRegisterMode(1), m.RaiseRegistrationEvent(R::RegisterModeAvailable); },
         MBN_EVENT_SOURCE_REGISTRATION, 0, "i :   register mode available = 1"},
        {[](Mbn& m) { m.RaiseRegisterState(7); }, MBN_EVENT_SOURCE_REGISTRATION, 1,
         "i :   register state change to UNKNOWN"},
        {[](Mbn& m) { m.RaiseRegistrationEvent(R::PacketServiceStateChange); }, MBN_EVENT_SOURCE_REGISTRATION, 2,
         "h : + CRegistrationEventsSink::OnPacketServiceStateChange"},
        {[](Mbn& m) { m.RaiseRegistrationEvent(R::SetRegisterModeComplete); }, MBN_EVENT_SOURCE_REGISTRATION, 3,
         "h : - CRegistrationEventsSink::OnSetRegisterModeComplete"},
        {[](Mbn& m) { m.RaiseConnectionEvent(C::VoiceCallStateChange); }, MBN_EVENT_SOURCE_CONNECTION, 0,
         "h : + CConnectionEventsSink::OnVoiceCallStateChange"},
        {[](Mbn& m) { m.RaiseConnectionState(1, "internet"); }, kNotForwarded, 0,
         "i :   activation state = MBN_ACTIVATION_STATE_ACTIVATED. provider name = internet"},
        {[](Mbn& m) { m.RaiseConnectionEvent(C::ConnectComplete); }, kNotForwarded, 0,
         "h : + CConnectionEventsSink::OnConnectComplete"},
        {[](Mbn& m) { m.RaiseConnectionEvent(C::DisconnectComplete); }, kNotForwarded, 0,
         "h : - CConnectionEventsSink::OnDisconnectComplete"},
    };
    ASSERT_EQ(manager()->Init(), 0);
    RecordKeeper keeper;
    for (MbnSubject* subject : {static_cast<MbnSubject*>(manager()->m_interface_sink),
                                static_cast<MbnSubject*>(manager()->m_registration_sink),
                                static_cast<MbnSubject*>(manager()->m_connection_sink)}) {
        subject->Attach(&keeper);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const size_t before = keeper.Records().size();
        c.raise(mbn());
        mbn().WaitIdle();
        auto records = keeper.Records();
        ASSERT_EQ(records.size(), before + (c.source == kNotForwarded ? 0 : 1));
        if (c.source != kNotForwarded) {
            EXPECT_EQ(records.back().source, c.source);
            EXPECT_EQ(records.back().event_index, c.index);
            EXPECT_NE(records.back().object, nullptr);
        }
    }
    // A failing state query drops only its line.
    mbn().FailStateQueries(true);
    mbn().RaiseReadyState(0);
    mbn().WaitIdle();
    EXPECT_TRUE(TakeTasks().empty());  // the manager ignores these events
    manager()->m_interface_sink->Detach(&keeper);
    manager()->m_registration_sink->Detach(&keeper);
    manager()->m_connection_sink->Detach(&keeper);

    auto lines = Lines();
    for (const Case& c : cases) {
        EXPECT_EQ(CountOf(lines, c.line), 1u) << c.line;
    }
    EXPECT_EQ(CountOf(lines, "h : + CInterfaceEventsSink::OnReadyStateChange"), 2u);
    EXPECT_FALSE(testsupport::AnyContains(lines, "MBN_READY_STATE_OFF"));
}

TEST_F(MbnSinks, DeviceServicesEventsCarryTheirFields)
{
    CDeviceServicesSink* sink = new CDeviceServicesSink();
    sink->AddRef();
    RecordKeeper keeper;
    sink->Attach(&keeper);
    SAFEARRAY* data = SafeArrayCreateVector(VT_UI1, 0, 1);
    std::atomic<bool> gone{false};
    auto* service = new FakeDeviceService(nullptr, gone);
    service->AddRef();
    BSTR id = AllocBstrFromNarrow("{abc}");

    sink->OnOpenCommandSessionComplete(service, 10, 1);
    sink->OnCloseCommandSessionComplete(service, 11, 2);
    sink->OnSetCommandComplete(service, 99, data, 12, 3);
    sink->OnQueryCommandComplete(service, 99, data, 13, 4);
    sink->OnEventNotification(service, 7, data);
    sink->OnOpenDataSessionComplete(service, 15, 6);
    sink->OnCloseDataSessionComplete(service, 16, 7);
    sink->OnWriteDataComplete(service, 17, 8);
    sink->OnReadData(service, data);
    sink->OnInterfaceStateChange(id, MBN_DEVICE_SERVICES_CAPABLE_INTERFACE_REMOVAL);
    sink->OnQuerySupportedCommandsComplete(service, data, 20, 11);
    SysFreeString(id);
    SafeArrayDestroy(data);
    sink->Detach(&keeper);
    sink->Release();
    service->Release();

    auto records = keeper.Records();
    const std::vector<std::tuple<uint32_t, HRESULT, uint32_t, bool>> expected = {
        {DS_EVENT_OPEN_COMMAND_SESSION_COMPLETE, 10, 1, false}, {DS_EVENT_CLOSE_COMMAND_SESSION_COMPLETE, 11, 2, false},
        {DS_EVENT_SET_COMMAND_COMPLETE, 12, 3, true},           {DS_EVENT_QUERY_COMMAND_COMPLETE, 13, 4, true},
        {DS_EVENT_NOTIFICATION, 0, 0, true},                    {DS_EVENT_OPEN_DATA_SESSION_COMPLETE, 15, 6, false},
        {DS_EVENT_CLOSE_DATA_SESSION_COMPLETE, 16, 7, false},   {DS_EVENT_WRITE_DATA_COMPLETE, 17, 8, false},
        {DS_EVENT_READ_DATA, 0, 0, true},                       {DS_EVENT_INTERFACE_STATE_CHANGE, 0, 0, false},
        {DS_EVENT_QUERY_COMMAND_COMPLETE, 20, 11, true},
    };
    ASSERT_EQ(records.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(records[i].source, MBN_EVENT_SOURCE_DEVICE_SERVICES);
        EXPECT_EQ(records[i].service_event, std::get<0>(expected[i]));
        EXPECT_EQ(records[i].status, std::get<1>(expected[i]));
        EXPECT_EQ(records[i].request_id, std::get<2>(expected[i]));
        EXPECT_EQ(records[i].data != nullptr, std::get<3>(expected[i]));
        EXPECT_EQ(records[i].object != nullptr, i != 9);
    }
    EXPECT_EQ(records[4].event_id, 7u);
    EXPECT_EQ(records[9].interface_id, "{abc}");
    EXPECT_EQ(records[9].interface_state, 1u);

    auto lines = Lines();
    EXPECT_EQ(CountOf(lines, "i :   close command session complete. result = 0x0000000b."), 1u);
    EXPECT_EQ(CountOf(lines, "h : + CDeviceServicesSink::OnWriteDataComplete"), 0u);
    EXPECT_EQ(CountOf(lines, "h : - CDeviceServicesSink::OnWriteDataComplete"), 1u);
    EXPECT_FALSE(testsupport::AnyContains(lines, "OnReadData"));
    EXPECT_FALSE(testsupport::AnyContains(lines, "OnQuerySupportedCommandsComplete"));
    for (const char* method : {"OnOpenCommandSessionComplete", "OnCloseCommandSessionComplete", "OnSetCommandComplete",
                               "OnQueryCommandComplete", "OnEventNotification", "OnOpenDataSessionComplete",
                               "OnCloseDataSessionComplete", "OnInterfaceStateChange"}) {
        EXPECT_EQ(CountOf(lines, std::string("h : + CDeviceServicesSink::") + method), 1u) << method;
        EXPECT_EQ(CountOf(lines, std::string("h : - CDeviceServicesSink::") + method), 1u) << method;
    }
}
