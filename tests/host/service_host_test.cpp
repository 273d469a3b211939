// The service process under the simulated service control manager: its status
// reports, its controls and its whole life on the simulated laptop.
#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <future>
#include <thread>

#include "core/state/halvex_service.h"
#include "host/service_host.h"
#include "log_file.h"
#include "machine_fixture.h"
#include "sim/smbios_builder.h"

namespace {

using ::testing::ElementsAre;

// A report as {state, controls accepted, check point, wait hint, made on the main thread}.
using Fields = std::vector<uint32_t>;

class Host : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        machine().clock().WaitForReadyThreads(true);  // the whole service runs on it
        sim::SmbiosSystem system;
        system.version = "ModelX";
        machine().firmware().SetSmbiosTable(sim::SmbiosBuilder().AddSystem(system).AddProcessor("i7").Build());
        machine().fileSystem().WriteFile(
            "C:\\Program Files\\Varnick Wireless Inc\\Halvex Service\\DPRConfig.xml",
            "<config><project name=\"ModelX\"><processor><module method=\"single band\">"
            "<dpr mode=\"LTE\" band=\"3\" maxpower=\"23\" rowgrads=\"2\" columngrads=\"3\"/>"
            "<dpr mode=\"GSM\" maxpower=\"22\" rowgrads=\"1\" columngrads=\"2\"/>"
            "</module></processor></project></config>");
    }

    sim::ServiceControl& services() { return machine().services(); }
    // Starts the program as a service; its main thread is the test's `process`.
    void Start()
    {
        process = std::thread([this] {
            exitCode = services().RunAsService([] {
                wchar_t commandLine[] = L"";
                return wWinMain(nullptr, nullptr, commandLine, 0);
            });
            dispatcherReturned = true;
        });
    }
    // The AT commands the modem accepted, once it has taken `count` and nothing is
    // left to run: the simulated API is idle and then the worker waits for work.
    std::vector<std::string> AwaitCommands(size_t count)
    {
        CTaskQueue& queue = CHalvexService::GetInstance()->m_taskQueue;
        for (;; std::this_thread::sleep_for(std::chrono::milliseconds(1))) {  // no spinning: the worker needs time to move
            machine().mbn().WaitIdle();
            if (queue.Waiters() != 1 || queue.Count() != 0) {
                continue;
            }
            std::vector<std::string> commands;
            for (const auto& entry : machine().mbn().Transcript()) {
                if (entry.commandId == sim::MobileBroadband::kAtCommandId && entry.accepted) {
                    commands.push_back(entry.command);
                }
            }
            if (commands.size() >= count) {
                return commands;
            }
        }
    }
    std::vector<Fields> ReportFields()
    {
        std::vector<Fields> fields;
        for (const auto& report : services().Reports()) {
            const auto& s = report.status;
            EXPECT_EQ(s.serviceType, SERVICE_WIN32_OWN_PROCESS);
            EXPECT_EQ(s.win32ExitCode + s.serviceSpecificExitCode, 0u);
            fields.push_back({s.currentState, s.controlsAccepted, s.checkPoint, s.waitHint,
                              report.threadId == services().MainThreadId()});
        }
        return fields;
    }
    // The wait of the main thread for the service main's end: ended by its signal.
    void ExpectServiceMainAwaited()
    {
        const auto records = machine().clock().Records();
        ASSERT_FALSE(records.empty());
        const auto& wait = records.back();
        EXPECT_EQ(std::make_tuple(wait.threadId, wait.milliseconds, wait.signalled),
                  std::make_tuple(services().MainThreadId(), 5000u, true));
    }
    // The logged messages containing one of the texts, in order.
    static std::vector<std::string> Logged(const std::vector<std::string>& texts)
    {
        std::vector<std::string> kept;
        for (const auto& line : testsupport::ShutdownAndReadLogMessages()) {
            if (std::any_of(texts.begin(), texts.end(), [&](const auto& text) { return line.find(text) != line.npos; })) {
                kept.push_back(line);
            }
        }
        return kept;
    }

    std::thread process;
    int exitCode = 1;
    std::atomic<bool> dispatcherReturned{false};
};

TEST_F(Host, StartedFromAConsoleTheDispatcherFailsAndNothingIsWritten)
{
    wchar_t commandLine[] = L"";
    EXPECT_EQ(wWinMain(nullptr, nullptr, commandLine, 0), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT));
    const auto files = std::count_if(std::filesystem::recursive_directory_iterator(machine().fileSystem().Root()), {},
                                     [](const auto& entry) { return entry.is_regular_file(); });
    EXPECT_EQ(files, 1) << "only the configuration file the fixture wrote";
}

TEST_F(Host, WithoutAControlHandlerTheServiceMainOnlyLogsItsEntryAndTheDispatcherKeepsWaiting)
{
    services().FailHandlerRegistration(ERROR_NOT_ENOUGH_MEMORY);
    Start();
    ASSERT_TRUE(services().AwaitServiceMainEnd(std::chrono::seconds(30)));
    EXPECT_TRUE(services().Reports().empty());
    // Nothing ever reports stopped: the main thread stays in the dispatcher.
    EXPECT_FALSE(dispatcherReturned.load());
    process.detach();
    EXPECT_THAT(Logged({"Service", "Mbim"}), ElementsAre(::testing::StartsWith("i :   HalvexServiceMain Entry.")));
}

TEST_F(Host, ControlsWaitForTheRunningReportAndAFailedInitGoesStraightToStopped)
{
    // The manager's first object is held back, then cannot be made.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    machine().com().AddClass(sim::MobileBroadband::kClsidInterfaceManager, [released]() -> IUnknown* {
        released.wait();
        return nullptr;
    });
    Start();
    ASSERT_TRUE(services().AwaitState(SERVICE_START_PENDING));
    EXPECT_EQ(services().Send(SERVICE_CONTROL_STOP), static_cast<uint32_t>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL));
    EXPECT_EQ(services().Send(SERVICE_CONTROL_PAUSE), static_cast<uint32_t>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL));
    EXPECT_EQ(services().Send(SERVICE_CONTROL_INTERROGATE), static_cast<uint32_t>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL));
    release.set_value();
    process.join();
    EXPECT_THAT(ReportFields(), ElementsAre(Fields{SERVICE_START_PENDING, 0, 1, 1000, 0},
                                            Fields{SERVICE_STOPPED, 3, 0, 0, 0}));
    ExpectServiceMainAwaited();
    const auto lines = Logged({"HalvexServiceMain", "Service Init", "ServiceDestroy", "SERVICE STOPPED"});
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_THAT(lines[0], ::testing::MatchesRegex("i :   HalvexServiceMain Entry\\. Build time: "
                                                  "[A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4}-[0-9]{2}:[0-9]{2}:[0-9]{2}"));
    EXPECT_THAT(std::vector<std::string>(lines.begin() + 1, lines.end()),
                ElementsAre("e :   Service Init Error.", "i :   ServiceDestroy success", "w :   SERVICE STOPPED."));
    // The stopped service has no process: the restart only starts it again.
    const auto launches = machine().shell().Launches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].parameters, "/c net start \"Varnick Halvex Service\"");
}

TEST_F(Host, ServiceStartsChecksTheModemKeepsWorkingWhilePausedAndStops)
{
    Start();
    ASSERT_TRUE(services().AwaitState(SERVICE_RUNNING));
    const std::string lte = "at+vcfg=\"sarcfg\",\"LTE\",3\r\n", gsm = "at+vcfg=\"sarcfg\",\"GSM\"\r\n";
    // From `first` on, whole query rounds only: checks that found everything in place.
    auto queryRoundsFrom = [&](const std::vector<std::string>& commands, size_t first) {
        bool rounds = (commands.size() - first) % 2 == 0;
        for (size_t i = first; rounds && i < commands.size(); i += 2) {
            rounds = commands[i] == lte && commands[i + 1] == gsm;
        }
        return rounds;
    };
    // Rewritten, pinned and rebooted; the two checks after the modem's return (one
    // per arrival notice) find everything in place.
    auto commands = AwaitCommands(10);
    EXPECT_EQ(commands.size(), 10u);
    EXPECT_THAT(std::vector<std::string>(commands.begin(), commands.begin() + 6),
                ElementsAre(lte, "at+vcfg=\"sarcfg\",\"LTE\",23,2,3,3\r\n", gsm,
                            "at+vcfg=\"sarcfg\",\"GSM\",22,1,2\r\n", "at+vcfg=\"rf/sar/gpioctl\",1,250\r\n",
                            "at+vsar=2,1\r\n"));
    EXPECT_TRUE(queryRoundsFrom(commands, 6)) << ::testing::PrintToString(commands);
    EXPECT_EQ(machine().mbn().modem().BootCount(), 2u);

    // Paused, a suspend and resume still checks again, without a set command.
    EXPECT_EQ(services().Send(SERVICE_CONTROL_PAUSE), static_cast<uint32_t>(NO_ERROR));
    machine().power().Send(PBT_APMSUSPEND);
    machine().power().Send(PBT_APMRESUMEAUTOMATIC);
    commands = AwaitCommands(commands.size() + 2);
    EXPECT_TRUE(queryRoundsFrom(commands, 6)) << ::testing::PrintToString(commands);
    EXPECT_EQ(services().Send(SERVICE_CONTROL_CONTINUE), static_cast<uint32_t>(NO_ERROR));

    const int closesBeforeStop = machine().mbn().CloseSessionCalls();
    {
        // Instant time stands still until the worker has ended: the stop is measured from there.
        sim::Clock::Hold hold(machine().clock());
        EXPECT_EQ(services().Send(SERVICE_CONTROL_STOP), static_cast<uint32_t>(NO_ERROR));
        while (CHalvexService::GetInstance()->m_bTaskThreadRunning) {
            std::this_thread::yield();
        }
    }
    process.join();
    EXPECT_EQ(exitCode, 0);
    // The stop closes the modem's command session itself.
    EXPECT_EQ(machine().mbn().CloseSessionCalls(), closesBeforeStop + 1);
    // The handler reports on the main thread, the service main on its own.
    EXPECT_THAT(ReportFields(), ElementsAre(Fields{SERVICE_START_PENDING, 0, 1, 1000, 0}, Fields{SERVICE_RUNNING, 3, 0, 0, 0},
                                            Fields{SERVICE_PAUSE_PENDING, 3, 2, 0, 1},
                                            Fields{SERVICE_CONTINUE_PENDING, 3, 3, 0, 1},
                                            Fields{SERVICE_STOP_PENDING, 3, 4, 0, 1}, Fields{SERVICE_STOPPED, 3, 0, 0, 0}));
    const auto reports = services().Reports();
    EXPECT_LE(reports[5].time - reports[4].time, std::chrono::seconds(1));
    ExpectServiceMainAwaited();

    // The stop's lines, as far as they came before the handler ended the logging.
    const std::vector<std::string> stopLines = {"i :   SERVICE_CONTROL_STOP", "i :   wait for task thread end.",
                                                "i :   task thread has been stopped successfully.",
                                                "i :   ServiceDestroy success", "w :   SERVICE STOPPED."};
    const auto lines = Logged(stopLines);
    ASSERT_TRUE(!lines.empty() && lines.size() <= stopLines.size()) << ::testing::PrintToString(lines);
    EXPECT_TRUE(std::equal(lines.begin(), lines.end(), stopLines.begin())) << ::testing::PrintToString(lines);
}

}  // namespace
