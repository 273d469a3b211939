// The simulated Mobile Broadband API driven through a test sink: sessions, AT
// commands over the vendor device service, what the platform refuses, faults
// at each step, and the latitude the platform has.
#include <future>
#include <thread>

#include "mbn_fixture.h"

namespace {

const std::string kQueryLte3 = "at+vcfg=\"sarcfg\",\"LTE\",3\r\n";
const std::string kLte3Reply = "\r\n+VCFG: \"sarcfg\",\"LTE\",23,2,3\r\n\r\nOK\r\n";

using CommandFault = sim::MobileBroadband::CommandFault;
using SessionFault = sim::MobileBroadband::SessionFault;

ULONG RefCount(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

CommandFault Fault(CommandFault::Kind kind, HRESULT hr = E_FAIL, const std::string& match = "")
{
    CommandFault fault;
    fault.kind = kind;
    fault.hr = hr;
    fault.match = match;
    fault.times = 1;
    return fault;
}

TEST_F(MbnClientTest, SessionAndCommandsCompleteLaterThroughTheSink)
{
    AdviseAll();
    ASSERT_EQ(OpenService(), S_OK);
    ULONG openId = 0;
    ASSERT_EQ(m_service->OpenCommandSession(&openId), S_OK);
    WaitIdle();
    auto opened = EventsNamed("OpenCommandSession");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].status, S_OK);
    EXPECT_EQ(opened[0].requestId, openId);
    EXPECT_TRUE(mbn().CommandSessionOpen());

    ULONG setId = 0;
    ASSERT_EQ(SendAt("at+vcfg=\"sarcfg\",\"LTE\",23,2,3,3\r\n", &setId), S_OK);
    ASSERT_EQ(SendAt(kQueryLte3), S_OK);
    WaitIdle();
    auto replies = EventsNamed("SetCommand");
    ASSERT_EQ(replies.size(), 2u);
    // The two completions may come in either order, like on a real MTA.
    const bool setFirst = replies[0].requestId == setId;
    EXPECT_EQ(replies[setFirst ? 0 : 1].data, AtBytes("\r\nOK\r\n"));
    EXPECT_EQ(replies[setFirst ? 1 : 0].data, AtBytes(kLte3Reply));
    EXPECT_EQ(replies[0].commandId, Mbn::kAtCommandId);
    auto transcript = mbn().Transcript();
    ASSERT_EQ(transcript.size(), 2u);
    EXPECT_EQ(transcript[1].command, kQueryLte3);
    EXPECT_EQ(transcript[1].reply, kLte3Reply);

    ULONG closeId = 0;
    ASSERT_EQ(m_service->CloseCommandSession(&closeId), S_OK);
    WaitIdle();
    EXPECT_EQ(EventsNamed("CloseCommandSession").at(0).requestId, closeId);
    EXPECT_FALSE(mbn().CommandSessionOpen());
}

TEST_F(MbnClientTest, TheCommandSessionBelongsToTheObjectThatOpenedIt)
{
    AdviseAll();
    IMbnDeviceService* other = nullptr;
    ASSERT_EQ(OpenService(), S_OK);
    ASSERT_EQ(GetService(&other), S_OK);
    ASSERT_NE(other, m_service);  // a new object for each request

    ULONG id = 0;
    EXPECT_EQ(SendAt(kQueryLte3), sim::hr::InvalidState);
    EXPECT_EQ(m_service->CloseCommandSession(&id), sim::hr::InvalidState);
    ASSERT_EQ(OpenSession(), S_OK);
    EXPECT_EQ(m_service->OpenCommandSession(&id), sim::hr::AlreadyInitialized);
    EXPECT_EQ(SendAt(kQueryLte3, nullptr, other), sim::hr::InvalidState);
    EXPECT_EQ(other->CloseCommandSession(&id), sim::hr::InvalidState);
    EXPECT_EQ(OpenSession(other), S_OK);
    EXPECT_EQ(SendAt(kQueryLte3, nullptr, other), S_OK);

    // A released object's session ends with it.
    other->Release();
    ASSERT_EQ(m_service->CloseCommandSession(&id), S_OK);
    WaitIdle();
    EXPECT_FALSE(mbn().CommandSessionOpen());
    EXPECT_EQ(EventsNamed("OpenCommandSession").size(), 2u);
}

TEST_F(MbnClientTest, SetCommandChecksPayloadAndCommandId)
{
    AdviseAll();
    ASSERT_EQ(OpenService(), S_OK);
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
    ASSERT_EQ(SendBytes(99, AtBytes("")), S_OK);
    WaitIdle();
    auto replies = EventsNamed("SetCommand");
    ASSERT_EQ(replies.size(), 2u);
    for (const SinkEvent& reply : replies) {
        EXPECT_EQ(reply.status, E_INVALIDARG);
        EXPECT_FALSE(reply.hadData);
    }
    EXPECT_TRUE(mbn().modem().PinCommands().empty());
}

TEST_F(MbnClientTest, ContextAndDeviceServiceFaults)
{
    EXPECT_EQ(GetService(&m_service, "{00000000-0000-0000-0000-000000000000}"), sim::hr::NotFound);
    mbn().FailDeviceServicesContext(1, E_ACCESSDENIED);
    EXPECT_EQ(OpenService(), E_ACCESSDENIED);
    mbn().FailDeviceService(1, sim::hr::Ok);  // success without an object
    EXPECT_EQ(OpenService(), S_OK);
    EXPECT_EQ(m_service, nullptr);
    mbn().FailDeviceService(1);
    EXPECT_EQ(OpenService(), sim::hr::NotFound);
    // Ids are GUIDs: letter case does not matter.
    std::string lower = mbn().InterfaceId();
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    EXPECT_EQ(GetService(&m_service, lower), S_OK);
}

TEST_F(MbnClientTest, SessionFaults)
{
    AdviseAll();
    ASSERT_EQ(OpenService(), S_OK);
    mbn().InjectOpenSessionFault(SessionFault::CallFails, 1, E_ACCESSDENIED);
    mbn().InjectOpenSessionFault(SessionFault::ErrorStatus, 1, E_FAIL);
    mbn().InjectOpenSessionFault(SessionFault::NoCompletion, 1);

    ULONG id = 0;
    EXPECT_EQ(m_service->OpenCommandSession(&id), E_ACCESSDENIED);
    EXPECT_EQ(OpenSession(), S_OK);  // completes with an error status, the session stays closed
    EXPECT_EQ(EventsNamed("OpenCommandSession").at(0).status, E_FAIL);
    EXPECT_FALSE(mbn().CommandSessionOpen());
    EXPECT_EQ(OpenSession(), S_OK);  // opens, but nobody is told
    EXPECT_EQ(EventsNamed("OpenCommandSession").size(), 1u);
    EXPECT_TRUE(mbn().CommandSessionOpen());

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
    mbn().modem().SetSar("LTE", 3, sim::SarValues{23, 2, 3});

    mbn().InjectCommandFault(Fault(CommandFault::Kind::CallFails, E_FAIL, "\"GSM\""));
    EXPECT_EQ(SendAt(kQueryLte3), S_OK);
    EXPECT_EQ(SendAt("at+vcfg=\"sarcfg\",\"GSM\",30,1,1\r\n"), E_FAIL);
    EXPECT_FALSE(mbn().Transcript().back().accepted);
    WaitIdle();

    // Lost completion: the modem still carried the command out.
    mbn().InjectCommandFault(Fault(CommandFault::Kind::NoCompletion));
    EXPECT_EQ(SendAt("at+vcfg=\"sarcfg\",\"LTE\",20,1,1,3\r\n"), S_OK);
    WaitIdle();
    EXPECT_EQ(EventsNamed("SetCommand").size(), 1u);
    EXPECT_EQ(mbn().modem().Sar("LTE", 3), (sim::SarValues{20, 1, 1}));

    // Error status: not carried out, no data.
    mbn().InjectCommandFault(Fault(CommandFault::Kind::ErrorStatus, E_UNEXPECTED));
    EXPECT_EQ(SendAt("at+vcfg=\"sarcfg\",\"LTE\",10,1,1,3\r\n"), S_OK);
    WaitIdle();
    EXPECT_EQ(EventsNamed("SetCommand").back().status, E_UNEXPECTED);
    EXPECT_FALSE(EventsNamed("SetCommand").back().hadData);
    EXPECT_EQ(mbn().modem().Sar("LTE", 3), (sim::SarValues{20, 1, 1}));

    // Status 0 without a data array.
    mbn().InjectCommandFault(Fault(CommandFault::Kind::NoData));
    EXPECT_EQ(SendAt(kQueryLte3), S_OK);
    WaitIdle();
    EXPECT_EQ(EventsNamed("SetCommand").back().status, S_OK);
    EXPECT_FALSE(EventsNamed("SetCommand").back().hadData);

    // Late: arrives after the delay; WaitIdle includes scheduled deliveries.
    CommandFault late = Fault(CommandFault::Kind::LateCompletion);
    late.lateMs = 30;
    mbn().InjectCommandFault(late);
    ULONG lateId = 0;
    EXPECT_EQ(SendAt(kQueryLte3, &lateId), S_OK);
    WaitIdle();
    EXPECT_EQ(EventsNamed("SetCommand").back().requestId, lateId);
}

TEST_F(MbnClientTest, SameObjectsModeHandsBackTheLiveObjectWithANewReference)
{
    mbn().HandOutSameObjects(true);
    IMbnDeviceService* again = nullptr;
    ASSERT_EQ(OpenService(), S_OK);
    ASSERT_EQ(GetService(&again), S_OK);
    EXPECT_EQ(again, m_service);
    EXPECT_EQ(RefCount(m_service), 2u);
    again->Release();

    // Once released, or once the modem has left, a new object comes.
    IMbnDeviceService* first = m_service;
    m_service->AddRef();
    mbn().RemoveModem();
    mbn().ReturnModem();
    WaitIdle();
    ASSERT_EQ(OpenService(), S_OK);
    EXPECT_NE(m_service, first);
    first->Release();
}

TEST_F(MbnClientTest, SessionCompletionsCanArriveBeforeTheCallReturns)
{
    AdviseAll();
    mbn().CompleteSessionCallsBeforeReturn(true);
    ASSERT_EQ(OpenService(), S_OK);
    ULONG id = 0;
    ASSERT_EQ(m_service->OpenCommandSession(&id), S_OK);
    EXPECT_EQ(EventsNamed("OpenCommandSession").size(), 1u);
    ASSERT_EQ(m_service->CloseCommandSession(&id), S_OK);
    EXPECT_EQ(EventsNamed("CloseCommandSession").size(), 1u);
    EXPECT_NE(m_sink->Events().back().thread, std::this_thread::get_id());  // on a COM worker thread
}

TEST_F(MbnClientTest, MethodsTheServiceNeverCallsAnswerNotImplemented)
{
    ASSERT_EQ(OpenService(), S_OK);
    ULONG id = 0;
    SAFEARRAY* items = nullptr;
    BOOL open = FALSE;
    IMbnInterface* object = nullptr;
    EXPECT_EQ(m_interfaceManager->GetInterface(L"{x}", &object), E_NOTIMPL);
    EXPECT_EQ(m_interfaceManager->GetInterfaces(&items), E_NOTIMPL);
    EXPECT_EQ(m_service->QuerySupportedCommands(&id), E_NOTIMPL);
    EXPECT_EQ(m_service->QueryCommand(Mbn::kAtCommandId, nullptr, &id), E_NOTIMPL);
    EXPECT_EQ(m_service->OpenDataSession(&id), E_NOTIMPL);
    EXPECT_EQ(m_service->get_IsCommandSessionOpen(&open), E_NOTIMPL);
    IConnectionPointContainer* container = nullptr;
    m_interfaceManager->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    IConnectionPoint* point = nullptr;
    container->FindConnectionPoint(IID_IMbnInterfaceEvents, &point);
    IID iid{};
    EXPECT_EQ(point->GetConnectionInterface(&iid), E_NOTIMPL);
    point->Release();
    container->Release();
}

TEST_F(MbnClientTest, TheLastCoUninitializeOfTheProcessDisconnectsEverything)
{
    AdviseAll();
    ASSERT_EQ(OpenService(), S_OK);
    std::promise<void> entered;
    std::promise<void> leave;
    std::thread other([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        entered.set_value();
        leave.get_future().wait();
        CoUninitialize();
    });
    entered.get_future().wait();
    CoUninitialize();  // the other thread keeps the apartment
    EXPECT_EQ(OpenSession(), S_OK);
    leave.set_value();
    other.join();

    ULONG id = 0;
    EXPECT_EQ(m_service->CloseCommandSession(&id), RPC_E_DISCONNECTED);
    EXPECT_FALSE(mbn().CommandSessionOpen());
    EXPECT_EQ(OpenService(), RPC_E_DISCONNECTED);
    EXPECT_EQ(m_advised.at(0).point->Unadvise(m_advised.at(0).cookie), RPC_E_DISCONNECTED);
    EXPECT_EQ(m_sink->RefCount(), 1u);  // the platform let go of the sink
    mbn().RaiseCapableInterfaceArrival();
    WaitIdle();
    EXPECT_TRUE(EventsNamed("CapableArrival").empty());
    IMbnInterfaceManager* manager = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_MbnInterfaceManager, nullptr, CLSCTX_ALL, IID_IMbnInterfaceManager,
                               reinterpret_cast<void**>(&manager)),
              CO_E_NOTINITIALIZED);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);  // for the tear-down
}

TEST_F(MbnClientTest, ResetStopsDeliveriesAndDisconnectsEverythingHandedOut)
{
    AdviseAll();
    ASSERT_EQ(OpenService(), S_OK);
    ASSERT_EQ(OpenSession(), S_OK);
    CommandFault late = Fault(CommandFault::Kind::LateCompletion);
    late.lateMs = 600000;  // never delivered: the reset drops it
    mbn().InjectCommandFault(late);
    ASSERT_EQ(SendAt(kQueryLte3), S_OK);
    const size_t before = m_sink->Events().size();

    machine().Reset();
    EXPECT_TRUE(mbn().WaitIdle());
    EXPECT_EQ(m_sink->Events().size(), before);
    EXPECT_EQ(m_sink->RefCount(), 1u);  // the connections gave their references back
    ULONG id = 0;
    EXPECT_EQ(m_service->OpenCommandSession(&id), RPC_E_DISCONNECTED);
    // The reset also left COM; come back in for the fixture's tear-down.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
}

}  // namespace
