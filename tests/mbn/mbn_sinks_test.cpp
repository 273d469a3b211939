#include <algorithm>

#include "mbn/mbn_payload.h"
#include "mbn/mbn_sinks.h"
#include "mbn/mbn_text.h"
#include "mbn_fixture.h"
#include "sim/machine.h"

using InterfaceEvent = sim::MobileBroadband::InterfaceEvent;
using RegistrationEvent = sim::MobileBroadband::RegistrationEvent;
using ConnectionEvent = sim::MobileBroadband::ConnectionEvent;

namespace {

template <class Sink, class Events>
void CheckComIdentity(const IID& ownIid, const IID& foreignIid)
{
    Sink* sink = new Sink();
    EXPECT_EQ(sink->AddRef(), 1u);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(sink->QueryInterface(IID_IUnknown, &object), S_OK);
    EXPECT_EQ(object, static_cast<Events*>(sink));
    void* own = nullptr;
    EXPECT_EQ(sink->QueryInterface(ownIid, &own), S_OK);
    EXPECT_EQ(own, static_cast<Events*>(sink));
    void* foreign = reinterpret_cast<void*>(1);
    EXPECT_EQ(sink->QueryInterface(foreignIid, &foreign), E_NOINTERFACE);
    EXPECT_EQ(foreign, nullptr);
    EXPECT_EQ(sink->QueryInterface(IID_IMbnInterface, &foreign), E_NOINTERFACE);
    EXPECT_EQ(foreign, nullptr);
    // 1 + the two successful queries.
    EXPECT_EQ(sink->Release(), 2u);
    EXPECT_EQ(sink->Release(), 1u);
    EXPECT_EQ(sink->Release(), 0u);  // destroyed here
}

std::vector<uint32_t> SortedIndexes(const std::vector<RecordKeeper::Copy>& records)
{
    std::vector<uint32_t> indexes;
    for (const auto& r : records) {
        indexes.push_back(r.event_index);
    }
    std::sort(indexes.begin(), indexes.end());
    return indexes;
}

}  // namespace

TEST(MbnPayload, ReplyTextDropsZeroBytesIsCutAndNeverReadsAnAbsentArray)
{
    EXPECT_EQ(ReplyTextFromArray(nullptr, 1023), "");
    const uint8_t framed[] = {0, 0, 0, 0, '\r', '\n', 'O', 'K', '\r', '\n'};
    SAFEARRAY* array = CreateByteArray(framed, sizeof(framed));
    EXPECT_EQ(ReplyTextFromArray(array, 1023), "\r\nOK\r\n");
    EXPECT_EQ(ReplyTextFromArray(array, 3), "\r\nO");
    int32_t first = -1;
    EXPECT_TRUE(FirstInt32FromArray(array, first));
    EXPECT_EQ(first, 0);
    SafeArrayDestroy(array);

    SAFEARRAY* empty = CreateByteArray(nullptr, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(ReplyTextFromArray(empty, 1023), "");
    EXPECT_FALSE(FirstInt32FromArray(empty, first));
    EXPECT_FALSE(FirstInt32FromArray(nullptr, first));
    SafeArrayDestroy(empty);

    EXPECT_EQ(NarrowFromBstr(nullptr), "");
    BSTR text = AllocBstrFromNarrow("{AB-12}");
    EXPECT_EQ(NarrowFromBstr(text), "{AB-12}");
    SysFreeString(text);
}

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

using MbnSinks = MbnTest;

TEST_F(MbnSinks, InterfaceEventsLogTheirStatesAndForwardEveryMethod)
{
    ASSERT_EQ(manager()->Init(), 0);
    RecordKeeper keeper;
    manager()->m_interface_sink->Attach(&keeper);

    mbn().RaiseReadyState(3);
    mbn().WaitIdle();
    mbn().RaiseReadyState(1);
    mbn().WaitIdle();
    mbn().SetEmergencyMode(true);
    mbn().RaiseInterfaceEvent(InterfaceEvent::EmergencyModeChange);
    mbn().SetHomeProvider("310410", 1, "Carrier");
    mbn().RaiseInterfaceEvent(InterfaceEvent::HomeProviderAvailable);
    const InterfaceEvent others[] = {InterfaceEvent::CapabilityAvailable, InterfaceEvent::SubscriberInformationChange,
                                     InterfaceEvent::PreferredProvidersChange,
                                     InterfaceEvent::SetPreferredProvidersComplete,
                                     InterfaceEvent::ScanNetworkComplete};
    for (InterfaceEvent e : others) {
        mbn().RaiseInterfaceEvent(e);
    }
    mbn().WaitIdle();
    // A failing state query only drops its line.
    mbn().FailStateQueries(true);
    mbn().RaiseReadyState(0);
    mbn().WaitIdle();

    auto records = keeper.Records();
    EXPECT_EQ(SortedIndexes(records), (std::vector<uint32_t>{0, 1, 2, 2, 2, 3, 4, 5, 6, 7}));
    for (const auto& r : records) {
        EXPECT_EQ(r.source, MBN_EVENT_SOURCE_INTERFACE);
        EXPECT_TRUE(r.hasObject);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.request_id, 0u);
    }
    manager()->m_interface_sink->Detach(&keeper);
    // The manager ignores interface events: no task.
    EXPECT_TRUE(TakeTasks().empty());

    auto lines = Lines();
    EXPECT_EQ(CountOf(lines, "i :   ready state change to Don't Care"), 1u);
    EXPECT_EQ(CountOf(lines, "i :   ready state change to MBN_READY_STATE_INITIALIZED"), 1u);
    EXPECT_EQ(CountOf(lines, "i :   ready state change to MBN_READY_STATE_OFF"), 0u);
    EXPECT_EQ(CountOf(lines, "h : + CInterfaceEventsSink::OnReadyStateChange"), 3u);
    EXPECT_EQ(CountOf(lines, "h : - CInterfaceEventsSink::OnReadyStateChange"), 3u);
    EXPECT_EQ(CountOf(lines, "i :   InEmergencyMode = -1"), 1u);
    EXPECT_EQ(CountOf(lines, "i :   HomeProviderAvailable. ID = 310410. State = 1. Name = Carrier"), 1u);
    EXPECT_EQ(CountOf(lines, "h : + CInterfaceEventsSink::OnScanNetworkComplete"), 1u);
    EXPECT_EQ(CountOf(lines, "h : - CInterfaceEventsSink::OnInterfaceCapabilityAvailable"), 1u);
}

TEST_F(MbnSinks, RegistrationAndConnectionEvents)
{
    ASSERT_EQ(manager()->Init(), 0);
    RecordKeeper registrations;
    RecordKeeper connections;
    manager()->m_registration_sink->Attach(&registrations);
    manager()->m_connection_sink->Attach(&connections);

    mbn().RaiseRegisterState(7);
    mbn().WaitIdle();
    mbn().RaiseRegisterState(3);
    mbn().SetRegisterMode(1);
    mbn().RaiseRegistrationEvent(RegistrationEvent::RegisterModeAvailable);
    mbn().RaiseRegistrationEvent(RegistrationEvent::PacketServiceStateChange);
    mbn().RaiseRegistrationEvent(RegistrationEvent::SetRegisterModeComplete);
    mbn().RaiseConnectionState(1, "internet");
    mbn().RaiseConnectionEvent(ConnectionEvent::ConnectComplete);
    mbn().RaiseConnectionEvent(ConnectionEvent::DisconnectComplete);
    mbn().RaiseConnectionEvent(ConnectionEvent::VoiceCallStateChange);
    mbn().WaitIdle();
    // Without a connection object only the trace lines are written.
    manager()->m_connection_sink->OnConnectStateChange(nullptr);

    auto regs = registrations.Records();
    EXPECT_EQ(SortedIndexes(regs), (std::vector<uint32_t>{0, 1, 1, 2, 3}));
    for (const auto& r : regs) {
        EXPECT_EQ(r.source, MBN_EVENT_SOURCE_REGISTRATION);
        EXPECT_TRUE(r.hasObject);
    }
    // Only the voice call state change is forwarded.
    auto conns = connections.Records();
    ASSERT_EQ(conns.size(), 1u);
    EXPECT_EQ(conns[0].source, MBN_EVENT_SOURCE_CONNECTION);
    EXPECT_TRUE(conns[0].hasObject);
    manager()->m_registration_sink->Detach(&registrations);
    manager()->m_connection_sink->Detach(&connections);
    EXPECT_TRUE(TakeTasks().empty());

    auto lines = Lines();
    EXPECT_EQ(CountOf(lines, "i :   register state change to UNKNOWN"), 1u);
    EXPECT_EQ(CountOf(lines, "i :   register state change to MBN_REGISTER_STATE_HOME"), 1u);
    EXPECT_EQ(CountOf(lines, "i :   register mode available = 1"), 1u);
    EXPECT_EQ(CountOf(lines, "i :   activation state = MBN_ACTIVATION_STATE_ACTIVATED. provider name = internet"),
              1u);
    EXPECT_EQ(CountOf(lines, "h : + CConnectionEventsSink::OnConnectStateChange"), 2u);
    EXPECT_EQ(CountOf(lines, "h : - CConnectionEventsSink::OnConnectStateChange"), 2u);
    EXPECT_EQ(CountOf(lines, "h : + CConnectionEventsSink::OnConnectComplete"), 1u);
    EXPECT_EQ(CountOf(lines, "h : - CConnectionEventsSink::OnDisconnectComplete"), 1u);
    EXPECT_EQ(CountOf(lines, "h : + CRegistrationEventsSink::OnSetRegisterModeComplete"), 1u);
}

TEST_F(MbnSinks, DeviceServicesEventsCarryTheirFields)
{
    OpenModem();
    RecordKeeper keeper;
    manager()->m_device_services_sink->Attach(&keeper);  // behind the manager

    ASSERT_EQ(manager()->SendCommandByATOverMBIM("at+vsar=1,0\r\n"), 0);
    mbn().RaiseCapableInterfaceRemoval("{abc}");
    mbn().WaitIdle();
    mbn().RaiseDeviceServiceNotification(7, {1, 2});
    mbn().WaitIdle();
    mbn().RaiseReadData({3});
    mbn().WaitIdle();
    ASSERT_EQ(manager()->CloseDeviceServices(), 0);
    mbn().WaitIdle();

    CDeviceServicesSink* sink = manager()->m_device_services_sink;
    sink->OnWriteDataComplete(nullptr, static_cast<HRESULT>(0x80004005u), 5);
    sink->OnQuerySupportedCommandsComplete(nullptr, nullptr, S_OK, 6);
    sink->OnOpenDataSessionComplete(nullptr, S_OK, 7);
    sink->OnCloseDataSessionComplete(nullptr, S_OK, 8);
    sink->OnQueryCommandComplete(nullptr, 1, nullptr, S_OK, 9);

    auto records = keeper.Records();
    ASSERT_EQ(records.size(), 10u);
    for (const auto& r : records) {
        EXPECT_EQ(r.source, MBN_EVENT_SOURCE_DEVICE_SERVICES);
    }
    EXPECT_EQ(records[0].service_event, DS_EVENT_SET_COMMAND_COMPLETE);
    EXPECT_TRUE(records[0].hasObject);
    EXPECT_TRUE(records[0].hasData);
    EXPECT_EQ(records[0].status, 0);
    EXPECT_EQ(records[1].service_event, DS_EVENT_INTERFACE_STATE_CHANGE);
    EXPECT_EQ(records[1].interface_id, "{abc}");
    EXPECT_EQ(records[1].interface_state, 1u);
    EXPECT_FALSE(records[1].hasObject);
    EXPECT_EQ(records[2].service_event, DS_EVENT_NOTIFICATION);
    EXPECT_EQ(records[2].event_id, 7u);
    EXPECT_TRUE(records[2].hasData);
    EXPECT_EQ(records[3].service_event, DS_EVENT_READ_DATA);
    EXPECT_TRUE(records[3].hasData);
    EXPECT_EQ(records[4].service_event, DS_EVENT_CLOSE_COMMAND_SESSION_COMPLETE);
    EXPECT_EQ(records[5].service_event, DS_EVENT_WRITE_DATA_COMPLETE);
    EXPECT_EQ(records[5].status, static_cast<HRESULT>(0x80004005u));
    EXPECT_EQ(records[5].request_id, 5u);
    EXPECT_EQ(records[6].service_event, DS_EVENT_QUERY_COMMAND_COMPLETE);
    EXPECT_EQ(records[6].request_id, 6u);
    EXPECT_EQ(records[7].service_event, DS_EVENT_OPEN_DATA_SESSION_COMPLETE);
    EXPECT_EQ(records[8].service_event, DS_EVENT_CLOSE_DATA_SESSION_COMPLETE);
    EXPECT_EQ(records[8].request_id, 8u);
    EXPECT_EQ(records[9].service_event, DS_EVENT_QUERY_COMMAND_COMPLETE);
    manager()->m_device_services_sink->Detach(&keeper);

    auto lines = Lines();
    EXPECT_EQ(CountOf(lines, "h : + CDeviceServicesSink::OnSetCommandComplete"), 1u);
    EXPECT_EQ(CountOf(lines, "h : - CDeviceServicesSink::OnInterfaceStateChange"), 1u);
    EXPECT_EQ(CountOf(lines, "h : + CDeviceServicesSink::OnEventNotification"), 1u);
    EXPECT_EQ(CountOf(lines, "h : + CDeviceServicesSink::OnWriteDataComplete"), 0u);
    EXPECT_EQ(CountOf(lines, "h : - CDeviceServicesSink::OnWriteDataComplete"), 1u);
    EXPECT_FALSE(testsupport::AnyContains(lines, "OnReadData"));
    EXPECT_FALSE(testsupport::AnyContains(lines, "OnQuerySupportedCommandsComplete"));
    EXPECT_EQ(CountOf(lines, "h : + CDeviceServicesSink::OnQueryCommandComplete"), 1u);
    EXPECT_EQ(CountOf(lines, "i :   close command session complete. result = 0x00000000."), 1u);
}
