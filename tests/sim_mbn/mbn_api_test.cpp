// The simulated Mobile Broadband API driven through a test sink: sessions, AT
// commands over the vendor device service, faults at each step, and the
// events raised on demand.
#include "mbn_fixture.h"

namespace {

const std::string kZeros(4, '\0');
const std::string kQueryLte3 = "at+vcfg=\"sarcfg\",\"LTE\",3\r\n";

using CommandFault = sim::MobileBroadband::CommandFault;
using SessionFault = sim::MobileBroadband::SessionFault;

TEST_F(MbnClientTest, SessionAndCommandCompleteAsynchronouslyThroughTheSink)
{
    AdviseAll();
    ASSERT_EQ(OpenService(), S_OK);
    ULONG openId = 0;
    ASSERT_EQ(m_service->OpenCommandSession(&openId), S_OK);
    EXPECT_NE(openId, 0u);
    WaitIdle();
    auto opened = EventsNamed("OpenCommandSession");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].status, S_OK);
    EXPECT_EQ(opened[0].requestId, openId);
    EXPECT_EQ(opened[0].interfaceId, mbn().InterfaceId());
    EXPECT_TRUE(mbn().CommandSessionOpen());

    ULONG setId = 0;
    ASSERT_EQ(SendAt("at+vcfg=\"sarcfg\",\"LTE\",23,2,3,3\r\n", &setId), S_OK);
    ASSERT_EQ(SendAt(kQueryLte3), S_OK);
    WaitIdle();
    auto replies = EventsNamed("SetCommand");
    ASSERT_EQ(replies.size(), 2u);
    for (const SinkEvent& reply : replies) {
        EXPECT_EQ(reply.status, S_OK);
        EXPECT_EQ(reply.number, Mbn::kAtCommandId);
        ASSERT_TRUE(reply.hadData);
    }
    // The two completions may come in either order, like on a real MTA.
    const SinkEvent& set = replies[0].requestId == setId ? replies[0] : replies[1];
    const SinkEvent& query = replies[0].requestId == setId ? replies[1] : replies[0];
    EXPECT_EQ(set.data, kZeros + "\r\nOK\r\n");
    EXPECT_EQ(query.data, kZeros + "\r\n+VCFG: \"sarcfg\",\"LTE\",23,2,3\r\n\r\nOK\r\n");

    auto transcript = mbn().Transcript();
    ASSERT_EQ(transcript.size(), 2u);
    EXPECT_EQ(transcript[1].command, kQueryLte3);
    EXPECT_TRUE(transcript[1].accepted);
    EXPECT_TRUE(transcript[1].completionSent);
    EXPECT_EQ(transcript[1].reply, "\r\n+VCFG: \"sarcfg\",\"LTE\",23,2,3\r\n\r\nOK\r\n");

    ULONG closeId = 0;
    ASSERT_EQ(m_service->CloseCommandSession(&closeId), S_OK);
    WaitIdle();
    EXPECT_EQ(EventsNamed("CloseCommandSession").size(), 1u);
    EXPECT_FALSE(mbn().CommandSessionOpen());
    EXPECT_EQ(mbn().OpenSessionCalls(), 1);
    EXPECT_EQ(mbn().CloseSessionCalls(), 1);
}

TEST_F(MbnClientTest, SetCommandChecksSessionPayloadAndCommandId)
{
    AdviseAll();
    ASSERT_EQ(OpenService(), S_OK);
    EXPECT_EQ(SendAt(kQueryLte3), sim::hr::InvalidState);  // no session yet
    ASSERT_EQ(OpenSession(), S_OK);

    ULONG id = 0;
    EXPECT_EQ(m_service->SetCommand(Mbn::kAtCommandId, nullptr, &id), E_INVALIDARG);
    SAFEARRAY* words = SafeArrayCreateVector(VT_I4, 0, 2);
    EXPECT_EQ(m_service->SetCommand(Mbn::kAtCommandId, words, &id), E_INVALIDARG);
    EXPECT_EQ(m_service->SetCommand(Mbn::kAtCommandId, words, nullptr), E_POINTER);
    SafeArrayDestroy(words);
    EXPECT_EQ(SendBytes(Mbn::kAtCommandId, std::string(5000, 'a')), E_INVALIDARG);

    // Accepted, but answered with an error status: no zero header, or an unknown command id.
    ASSERT_EQ(SendBytes(Mbn::kAtCommandId, "at+vsar=2,1\r\n"), S_OK);
    ASSERT_EQ(SendBytes(99, kZeros), S_OK);
    WaitIdle();
    auto replies = EventsNamed("SetCommand");
    ASSERT_EQ(replies.size(), 2u);
    for (const SinkEvent& reply : replies) {
        EXPECT_EQ(reply.status, E_INVALIDARG);
        EXPECT_FALSE(reply.hadData);
    }
    EXPECT_TRUE(mbn().modem().PinCommands().empty());

    // An empty AT text still reaches the modem (and is an error there).
    ASSERT_EQ(SendAt(""), S_OK);
    WaitIdle();
    EXPECT_EQ(EventsNamed("SetCommand").back().data, kZeros + "\r\nERROR\r\n");
}

TEST_F(MbnClientTest, ContextAndDeviceServiceFaults)
{
    EXPECT_EQ(OpenService("{00000000-0000-0000-0000-000000000000}"), sim::hr::NotFound);
    mbn().FailDeviceServicesContext(1, E_ACCESSDENIED);
    EXPECT_EQ(OpenService(), E_ACCESSDENIED);
    EXPECT_EQ(m_context, nullptr);
    EXPECT_EQ(OpenService(), S_OK);

    mbn().FailDeviceService(1, sim::hr::Ok);  // success without an object
    EXPECT_EQ(OpenService(), S_OK);
    EXPECT_EQ(m_service, nullptr);
    mbn().FailDeviceService(2);
    EXPECT_EQ(OpenService(), sim::hr::NotFound);
    EXPECT_EQ(OpenService(), sim::hr::NotFound);
    EXPECT_EQ(OpenService(), S_OK);
    ASSERT_NE(m_service, nullptr);

    IMbnDeviceService* other = reinterpret_cast<IMbnDeviceService*>(0x1);
    BSTR wrongId = SysAllocString(L"{11111111-2222-3333-4444-555555555555}");
    EXPECT_EQ(m_context->GetDeviceService(wrongId, &other), sim::hr::NotFound);
    EXPECT_EQ(other, nullptr);
    SysFreeString(wrongId);

    // Ids are GUIDs: letter case does not matter.
    std::string lower = mbn().InterfaceId();
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    EXPECT_EQ(OpenService(lower), S_OK);
}

TEST_F(MbnClientTest, OpenSessionFaults)
{
    AdviseAll();
    ASSERT_EQ(OpenService(), S_OK);
    mbn().InjectOpenSessionFault(SessionFault::CallFails, 1, E_ACCESSDENIED);
    mbn().InjectOpenSessionFault(SessionFault::ErrorStatus, 1, E_FAIL);
    mbn().InjectOpenSessionFault(SessionFault::NoCompletion, 1);

    ULONG id = 0;
    EXPECT_EQ(m_service->OpenCommandSession(&id), E_ACCESSDENIED);
    EXPECT_EQ(OpenSession(), S_OK);  // completes with an error status, session stays closed
    auto opened = EventsNamed("OpenCommandSession");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].status, E_FAIL);
    EXPECT_FALSE(mbn().CommandSessionOpen());

    EXPECT_EQ(OpenSession(), S_OK);  // opens, but nobody is told
    EXPECT_EQ(EventsNamed("OpenCommandSession").size(), 1u);
    EXPECT_TRUE(mbn().CommandSessionOpen());
    EXPECT_EQ(mbn().OpenSessionCalls(), 3);

    mbn().InjectCloseSessionFault(SessionFault::NoCompletion, 1);
    EXPECT_EQ(m_service->CloseCommandSession(&id), S_OK);
    WaitIdle();
    EXPECT_TRUE(EventsNamed("CloseCommandSession").empty());
    EXPECT_FALSE(mbn().CommandSessionOpen());
}

TEST_F(MbnClientTest, CommandFaultsApplyToMatchingCommands)
{
    AdviseAll();
    ASSERT_EQ(OpenService(), S_OK);
    ASSERT_EQ(OpenSession(), S_OK);

    CommandFault refuse;
    refuse.kind = CommandFault::Kind::CallFails;
    refuse.match = "\"GSM\"";
    refuse.times = 1;
    mbn().InjectCommandFault(refuse);
    EXPECT_EQ(SendAt(kQueryLte3), S_OK);
    EXPECT_EQ(SendAt("at+vcfg=\"sarcfg\",\"GSM\",30,1,1\r\n"), E_FAIL);
    EXPECT_EQ(SendAt("at+vcfg=\"sarcfg\",\"GSM\",30,1,1\r\n"), S_OK);
    WaitIdle();
    EXPECT_EQ(EventsNamed("SetCommand").size(), 2u);
    auto transcript = mbn().Transcript();
    ASSERT_EQ(transcript.size(), 3u);
    EXPECT_FALSE(transcript[1].accepted);
    EXPECT_EQ(transcript[1].callResult, E_FAIL);
    EXPECT_EQ(mbn().modem().SetCommandCount(), 1);

    // Lost completion: the modem still carried the command out.
    CommandFault lost;
    lost.kind = CommandFault::Kind::NoCompletion;
    lost.times = 1;
    mbn().InjectCommandFault(lost);
    EXPECT_EQ(SendAt("at+vcfg=\"sarcfg\",\"LTE\",20,1,1,3\r\n"), S_OK);
    WaitIdle();
    EXPECT_EQ(EventsNamed("SetCommand").size(), 2u);
    EXPECT_EQ(mbn().modem().Sar("LTE", 3), (sim::SarValues{20, 1, 1}));
    EXPECT_FALSE(mbn().Transcript().back().completionSent);

    // Error status: not carried out, no data.
    CommandFault failed;
    failed.kind = CommandFault::Kind::ErrorStatus;
    failed.hr = E_UNEXPECTED;
    failed.times = 1;
    mbn().InjectCommandFault(failed);
    EXPECT_EQ(SendAt("at+vcfg=\"sarcfg\",\"LTE\",10,1,1,3\r\n"), S_OK);
    WaitIdle();
    SinkEvent last = EventsNamed("SetCommand").back();
    EXPECT_EQ(last.status, E_UNEXPECTED);
    EXPECT_FALSE(last.hadData);
    EXPECT_EQ(mbn().modem().Sar("LTE", 3), (sim::SarValues{20, 1, 1}));

    // Status 0 without a data array.
    CommandFault noData;
    noData.kind = CommandFault::Kind::NoData;
    noData.times = 1;
    mbn().InjectCommandFault(noData);
    EXPECT_EQ(SendAt(kQueryLte3), S_OK);
    WaitIdle();
    last = EventsNamed("SetCommand").back();
    EXPECT_EQ(last.status, S_OK);
    EXPECT_FALSE(last.hadData);

    // Late: arrives after the delay; WaitIdle includes scheduled deliveries.
    CommandFault late;
    late.kind = CommandFault::Kind::LateCompletion;
    late.lateMs = 30;
    late.times = 1;
    mbn().InjectCommandFault(late);
    ULONG lateId = 0;
    EXPECT_EQ(SendAt(kQueryLte3, &lateId), S_OK);
    WaitIdle();
    last = EventsNamed("SetCommand").back();
    EXPECT_EQ(last.requestId, lateId);
    EXPECT_EQ(last.data, kZeros + "\r\n+VCFG: \"sarcfg\",\"LTE\",20,1,1\r\n\r\nOK\r\n");
}

TEST_F(MbnClientTest, ReplyFaultsReachTheSinkBehindTheZeroHeader)
{
    AdviseAll();
    ASSERT_EQ(OpenService(), S_OK);
    ASSERT_EQ(OpenSession(), S_OK);
    mbn().modem().InjectReplyFault(sim::ReplyFault::Oversized, "", 1, 2000);
    ASSERT_EQ(SendAt(kQueryLte3), S_OK);
    WaitIdle();
    SinkEvent reply = EventsNamed("SetCommand").back();
    EXPECT_EQ(reply.data.size(), 2004u);
    EXPECT_EQ(reply.data.compare(0, 4, kZeros), 0);
}

TEST_F(MbnClientTest, AdviseFailsPerEventsInterface)
{
    mbn().FailAdvise(Events::DeviceServices, 1);
    mbn().FailAdvise(Events::Registration, -1, CONNECT_E_ADVISELIMIT);
    AdviseAll();
    EXPECT_EQ(m_advised.size(), 3u);
    EXPECT_EQ(mbn().AdvisedSinks(Events::DeviceServices), 0u);
    EXPECT_EQ(mbn().AdvisedSinks(Events::Connection), 1u);
    EXPECT_EQ(m_sink->RefCount(), 4u);  // ours and one per advised connection
    UnadviseAll();
    AdviseAll();  // the device-services failure was for one call only
    EXPECT_EQ(m_advised.size(), 4u);
    EXPECT_EQ(mbn().AdvisedSinks(Events::DeviceServices), 1u);
    EXPECT_EQ(mbn().AdvisedSinks(Events::Registration), 0u);
}

TEST_F(MbnClientTest, EventsOnDemandCarryTheStatesTheSinksQuery)
{
    AdviseAll();
    mbn().RaiseReadyState(MBN_READY_STATE_BAD_SIM);
    mbn().RaiseRegisterState(7);
    mbn().RaiseConnectionState(MBN_ACTIVATION_STATE_DEACTIVATED, "Work");
    mbn().RaiseVoiceCallState(MBN_VOICE_CALL_STATE_IN_PROGRESS);
    mbn().SetEmergencyMode(true);
    mbn().RaiseInterfaceEvent(Mbn::InterfaceEvent::EmergencyModeChange);
    mbn().SetHomeProvider("310260", 3, "Carrier");
    mbn().RaiseInterfaceEvent(Mbn::InterfaceEvent::HomeProviderAvailable);
    mbn().RaiseRegistrationEvent(Mbn::RegistrationEvent::RegisterModeAvailable);
    WaitIdle();
    EXPECT_EQ(EventsNamed("ReadyStateChange").at(0).number, static_cast<ULONG>(MBN_READY_STATE_BAD_SIM));
    EXPECT_EQ(EventsNamed("ReadyStateChange").at(0).interfaceId, mbn().InterfaceId());
    EXPECT_EQ(EventsNamed("RegisterStateChange").at(0).number, 7u);
    EXPECT_EQ(EventsNamed("ConnectStateChange").at(0).number, static_cast<ULONG>(MBN_ACTIVATION_STATE_DEACTIVATED));
    EXPECT_EQ(EventsNamed("ConnectStateChange").at(0).data, "Work");
    EXPECT_EQ(EventsNamed("VoiceCallStateChange").at(0).number, 1u);
    EXPECT_EQ(EventsNamed("EmergencyModeChange").at(0).number, 1u);
    EXPECT_EQ(EventsNamed("HomeProviderAvailable").at(0).data, "310260/Carrier");
    EXPECT_EQ(EventsNamed("RegisterModeAvailable").at(0).number, static_cast<ULONG>(MBN_REGISTER_MODE_AUTOMATIC));

    mbn().FailStateQueries(true);
    mbn().RaiseInterfaceEvent(Mbn::InterfaceEvent::ReadyStateChange);
    mbn().RaiseConnectionEvent(Mbn::ConnectionEvent::ConnectStateChange);
    WaitIdle();
    EXPECT_EQ(EventsNamed("ReadyStateChange").at(1).status, E_FAIL);
    EXPECT_EQ(EventsNamed("ConnectStateChange").at(1).status, E_FAIL);
}

TEST_F(MbnClientTest, ArrivalRemovalAndDeviceServiceEventsOnDemand)
{
    AdviseAll();
    mbn().RaiseInterfaceArrival();
    WaitIdle();
    mbn().RaiseCapableInterfaceRemoval("{OTHER}");
    WaitIdle();
    mbn().RaiseDeviceServiceNotification(5, {1, 2});
    mbn().RaiseReadData({7});
    mbn().RaiseInterfaceRemoval();
    mbn().RaiseCapableInterfaceArrival();
    WaitIdle();
    EXPECT_EQ(EventsNamed("InterfaceArrival").at(0).interfaceId, mbn().InterfaceId());
    EXPECT_EQ(EventsNamed("CapableRemoval").at(0).interfaceId, "{OTHER}");
    EXPECT_EQ(EventsNamed("CapableRemoval").at(0).number, 1u);
    EXPECT_EQ(EventsNamed("CapableArrival").at(0).interfaceId, mbn().InterfaceId());
    EXPECT_EQ(EventsNamed("EventNotification").at(0).number, 5u);
    EXPECT_EQ(EventsNamed("EventNotification").at(0).data, std::string("\x01\x02", 2));
    EXPECT_EQ(EventsNamed("ReadData").at(0).data, "\x07");
    EXPECT_EQ(EventsNamed("InterfaceRemoval").size(), 1u);
    EXPECT_TRUE(mbn().ModemPresent());  // events on demand leave the modem where it is
}

TEST_F(MbnClientTest, UnadvisedSinksHearNothingAndEverySinkOfTheClassHearsEvents)
{
    AdviseAll();
    // A second device services manager with a sink of its own.
    IMbnDeviceServicesManager* second = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_MbnDeviceServicesManager, nullptr, CLSCTX_ALL, IID_IMbnDeviceServicesManager,
                               reinterpret_cast<void**>(&second)),
              S_OK);
    IConnectionPointContainer* container = nullptr;
    second->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    IConnectionPoint* point = nullptr;
    container->FindConnectionPoint(IID_IMbnDeviceServicesEvents, &point);
    TestSink* other = new TestSink;
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(static_cast<IMbnDeviceServicesEvents*>(other), &cookie), S_OK);

    mbn().RaiseCapableInterfaceArrival();
    WaitIdle();
    EXPECT_EQ(EventsNamed("CapableArrival").size(), 1u);
    EXPECT_EQ(other->Names(), std::vector<std::string>{"CapableArrival"});

    UnadviseAll();
    mbn().RaiseCapableInterfaceArrival();
    WaitIdle();
    EXPECT_EQ(EventsNamed("CapableArrival").size(), 1u);
    EXPECT_EQ(other->Names().size(), 2u);

    point->Unadvise(cookie);
    point->Release();
    container->Release();
    second->Release();
    EXPECT_EQ(other->Release(), 0u);
}

TEST_F(MbnClientTest, ResetStopsDeliveriesAndDisconnectsEverythingHandedOut)
{
    AdviseAll();
    ASSERT_EQ(OpenService(), S_OK);
    ASSERT_EQ(OpenSession(), S_OK);
    CommandFault late;
    late.kind = CommandFault::Kind::LateCompletion;
    late.lateMs = 600000;  // never delivered: the reset drops it
    mbn().InjectCommandFault(late);
    ASSERT_EQ(SendAt(kQueryLte3), S_OK);
    const size_t before = m_sink->Events().size();

    machine().Reset();
    EXPECT_TRUE(mbn().WaitIdle());
    EXPECT_EQ(m_sink->Events().size(), before);
    EXPECT_EQ(m_sink->RefCount(), 1u);  // the connections gave their references back
    EXPECT_TRUE(mbn().Transcript().empty());

    ULONG id = 0;
    EXPECT_EQ(m_service->OpenCommandSession(&id), RPC_E_DISCONNECTED);
    IConnectionPoint* point = m_advised.at(0).point;
    EXPECT_EQ(point->Unadvise(m_advised.at(0).cookie), CONNECT_E_NOCONNECTION);
    DWORD cookie = 0;
    EXPECT_EQ(point->Advise(static_cast<IMbnDeviceServicesEvents*>(m_sink), &cookie), RPC_E_DISCONNECTED);
    // The reset also left COM; come back in for the fixture's tear-down.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
}

}  // namespace
