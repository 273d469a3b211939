#include <algorithm>
#include <functional>
#include <future>

#include "mbn/mbn_payload.h"
#include "mbn_manager_fixture.h"
#include "sim/machine.h"

using CommandFault = sim::MobileBroadband::CommandFault;
using SessionFault = sim::MobileBroadband::SessionFault;

namespace {

const char* const kGsmQuery = "at+vcfg=\"sarcfg\",\"GSM\"\r\n";
const char* const kGsmReply = "\r\n+VCFG: \"sarcfg\",\"GSM\",24,0,0\r\n\r\nOK\r\n";

CommandFault OneCommandFault(CommandFault::Kind kind, uint32_t lateMs = 0)
{
    return {kind, sim::hr::Fail, lateMs, /*match: any command*/ {}, /*times*/ 1};
}

// A device service for what the simulated modem cannot stage exactly: SetCommand
// runs the test's `inside` hook, then delivers its completion through the
// manager's sink, all before it returns.
class FakeDeviceService final : public IMbnDeviceService {
public:
    FakeDeviceService(IMbnDeviceServicesEvents* sink, std::atomic<bool>& destroyed) : m_sink(sink), m_destroyed(destroyed)
    {
    }

    std::vector<uint8_t> reply;  // the completion's data and status
    HRESULT status = S_OK;
    std::function<void()> inside;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG count = --m_refs;
        if (count == 0) {
            m_destroyed = true;
            delete this;
        }
        return count;
    }
    HRESULT STDMETHODCALLTYPE SetCommand(ULONG commandID, SAFEARRAY*, ULONG* requestID) override
    {
        if (inside) {
            inside();
        }
        SAFEARRAY* data = CreateByteArray(reply.data(), reply.size());
        *requestID = 1;
        m_sink->OnSetCommandComplete(this, commandID, data, status, 1);
        SafeArrayDestroy(data);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE QuerySupportedCommands(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OpenCommandSession(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CloseCommandSession(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryCommand(ULONG, SAFEARRAY*, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OpenDataSession(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CloseDataSession(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE WriteData(SAFEARRAY*, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_InterfaceID(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_DeviceServiceID(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_IsCommandSessionOpen(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_IsDataSessionOpen(BOOL*) override { return E_NOTIMPL; }

private:
    ~FakeDeviceService() = default;

    IMbnDeviceServicesEvents* m_sink;
    std::atomic<bool>& m_destroyed;
    std::atomic<ULONG> m_refs{0};
};

}  // namespace

class ManagerSession : public MbnTest {
protected:
    // The only wait since the last check was one timed wait of the calling thread.
    void ExpectOneWait(uint32_t milliseconds, bool signalled, uint32_t elapsedMs)
    {
        auto waits = Waits();
        machine().clock().ClearSleeps();
        ASSERT_EQ(waits.size(), 1u);
        EXPECT_EQ(waits[0].kind, sim::Clock::WaitRecord::Kind::Wait);
        EXPECT_EQ(waits[0].threadId, GetCurrentThreadId());
        EXPECT_EQ(std::make_tuple(waits[0].milliseconds, waits[0].signalled, waits[0].elapsedMs),
                  std::make_tuple(milliseconds, signalled, elapsedMs));
    }
};

// Each open failure gives -1 and its line; then commands on the open session:
// a failed one keeps the previous reply.
TEST_F(ManagerSession, OpenFailuresAndCommandsGiveTheirResultsAndLines)
{
    ASSERT_EQ(manager()->Init(), 0);
    // What to break, the line it gives, and whether the device service is kept (until the close).
    const std::tuple<std::function<void()>, const char*, bool> failures[] = {
        {[this] { mbn().FailDeviceServicesContext(1); }, "e :   GetDeviceServicesContext failed. result = 0x80070490",
         false},
        {[this] { mbn().FailDeviceService(1); }, "e :   GetDeviceService failed. result = 0x80070490", false},
        {[this] { mbn().FailDeviceService(1, sim::hr::Ok); },
         "i :   GetDeviceService success but m_device_service is nullptr!!!", false},
        {[this] { mbn().InjectOpenSessionFault(SessionFault::CallFails, 1); },
         "e :   OpenCommandSession error = 0x80004005.", true},
        {[this] { mbn().InjectOpenSessionFault(SessionFault::ErrorStatus, 1); },
         "i :   open command complete. status=0x80004005", true},
    };
    for (const auto& [inject, line, kept] : failures) {
        inject();
        EXPECT_EQ(manager()->OpenDeviceServices(modemId()), -1) << line;
        EXPECT_EQ(manager()->m_device_service.load() != nullptr, kept) << line;
    }
    EXPECT_EQ(manager()->InterfaceId(), "");
    EXPECT_EQ(manager()->OpenDeviceServices(std::string(64, 'x')), -1);
    ASSERT_EQ(manager()->OpenDeviceServices(modemId()), 0);

    EXPECT_EQ(manager()->SendCommandByATOverMBIM(kGsmQuery), 0);
    EXPECT_EQ(manager()->AtResponse(), kGsmReply);
    // The modem executes only a payload of four zero bytes and the text; the
    // zero-byte header of the reply is dropped.
    EXPECT_EQ(manager()->SendCommandByATOverMBIM(""), 0);
    EXPECT_EQ(manager()->SendCommandByATOverMBIM("at+vsar=1,0\r\n"), 0);
    EXPECT_EQ(manager()->AtResponse(), "\r\nOK\r\n");
    for (auto kind : {CommandFault::Kind::ErrorStatus, CommandFault::Kind::CallFails}) {
        mbn().InjectCommandFault(OneCommandFault(kind));
        EXPECT_EQ(manager()->SendCommandByATOverMBIM(kGsmQuery), -1);
        EXPECT_EQ(manager()->AtResponse(), "\r\nOK\r\n");
    }
    // Status 0 without data leaves an empty reply, never the previous one.
    mbn().InjectCommandFault(OneCommandFault(CommandFault::Kind::NoData));
    EXPECT_EQ(manager()->SendCommandByATOverMBIM(kGsmQuery), 0);
    EXPECT_EQ(manager()->AtResponse(), "");
    mbn().modem().InjectReplyFault(sim::ReplyFault::Oversized, "", 1, 1500);
    EXPECT_EQ(manager()->SendCommandByATOverMBIM(kGsmQuery), 0);
    EXPECT_EQ(manager()->AtResponse().size(), 1023u);
    // The longest command goes out; one byte more is refused before it reaches the modem.
    const std::string longest = std::string(1018, 'a') + "\r\n";
    EXPECT_EQ(manager()->SendCommandByATOverMBIM(longest.c_str()), 0);
    EXPECT_EQ(manager()->SendCommandByATOverMBIM((longest + "a").c_str()), -1);
    EXPECT_EQ(mbn().Transcript().back().command, longest);

    EXPECT_EQ(manager()->CloseDeviceServices(), 0);
    EXPECT_EQ(manager()->SendCommandByATOverMBIM(kGsmQuery), -1);
    manager()->UnInit();
    mbn().WaitIdle();
    EXPECT_EQ(mbn().LiveObjects(), 0);  // objects replaced by a later open were released

    auto lines = Lines();
    for (const auto& failure : failures) {
        EXPECT_EQ(CountOf(lines, std::get<1>(failure)), 1u) << std::get<1>(failure);
    }
    EXPECT_EQ(CountOf(lines, "e :   interface id too long. length = 64"), 1u);
    EXPECT_EQ(CountOf(lines, "h : - CVarnickMbimManager::OpenDeviceServices"), 7u);
    EXPECT_EQ(CountOf(lines, "i :   at over mbim[TX]: at+vcfg=\"sarcfg\",\"GSM\"\t\t"), 6u);
    EXPECT_EQ(CountOf(lines, "i :   set command complete. status=0x80004005"), 1u);
    EXPECT_EQ(CountOf(lines, "e :   SetCommand command at error result = 0x80004005"), 1u);
    EXPECT_EQ(CountOf(lines, "e :   command too long. length = 1021. command at error return"), 1u);
    EXPECT_EQ(CountOf(lines, "e :   m_device_service == nullptr. command at error return"), 1u);
}

// Open 1.5 s, close 0.5 s, command 3 s: one timed wait each, over when the
// completion comes or its time is up. An open or close completion that comes
// after its operation gave up records its outcome but wakes no later wait of
// its kind; a command's late completion is no reply to the next command.
TEST_F(ManagerSession, EachOperationWaitsOnceForItsOwnCompletion)
{
    ASSERT_EQ(manager()->Init(), 0);
    mbn().InjectOpenSessionFault(SessionFault::NoCompletion, 2);
    EXPECT_EQ(manager()->OpenDeviceServices(modemId()), -2);
    ExpectOneWait(1500, false, 1500);
    EXPECT_NE(manager()->m_device_service.load(), nullptr);
    EXPECT_EQ(manager()->InterfaceId(), "");
    for (uint32_t late : {DS_EVENT_OPEN_COMMAND_SESSION_COMPLETE, DS_EVENT_CLOSE_COMMAND_SESSION_COMPLETE}) {
        MbnEventInfo completion;
        completion.source = MBN_EVENT_SOURCE_DEVICE_SERVICES;
        completion.service_event = late;
        manager()->update(nullptr, &completion);
    }
    mbn().InjectCloseSessionFault(SessionFault::NoCompletion, 1);
    EXPECT_EQ(manager()->CloseDeviceServices(), 0);
    ExpectOneWait(500, false, 500);
    EXPECT_EQ(manager()->m_device_service.load(), nullptr);
    EXPECT_EQ(manager()->OpenDeviceServices(modemId()), -2);
    ExpectOneWait(1500, false, 1500);

    ASSERT_EQ(manager()->OpenDeviceServices(modemId()), 0);
    ExpectOneWait(1500, true, 0);
    EXPECT_EQ(manager()->InterfaceId(), modemId());
    EXPECT_TRUE(mbn().CommandSessionOpen());
    const std::string before = manager()->AtResponse();
    mbn().InjectCommandFault(OneCommandFault(CommandFault::Kind::LateCompletion, 3500));
    EXPECT_EQ(manager()->SendCommandByATOverMBIM(kGsmQuery), -2);
    ExpectOneWait(3000, false, 3000);
    EXPECT_EQ(manager()->AtResponse(), before);
    // The query's completion comes 0.5 s into the next command's wait: that
    // command still waits for its own, which the modem sends after 1 s.
    mbn().InjectCommandFault(OneCommandFault(CommandFault::Kind::LateCompletion, 1000));
    EXPECT_EQ(manager()->SendCommandByATOverMBIM("at+vsar=1,0\r\n"), 0);
    ExpectOneWait(3000, true, 1000);
    EXPECT_EQ(manager()->AtResponse(), "\r\nOK\r\n");

    EXPECT_EQ(manager()->CloseDeviceServices(), 0);
    ExpectOneWait(500, true, 0);
    EXPECT_EQ(manager()->m_device_services_context, nullptr);
    EXPECT_FALSE(mbn().CommandSessionOpen());
    EXPECT_EQ(manager()->CloseDeviceServices(), 0);  // nothing left to close
    EXPECT_TRUE(Waits().empty());
    EXPECT_EQ(mbn().CloseSessionCalls(), 2);
    EXPECT_EQ(manager()->InterfaceId(), modemId());  // kept after the close
    manager()->UnInit();
    mbn().WaitIdle();
    EXPECT_EQ(mbn().LiveObjects(), 0);

    auto lines = Lines();
    EXPECT_EQ(CountOf(lines, "i :   OpenCommandSession time out"), 2u);
    EXPECT_EQ(CountOf(lines, "i :   Close handle time out"), 1u);
    EXPECT_EQ(CountOf(lines, "e :   command at time out,pid = " + std::to_string(GetCurrentProcessId())), 1u);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.rfind("i :   set command complete of request ", 0) == 0 &&
                                       line.find("which no command waits for. ignored.") != std::string::npos;
                            }),
              1);
    EXPECT_EQ(CountOf(lines, "i :   GetDeviceServicesContext success. id = " + modemId()), 3u);
    EXPECT_EQ(CountOf(lines, "i :   open command complete. status=0x00000000"), 2u);
    EXPECT_EQ(CountOf(lines, "i :   close command complete. status=0x00000000"), 2u);
    EXPECT_EQ(CountOf(lines, "i :   service has been closed already."), 1u);
    EXPECT_EQ(CountOf(lines, "h : + CVarnickMbimManager::CloseDeviceServices"), 3u);
    EXPECT_EQ(CountOf(lines, "h : - CVarnickMbimManager::CloseDeviceServices"), 3u);
}

// The open's wait releases m_mutex: a close from another thread goes through
// meanwhile, and the open then gives up without leaking what the close released.
TEST_F(ManagerSession, ACloseDuringAnOpensWaitNeitherLeaksNorHangs)
{
    ASSERT_EQ(manager()->Init(), 0);
    mbn().InjectOpenSessionFault(SessionFault::NoCompletion, 1);
    std::future<int> open, close;
    bool closedDuringTheWait = false;
    {
        sim::Clock::Hold hold(machine().clock());  // the open's 1.5 s do not pass yet
        open = std::async(std::launch::async, [this] { return manager()->OpenDeviceServices(modemId()); });
        ASSERT_TRUE(machine().clock().AwaitWaiters(1));
        close = std::async(std::launch::async, [] { return manager()->CloseDeviceServices(); });
        closedDuringTheWait = close.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    }
    EXPECT_TRUE(closedDuringTheWait);
    EXPECT_EQ(close.get(), 0);
    EXPECT_EQ(open.get(), -2);
    EXPECT_EQ(manager()->m_device_service.load(), nullptr);
    auto waits = Waits();  // the close's, then the open's
    ASSERT_EQ(waits.size(), 2u);
    EXPECT_EQ(std::make_tuple(waits[0].milliseconds, waits[0].signalled), std::make_tuple(500u, true));
    EXPECT_EQ(std::make_tuple(waits[1].milliseconds, waits[1].signalled), std::make_tuple(1500u, false));

    manager()->UnInit();
    mbn().WaitIdle();
    EXPECT_EQ(mbn().LiveObjects(), 0);
    EXPECT_EQ(CountOf(Lines(), "i :   OpenCommandSession time out"), 1u);
}

// With a device service that completes inside SetCommand: the completion is
// not lost (nor taken from another request), every command lets its own
// reference go, the reboot does not wait,
// and a close (as a suspend does) while a command is inside SetCommand leaves
// the command its object.
TEST_F(ManagerSession, CompletionsInsideSetCommandAndACloseMeanwhile)
{
    ASSERT_EQ(manager()->Init(), 0);
    std::atomic<bool> destroyed{false};
    auto* fake = new FakeDeviceService(manager()->m_device_services_sink, destroyed);
    fake->AddRef();  // the manager's reference
    manager()->m_device_service.store(fake);

    fake->reply = {0, 0, 0, 0, '\r', '\n', 'O', 'K', '\r', '\n'};
    EXPECT_EQ(manager()->SendCommandByATOverMBIM("AT\r\n"), 0);
    EXPECT_EQ(manager()->AtResponse(), "\r\nOK\r\n");
    ExpectOneWait(3000, true, 0);
    fake->status = E_FAIL;
    EXPECT_EQ(manager()->SendCommandByATOverMBIM("AT\r\n"), -1);
    EXPECT_EQ(manager()->AtResponse(), "\r\nOK\r\n");
    EXPECT_TRUE(manager()->SendRebootCommand());
    ExpectOneWait(3000, true, 0);
    EXPECT_EQ(RefCount(fake), 1u);
    // A completion of another request that comes first, inside the call, is not the command's.
    fake->status = S_OK;
    fake->inside = [fake] {
        const uint8_t stale[] = {0, 0, 0, 0, 'E', 'R', 'R', 'O', 'R'};
        SAFEARRAY* data = CreateByteArray(stale, sizeof(stale));
        manager()->m_device_services_sink->OnSetCommandComplete(fake, AT_COMMAND_ID, data, S_OK, 7);
        SafeArrayDestroy(data);
    };
    EXPECT_EQ(manager()->SendCommandByATOverMBIM("AT\r\n"), 0);
    EXPECT_EQ(manager()->AtResponse(), "\r\nOK\r\n");

    fake->reply = {0, 0, 0, 0, 'O', 'K'};
    fake->inside = [&destroyed] {
        EXPECT_EQ(manager()->CloseDeviceServices(), 0);
        EXPECT_EQ(manager()->m_device_service.load(), nullptr);
        EXPECT_FALSE(destroyed);
    };
    EXPECT_EQ(manager()->SendCommandByATOverMBIM("AT\r\n"), 0);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(manager()->AtResponse(), "OK");
    const auto lines = Lines();
    EXPECT_EQ(CountOf(lines, "i :   CloseCommandSession result = 0x80004001."), 1u);
    EXPECT_EQ(CountOf(lines, "i :   1 completion(s) of other requests came meanwhile. ignored."), 1u);
}

// A platform that hands out the same context and service again: an open that
// failed after storing them, a later open and the close keep the manager's one
// reference each, no more, no less.
TEST_F(ManagerSession, ObjectsHandedOutAgainKeepOneReferenceOfTheManager)
{
    mbn().HandOutSameObjects(true);
    ASSERT_EQ(manager()->Init(), 0);
    const int managers = mbn().LiveObjects();
    mbn().InjectOpenSessionFault(SessionFault::ErrorStatus, 1);
    EXPECT_EQ(manager()->OpenDeviceServices(modemId()), -1);
    IMbnDeviceService* service = manager()->m_device_service.load();
    IMbnDeviceServicesContext* context = manager()->m_device_services_context;
    EXPECT_EQ(manager()->OpenDeviceServices(modemId()), 0);
    mbn().WaitIdle();  // a delivery holds its own reference while it runs
    ASSERT_EQ(mbn().LiveObjects(), managers + 2);
    EXPECT_EQ(manager()->m_device_service.load(), service);
    EXPECT_EQ(manager()->m_device_services_context, context);
    EXPECT_EQ(RefCount(context), 1u);
    EXPECT_EQ(RefCount(service), 1u);
    EXPECT_EQ(manager()->CloseDeviceServices(), 0);
    mbn().WaitIdle();
    EXPECT_EQ(mbn().LiveObjects(), managers);
}
