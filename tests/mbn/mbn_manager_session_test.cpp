#include <future>
#include <thread>

#include "fake_device_service.h"
#include "mbn_fixture.h"
#include "sim/machine.h"

using CommandFault = sim::MobileBroadband::CommandFault;
using SessionFault = sim::MobileBroadband::SessionFault;

namespace {

const char* const kGsmQuery = "at+vcfg=\"sarcfg\",\"GSM\"\r\n";
const char* const kGsmReply = "\r\n+VCFG: \"sarcfg\",\"GSM\",24,0,0\r\n\r\nOK\r\n";
const char* const kPinCommand = "at+vsar=1,0\r\n";

}  // namespace

using ManagerSession = MbnTest;

TEST_F(ManagerSession, OpensTheModemAndClosesItOnceCloseTwiceIsHarmless)
{
    OpenModem();
    EXPECT_NE(manager()->m_device_service.load(), nullptr);
    EXPECT_EQ(manager()->InterfaceId(), modemId());
    EXPECT_TRUE(mbn().CommandSessionOpen());

    EXPECT_EQ(manager()->CloseDeviceServices(), 0);
    EXPECT_EQ(manager()->m_device_service.load(), nullptr);
    EXPECT_EQ(manager()->m_device_services_context, nullptr);
    EXPECT_FALSE(mbn().CommandSessionOpen());
    EXPECT_EQ(manager()->CloseDeviceServices(), 0);
    EXPECT_EQ(mbn().CloseSessionCalls(), 1);
    // The interface id of the last successful open is kept.
    EXPECT_EQ(manager()->InterfaceId(), modemId());

    manager()->UnInit();
    EXPECT_EQ(manager()->CloseDeviceServices(), -1);
    mbn().WaitIdle();
    EXPECT_EQ(mbn().LiveObjects(), 0);

    auto lines = Lines();
    EXPECT_EQ(CountOf(lines, "i :   GetDeviceServicesContext success. id = " + modemId()), 1u);
    EXPECT_EQ(CountOf(lines, "i :   open command complete. status=0x00000000"), 1u);
    EXPECT_EQ(CountOf(lines, "h : - CVarnickMbimManager::OpenDeviceServices"), 1u);
    EXPECT_EQ(CountOf(lines, "i :   close command complete. status=0x00000000"), 1u);
    EXPECT_EQ(CountOf(lines, "i :   close command session complete. result = 0x00000000."), 1u);
    EXPECT_EQ(CountOf(lines, "i :   service has been closed already."), 1u);
    EXPECT_EQ(CountOf(lines, "e :   mbim context not init."), 1u);
    EXPECT_EQ(CountOf(lines, "h : + CVarnickMbimManager::CloseDeviceServices"), 3u);
    EXPECT_EQ(CountOf(lines, "h : - CVarnickMbimManager::CloseDeviceServices"), 2u);
}

TEST_F(ManagerSession, EachOpenFailureGivesMinusOneWithItsLine)
{
    ASSERT_EQ(manager()->Init(), 0);
    mbn().FailDeviceServicesContext(1);
    EXPECT_EQ(manager()->OpenDeviceServices(modemId()), -1);
    EXPECT_EQ(manager()->m_device_service.load(), nullptr);
    mbn().FailDeviceService(1);
    EXPECT_EQ(manager()->OpenDeviceServices(modemId()), -1);
    mbn().FailDeviceService(1, sim::hr::Ok);
    EXPECT_EQ(manager()->OpenDeviceServices(modemId()), -1);
    EXPECT_EQ(manager()->m_device_service.load(), nullptr);

    mbn().InjectOpenSessionFault(SessionFault::CallFails, 1);
    EXPECT_EQ(manager()->OpenDeviceServices(modemId()), -1);
    // The service object stays until CloseDeviceServices.
    EXPECT_NE(manager()->m_device_service.load(), nullptr);
    mbn().InjectOpenSessionFault(SessionFault::ErrorStatus, 1);
    EXPECT_EQ(manager()->OpenDeviceServices(modemId()), -1);
    EXPECT_NE(manager()->m_device_service.load(), nullptr);
    EXPECT_EQ(manager()->InterfaceId(), "");

    EXPECT_EQ(manager()->OpenDeviceServices(std::string(64, 'x')), -1);
    EXPECT_EQ(manager()->OpenDeviceServices(modemId()), 0);
    EXPECT_EQ(manager()->InterfaceId(), modemId());
    EXPECT_EQ(manager()->CloseDeviceServices(), 0);
    manager()->UnInit();
    mbn().WaitIdle();
    // Objects replaced by a later open were released.
    EXPECT_EQ(mbn().LiveObjects(), 0);

    auto lines = Lines();
    EXPECT_EQ(CountOf(lines, "e :   GetDeviceServicesContext failed. result = 0x80070490"), 1u);
    EXPECT_EQ(CountOf(lines, "e :   GetDeviceService failed. result = 0x80070490"), 1u);
    EXPECT_EQ(CountOf(lines, "i :   GetDeviceService success but m_device_service is nullptr!!!"), 1u);
    EXPECT_EQ(CountOf(lines, "e :   OpenCommandSession error = 0x80004005."), 1u);
    EXPECT_EQ(CountOf(lines, "i :   open command complete. status=0x80004005"), 1u);
    EXPECT_EQ(CountOf(lines, "e :   interface id too long. length = 64"), 1u);
    EXPECT_EQ(CountOf(lines, "h : + CVarnickMbimManager::OpenDeviceServices"), 7u);
    EXPECT_EQ(CountOf(lines, "h : - CVarnickMbimManager::OpenDeviceServices"), 7u);
}

TEST_F(ManagerSession, CommandsCarryTheirTextAndRepliesAndFailuresKeepThePreviousReply)
{
    OpenModem();
    EXPECT_EQ(manager()->SendCommandByATOverMBIM(kGsmQuery), 0);
    EXPECT_EQ(manager()->AtResponse(), kGsmReply);
    // The zero-byte header of the reply is dropped.
    EXPECT_EQ(manager()->SendCommandByATOverMBIM(kPinCommand), 0);
    EXPECT_EQ(manager()->AtResponse(), "\r\nOK\r\n");

    CommandFault errorStatus;
    errorStatus.kind = CommandFault::Kind::ErrorStatus;
    errorStatus.times = 1;
    mbn().InjectCommandFault(errorStatus);
    EXPECT_EQ(manager()->SendCommandByATOverMBIM(kGsmQuery), -1);
    EXPECT_EQ(manager()->AtResponse(), "\r\nOK\r\n");

    CommandFault refused;
    refused.kind = CommandFault::Kind::CallFails;
    refused.times = 1;
    mbn().InjectCommandFault(refused);
    EXPECT_EQ(manager()->SendCommandByATOverMBIM(kGsmQuery), -1);
    EXPECT_EQ(manager()->AtResponse(), "\r\nOK\r\n");

    // A completion with status 0 and no data leaves an empty reply, never the previous one.
    CommandFault noData;
    noData.kind = CommandFault::Kind::NoData;
    noData.times = 1;
    mbn().InjectCommandFault(noData);
    EXPECT_EQ(manager()->SendCommandByATOverMBIM(kGsmQuery), 0);
    EXPECT_EQ(manager()->AtResponse(), "");

    mbn().modem().InjectReplyFault(sim::ReplyFault::Oversized, "", 1, 1500);
    EXPECT_EQ(manager()->SendCommandByATOverMBIM(kGsmQuery), 0);
    EXPECT_EQ(manager()->AtResponse().size(), 1023u);

    // The longest command goes out; one byte more is refused before it reaches the modem.
    const std::string longest = std::string(1018, 'a') + "\r\n";
    EXPECT_EQ(manager()->SendCommandByATOverMBIM(longest.c_str()), 0);
    const size_t sent = mbn().Transcript().size();
    const std::string tooLong = std::string(1019, 'a') + "\r\n";
    EXPECT_EQ(manager()->SendCommandByATOverMBIM(tooLong.c_str()), -1);
    EXPECT_EQ(mbn().Transcript().size(), sent);

    auto transcript = mbn().Transcript();
    ASSERT_GE(transcript.size(), 2u);
    EXPECT_EQ(transcript[0].commandId, 8u);
    EXPECT_EQ(transcript[0].command, kGsmQuery);
    EXPECT_EQ(transcript.back().command, longest);

    EXPECT_EQ(manager()->CloseDeviceServices(), 0);
    EXPECT_EQ(manager()->SendCommandByATOverMBIM(kGsmQuery), -1);

    auto lines = Lines();
    EXPECT_EQ(CountOf(lines, "i :   at over mbim[TX]: at+vcfg=\"sarcfg\",\"GSM\"\t\t"), 6u);
    EXPECT_EQ(CountOf(lines, "i :   set command complete. status=0x80004005"), 1u);
    EXPECT_EQ(CountOf(lines, "e :   SetCommand command at error result = 0x80004005"), 1u);
    EXPECT_EQ(CountOf(lines, "e :   command too long. length = 1021. command at error return"), 1u);
    EXPECT_EQ(CountOf(lines, "e :   m_device_service == nullptr. command at error return"), 1u);
}

TEST_F(ManagerSession, PayloadIsFourZeroBytesAndTheTextAndAnEarlyCompletionIsNotLost)
{
    ASSERT_EQ(manager()->Init(), 0);
    auto destroyed = std::make_shared<std::atomic<bool>>(false);
    auto* fake = new FakeDeviceService(manager()->m_device_services_sink, destroyed);
    fake->AddRef();  // the manager's reference
    manager()->m_device_service.store(fake);

    // Every completion below arrives before SetCommand returns, so before the wait.
    fake->SetReply({0, 0, 0, 0, '\r', '\n', 'O', 'K', '\r', '\n'});
    EXPECT_EQ(manager()->SendCommandByATOverMBIM(""), 0);
    EXPECT_EQ(manager()->AtResponse(), "\r\nOK\r\n");
    fake->SetReply({'O', 0, 'K', 0});
    EXPECT_EQ(manager()->SendCommandByATOverMBIM("AT\r\n"), 0);
    EXPECT_EQ(manager()->AtResponse(), "OK");
    fake->SetReply({}, E_FAIL);
    EXPECT_EQ(manager()->SendCommandByATOverMBIM("AT\r\n"), -1);
    EXPECT_EQ(manager()->AtResponse(), "OK");
    EXPECT_TRUE(manager()->SendRebootCommand());

    auto sent = fake->SentPayloads();
    ASSERT_EQ(sent.size(), 4u);
    for (const auto& payload : sent) {
        EXPECT_EQ(payload.vt, VT_UI1);
        EXPECT_EQ(payload.dims, 1u);
        EXPECT_EQ(payload.lowerBound, 0);
    }
    EXPECT_EQ(sent[0].commandId, AT_COMMAND_ID);
    EXPECT_EQ(sent[0].bytes, (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(sent[1].bytes, (std::vector<uint8_t>{0, 0, 0, 0, 'A', 'T', '\r', '\n'}));
    EXPECT_EQ(sent[3].commandId, REBOOT_COMMAND_ID);
    EXPECT_EQ(sent[3].bytes, (std::vector<uint8_t>{0x00, 0x11}));

    EXPECT_EQ(fake->RefCount(), 1u);  // every command let its own reference go
    EXPECT_EQ(manager()->CloseDeviceServices(), 0);
    EXPECT_TRUE(*destroyed);
}

TEST_F(ManagerSession, ASuspendClosingTheSessionDuringACommandLeavesTheCommandItsObject)
{
    ASSERT_EQ(manager()->Init(), 0);
    auto destroyed = std::make_shared<std::atomic<bool>>(false);
    auto* fake = new FakeDeviceService(manager()->m_device_services_sink, destroyed);
    fake->AddRef();
    manager()->m_device_service.store(fake);
    fake->SetReply({0, 0, 0, 0, 'O', 'K'});
    fake->HoldSetCommand();

    auto command = std::async(std::launch::async, [] { return manager()->SendCommandByATOverMBIM("AT\r\n"); });
    ASSERT_TRUE(fake->WaitUntilInSetCommand());
    // The power thread closes the session while the worker is inside SetCommand.
    EXPECT_EQ(manager()->CloseDeviceServices(), 0);
    EXPECT_EQ(manager()->m_device_service.load(), nullptr);
    EXPECT_FALSE(*destroyed);
    fake->LetGo();
    EXPECT_EQ(command.get(), 0);
    EXPECT_TRUE(*destroyed);
    EXPECT_EQ(manager()->AtResponse(), "OK");

    auto lines = Lines();
    EXPECT_EQ(CountOf(lines, "i :   CloseCommandSession result = 0x80004001."), 1u);
}

TEST_F(ManagerSession, RebootIsAcceptedWithoutWaitingAndTheModemsReturnBecomesTasks)
{
    EXPECT_FALSE(manager()->SendRebootCommand());
    ASSERT_EQ(manager()->Init(), 0);
    EXPECT_FALSE(manager()->SendRebootCommand());
    ASSERT_EQ(manager()->OpenDeviceServices(modemId()), 0);
    mbn().RefuseReboot(1);
    EXPECT_FALSE(manager()->SendRebootCommand());

    mbn().SetRebootTiming(100, 100);
    EXPECT_TRUE(manager()->SendRebootCommand());
    auto transcript = mbn().Transcript();
    ASSERT_FALSE(transcript.empty());
    EXPECT_EQ(transcript.back().commandId, REBOOT_COMMAND_ID);
    EXPECT_EQ(transcript.back().command, "00 11");
    EXPECT_TRUE(transcript.back().accepted);

    mbn().WaitIdle();
    EXPECT_EQ(mbn().modem().BootCount(), 2u);
    // Removal first (at the front), then the arrival's bring-up; duplicates fold.
    EXPECT_EQ(TakeTasks(), (std::vector<int>{TASK_ID_SUPRISE_REMOVE, TASK_ID_DEFAULT}));
    EXPECT_FALSE(service()->m_bDeviceRemoved);

    auto lines = Lines();
    EXPECT_EQ(CountOf(lines, "e :   m_init_flag = false. command at error return"), 1u);
    EXPECT_EQ(CountOf(lines, "e :   m_device_service == nullptr. command at error return"), 1u);
    EXPECT_EQ(CountOf(lines, "e :   SetCommand reboot error result = 0x80004005"), 1u);
}

// Real waits: 1.5 s for the open, 0.5 s for the close.
TEST_F(ManagerSession, OpenAndCloseGiveUpAfterTheirWaits)
{
    ASSERT_EQ(manager()->Init(), 0);
    mbn().InjectOpenSessionFault(SessionFault::NoCompletion, 1);
    EXPECT_EQ(manager()->OpenDeviceServices(modemId()), -2);
    EXPECT_NE(manager()->m_device_service.load(), nullptr);
    EXPECT_EQ(manager()->InterfaceId(), "");

    mbn().InjectCloseSessionFault(SessionFault::NoCompletion, 1);
    EXPECT_EQ(manager()->CloseDeviceServices(), 0);
    EXPECT_EQ(manager()->m_device_service.load(), nullptr);

    auto lines = Lines();
    EXPECT_EQ(CountOf(lines, "i :   OpenCommandSession time out"), 1u);
    EXPECT_EQ(CountOf(lines, "i :   Close handle time out"), 1u);
}

// Real wait: 3 s for the command, then the late completion.
TEST_F(ManagerSession, ACommandGivesUpAfterThreeSecondsAndItsLateReplyStillLands)
{
    OpenModem();
    ASSERT_EQ(manager()->SendCommandByATOverMBIM(kPinCommand), 0);

    CommandFault late;
    late.kind = CommandFault::Kind::LateCompletion;
    late.lateMs = 3500;
    late.match = "sarcfg";
    late.times = 1;
    mbn().InjectCommandFault(late);
    EXPECT_EQ(manager()->SendCommandByATOverMBIM(kGsmQuery), -2);
    EXPECT_EQ(manager()->AtResponse(), "\r\nOK\r\n");

    mbn().WaitIdle();
    EXPECT_EQ(manager()->AtResponse(), kGsmReply);
    // The next command gets its own reply.
    EXPECT_EQ(manager()->SendCommandByATOverMBIM("at+vsar=0,0\r\n"), 0);
    EXPECT_EQ(manager()->AtResponse(), "\r\nOK\r\n");

    auto lines = Lines();
    EXPECT_EQ(CountOf(lines, "e :   command at time out,pid = " + std::to_string(GetCurrentProcessId())), 1u);
}
