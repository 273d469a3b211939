// What the simulated Mobile Broadband API refuses, driven through a test sink.
#include <algorithm>
#include <future>
#include <thread>

#include "mbn_fixture.h"

const std::string kQueryLte3 = "at+vcfg=\"sarcfg\",\"LTE\",3\r\n";

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
    for (const SinkEvent& event : m_sink->Events()) {
        EXPECT_NE(event.thread, std::this_thread::get_id()) << event.name;  // on a COM worker thread
    }
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
    ASSERT_EQ(SendBytes(99, std::string(4, '\0')), S_OK);
    WaitIdle();
    EXPECT_EQ(m_sink->Names(), (std::vector<std::string>{"OpenCommandSession", "SetCommand", "SetCommand"}));
    for (const SinkEvent& event : m_sink->Events()) {
        EXPECT_EQ(event.status, event.name == "SetCommand" ? E_INVALIDARG : S_OK);
        EXPECT_FALSE(event.hadData);
    }
    EXPECT_TRUE(mbn().modem().PinCommands().empty());
}

TEST_F(MbnClientTest, AContextIsOnlyForTheModemsInterfaceInAnyLetterCase)
{
    EXPECT_EQ(GetService(m_service, "{00000000-0000-0000-0000-000000000000}"), sim::hr::NotFound);
    std::string lower = mbn().InterfaceId();
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    EXPECT_EQ(GetService(m_service, lower), S_OK);
}

TEST_F(MbnClientTest, MethodsTheServiceNeverCallsAnswerNotImplemented)
{
    AdviseAll();
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
    IID iid{};
    EXPECT_EQ(m_advised.at(0).first->GetConnectionInterface(&iid), E_NOTIMPL);
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
