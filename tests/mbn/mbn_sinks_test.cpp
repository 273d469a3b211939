// The event path: the subject the sinks notify through, the state texts, and
// the sinks themselves.
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "mbn/mbn_sinks.h"
#include "mbn/mbn_state_names.h"
#include "mbn/mbn_text.h"
#include "mbn_manager_fixture.h"
#include "sim/machine.h"

using Mbn = sim::MobileBroadband;

namespace {

class CallObserver : public MbnObserver {
public:
    explicit CallObserver(std::function<void(MbnSubject*, const MbnEventInfo*)> call) : m_call(std::move(call)) {}
    void update(MbnSubject* subject, const MbnEventInfo* info) override { m_call(subject, info); }

private:
    std::function<void(MbnSubject*, const MbnEventInfo*)> m_call;
};

}  // namespace

using MbnSubjectTest = MbnTest;

// Observers are called in order with the subject and the record; a throwing
// one ends the delivery, is logged and leaves the subject usable; Detach
// empties the whole list.
TEST_F(MbnSubjectTest, NotifyCallsObserversInOrderAndSurvivesAThrowingOne)
{
    MbnSubject subject;
    std::vector<uint32_t> calls;
    bool throws = false;
    CallObserver first([&](MbnSubject* from, const MbnEventInfo* info) {
        EXPECT_EQ(from, &subject);
        calls.push_back(100 + info->source);
        if (throws) {
            throw std::runtime_error("observer failed");
        }
    });
    CallObserver second([&](MbnSubject*, const MbnEventInfo* info) { calls.push_back(200 + info->source); });
    subject.Attach(&first);
    subject.Attach(&second);

    MbnEventInfo info;
    info.source = 13;
    subject.Notify(&info);
    subject.Notify(nullptr);  // no record: nobody is called
    EXPECT_EQ(calls, (std::vector<uint32_t>{113, 213}));
    throws = true;
    EXPECT_NO_THROW(subject.Notify(&info));
    EXPECT_EQ(calls, (std::vector<uint32_t>{113, 213, 113}));

    subject.Detach(&second);
    EXPECT_EQ(subject.ObserverCount(), 0u);
    subject.Notify(&info);
    EXPECT_EQ(calls.size(), 3u);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"i :   Notify exception."}));
}

TEST_F(MbnSubjectTest, DetachWaitsForADeliveryInProgress)
{
    std::promise<void> entered;
    std::promise<void> release;
    std::atomic<bool> detached{false};
    CallObserver observer([&](MbnSubject*, const MbnEventInfo*) {
        entered.set_value();
        release.get_future().wait();
        EXPECT_FALSE(detached);
    });
    MbnSubject subject;
    subject.Attach(&observer);
    MbnEventInfo info;
    std::thread notifier([&] { subject.Notify(&info); });
    entered.get_future().wait();
    std::thread detacher([&] {
        subject.Detach(&observer);
        detached = true;
    });
    // Time for the detacher to reach Detach while the delivery is still running.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    release.set_value();
    detacher.join();
    notifier.join();
    EXPECT_TRUE(detached);
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

// Each interface and registration event, in the order of its events interface,
// reaches the observers with its own index and the platform's object; of the
// connection events only the voice call state change does. Each writes its line.
TEST_F(MbnSinks, EachEventIsForwardedWithItsOwnIndexAndLogsItsLine)
{
    ASSERT_EQ(manager()->Init(), 0);
    std::mutex mutex;  // each sink notifies under its own lock
    std::vector<MbnEventInfo> records;
    CallObserver keeper([&](MbnSubject*, const MbnEventInfo* info) {
        std::lock_guard<std::mutex> lock(mutex);
        records.push_back(*info);
    });
    MbnSubject* const subjects[] = {manager()->m_interface_sink, manager()->m_registration_sink,
                                    manager()->m_connection_sink};
    for (MbnSubject* subject : subjects) {
        subject->Attach(&keeper);
    }
    mbn().SetEmergencyMode(true);
    mbn().SetHomeProvider("310410", 1, "Carrier");
    mbn().SetRegisterMode(1);
    for (int k = 0; k < 8; ++k) {
        k == 2 ? mbn().RaiseReadyState(1) : mbn().RaiseInterfaceEvent(static_cast<Mbn::InterfaceEvent>(k));
        mbn().WaitIdle();
    }
    for (int k = 0; k < 4; ++k) {
        k == 1 ? mbn().RaiseRegisterState(7) : mbn().RaiseRegistrationEvent(static_cast<Mbn::RegistrationEvent>(k));
        mbn().WaitIdle();
    }
    for (int k = 0; k < 4; ++k) {
        k == 2 ? mbn().RaiseConnectionState(1, "internet")
               : mbn().RaiseConnectionEvent(static_cast<Mbn::ConnectionEvent>(k));
        mbn().WaitIdle();
    }
    // A failing state query drops only its line.
    mbn().FailStateQueries(true);
    mbn().RaiseReadyState(0);
    mbn().WaitIdle();
    EXPECT_TRUE(TakeTasks().empty());  // the manager ignores these events
    for (MbnSubject* subject : subjects) {
        subject->Detach(&keeper);
    }

    const uint32_t I = MBN_EVENT_SOURCE_INTERFACE, R = MBN_EVENT_SOURCE_REGISTRATION;
    const std::vector<std::pair<uint32_t, uint32_t>> expected = {
        {I, 0}, {I, 1}, {I, 2}, {I, 3}, {I, 4}, {I, 5}, {I, 6}, {I, 7},
        {R, 0}, {R, 1}, {R, 2}, {R, 3}, {MBN_EVENT_SOURCE_CONNECTION, 0}, {I, 2}};
    std::vector<std::pair<uint32_t, uint32_t>> forwarded;
    for (const MbnEventInfo& record : records) {
        forwarded.emplace_back(record.source, record.event_index);
        EXPECT_NE(record.object, nullptr);
    }
    EXPECT_EQ(forwarded, expected);

    auto lines = Lines();
    for (const char* line :
         {"i :   ready state change to MBN_READY_STATE_INITIALIZED", "i :   InEmergencyMode = -1",
          "i :   HomeProviderAvailable. ID = 310410. State = 1. Name = Carrier", "i :   register mode available = 1",
          "i :   register state change to UNKNOWN",
          "i :   activation state = MBN_ACTIVATION_STATE_ACTIVATED. provider name = internet"}) {
        EXPECT_EQ(CountOf(lines, line), 1u) << line;
    }
    for (const char* method :
         {"CInterfaceEventsSink::OnInterfaceCapabilityAvailable", "CInterfaceEventsSink::OnSubscriberInformationChange",
          "CInterfaceEventsSink::OnEmergencyModeChange", "CInterfaceEventsSink::OnHomeProviderAvailable",
          "CInterfaceEventsSink::OnPreferredProvidersChange", "CInterfaceEventsSink::OnSetPreferredProvidersComplete",
          "CInterfaceEventsSink::OnScanNetworkComplete", "CRegistrationEventsSink::OnRegisterModeAvailable",
          "CRegistrationEventsSink::OnRegisterStateChange", "CRegistrationEventsSink::OnPacketServiceStateChange",
          "CRegistrationEventsSink::OnSetRegisterModeComplete", "CConnectionEventsSink::OnConnectComplete",
          "CConnectionEventsSink::OnDisconnectComplete", "CConnectionEventsSink::OnConnectStateChange",
          "CConnectionEventsSink::OnVoiceCallStateChange"}) {
        EXPECT_EQ(CountOf(lines, std::string("h : + ") + method), 1u) << method;
        EXPECT_EQ(CountOf(lines, std::string("h : - ") + method), 1u) << method;
    }
    EXPECT_EQ(CountOf(lines, "h : + CInterfaceEventsSink::OnReadyStateChange"), 2u);
    EXPECT_FALSE(testsupport::AnyContains(lines, "MBN_READY_STATE_OFF"));
}

// (Each sink's own events interface is what the simulated Advise asks for; the
// foreign ones are refused by the code the sinks share.)
TEST_F(MbnSinks, DeviceServicesEventsCarryTheirFields)
{
    OpenModem();  // for a device service object
    CDeviceServicesSink* sink = new CDeviceServicesSink();
    EXPECT_EQ(sink->AddRef(), 1u);
    void* object = sink;
    EXPECT_EQ(sink->QueryInterface(IID_IMbnInterfaceEvents, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    std::vector<MbnEventInfo> records;
    CallObserver keeper([&records](MbnSubject*, const MbnEventInfo* info) { records.push_back(*info); });
    sink->Attach(&keeper);
    SAFEARRAY* data = SafeArrayCreateVector(VT_UI1, 0, 1);
    IMbnDeviceService* service = manager()->m_device_service.load();
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
    EXPECT_EQ(sink->Release(), 0u);

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
        const MbnEventInfo& r = records[i];
        EXPECT_EQ(std::make_tuple(r.service_event, r.status, r.request_id, r.data != nullptr), expected[i]) << i;
        EXPECT_EQ(r.source, MBN_EVENT_SOURCE_DEVICE_SERVICES);
        EXPECT_EQ(r.object != nullptr, i != 9) << i;
    }
    EXPECT_EQ(records[4].event_id, 7u);
    EXPECT_EQ(records[9].interface_id, "{abc}");
    EXPECT_EQ(records[9].interface_state, 1u);

    auto lines = Lines();
    EXPECT_EQ(CountOf(lines, "i :   close command session complete. result = 0x0000000b."), 1u);
    // OnWriteDataComplete writes its exit line only, two methods nothing; the
    // manager's own sink ran OnOpenCommandSessionComplete for the open.
    EXPECT_EQ(CountOf(lines, "h : + CDeviceServicesSink::OnWriteDataComplete"), 0u);
    EXPECT_EQ(CountOf(lines, "h : - CDeviceServicesSink::OnWriteDataComplete"), 1u);
    EXPECT_FALSE(testsupport::AnyContains(lines, "OnReadData"));
    EXPECT_FALSE(testsupport::AnyContains(lines, "OnQuerySupportedCommandsComplete"));
    for (const std::string method : {"OnOpenCommandSessionComplete", "OnCloseCommandSessionComplete",
                                     "OnSetCommandComplete", "OnQueryCommandComplete", "OnEventNotification",
                                     "OnOpenDataSessionComplete", "OnCloseDataSessionComplete",
                                     "OnInterfaceStateChange"}) {
        const size_t times = method == "OnOpenCommandSessionComplete" ? 2 : 1;
        EXPECT_EQ(CountOf(lines, "h : + CDeviceServicesSink::" + method), times) << method;
        EXPECT_EQ(CountOf(lines, "h : - CDeviceServicesSink::" + method), times) << method;
    }
}
