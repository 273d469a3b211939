// The simulated Mobile Broadband API driven through a test sink: what the
// platform refuses, and the latitude it has.
#include <future>
#include <thread>

#include "mbn_fixture.h"

namespace {

const std::string kQueryLte3 = "at+vcfg=\"sarcfg\",\"LTE\",3\r\n";

ULONG RefCount(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

TEST_F(MbnClientTest, TheCommandSessionBelongsToTheObjectThatOpenedIt)
{
    AdviseAll();
    IMbnDeviceService* other = nullptr;
    ASSERT_EQ(OpenService(), S_OK);
    ASSERT_EQ(GetService(other), S_OK);
    ASSERT_NE(other, m_service);  // a new object for each request

    ULONG id = 0;
    EXPECT_EQ(SendAt(kQueryLte3), sim::hr::InvalidState);
    EXPECT_EQ(m_service->CloseCommandSession(&id), sim::hr::InvalidState);
    ASSERT_EQ(OpenSession(), S_OK);
    EXPECT_EQ(m_service->OpenCommandSession(&id), sim::hr::AlreadyInitialized);
    EXPECT_EQ(SendAt(kQueryLte3, other), sim::hr::InvalidState);
    EXPECT_EQ(other->CloseCommandSession(&id), sim::hr::InvalidState);
    EXPECT_EQ(OpenSession(other), S_OK);
    EXPECT_EQ(SendAt(kQueryLte3, other), S_OK);
    WaitIdle();

    // A released object's session ends with it.
    other->Release();
    ASSERT_EQ(m_service->CloseCommandSession(&id), S_OK);
    WaitIdle();
    EXPECT_FALSE(mbn().CommandSessionOpen());
    EXPECT_EQ(m_sink->Names(), (std::vector<std::string>{"OpenCommandSession", "OpenCommandSession", "SetCommand",
                                                         "CloseCommandSession"}));
}

TEST_F(MbnClientTest, SetCommandTakesOnlyAFramedByteArrayOfAKnownCommand)
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
    for (const SinkEvent& reply : EventsNamed("SetCommand")) {
        EXPECT_EQ(reply.status, E_INVALIDARG);
        EXPECT_FALSE(reply.hadData);
    }
    EXPECT_TRUE(mbn().modem().PinCommands().empty());
}

TEST_F(MbnClientTest, AContextIsOnlyForTheModemsInterfaceInAnyLetterCase)
{
    EXPECT_EQ(GetService(m_service, "{00000000-0000-0000-0000-000000000000}"), sim::hr::NotFound);
    std::string lower = mbn().InterfaceId();
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    EXPECT_EQ(GetService(m_service, lower), S_OK);
}

TEST_F(MbnClientTest, SameObjectsModeHandsBackTheLiveObjectWithANewReference)
{
    mbn().HandOutSameObjects(true);
    IMbnDeviceService* again = nullptr;
    ASSERT_EQ(OpenService(), S_OK);
    ASSERT_EQ(GetService(again), S_OK);
    EXPECT_EQ(again, m_service);
    EXPECT_EQ(RefCount(m_service), 2u);

    // Once the modem has left, a new object comes.
    mbn().RemoveModem();
    mbn().ReturnModem();
    WaitIdle();
    ASSERT_EQ(OpenService(), S_OK);
    EXPECT_NE(m_service, again);
    again->Release();
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
    EXPECT_EQ(m_advised.at(0).first->Unadvise(m_advised.at(0).second), RPC_E_DISCONNECTED);
    EXPECT_EQ(m_sink->RefCount(), 1u);  // the platform let go of the sink
    mbn().RaiseCapableInterfaceArrival();
    WaitIdle();
    EXPECT_EQ(m_sink->Names(), std::vector<std::string>{"OpenCommandSession"});
    IMbnInterfaceManager* manager = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_MbnInterfaceManager, nullptr, CLSCTX_ALL, IID_IMbnInterfaceManager,
                               reinterpret_cast<void**>(&manager)),
              CO_E_NOTINITIALIZED);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);  // for the tear-down
}

}  // namespace
