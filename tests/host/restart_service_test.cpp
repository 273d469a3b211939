// The restart request: the service control manager's answer chooses the
// command line, the shell gets it hidden and elevated, every failure is one
// log line and no launch, and only the first request of a process counts.
#include <gmock/gmock.h>

#include <windows.h>
#include <shellapi.h>

#include "host/restart_service.h"
#include "log_file.h"
#include "logging/log_helper.h"
#include "machine_fixture.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kService = sim::ServiceDatabase::kServiceName;

class Restart : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        LogHelper::Init();
    }
    sim::ServiceDatabase& database() { return machine().serviceDatabase(); }
    std::vector<sim::Shell::Launch> Launches() { return machine().shell().Launches(); }
};

struct ProcessIdCase {
    const char* name;
    uint32_t processId;
    const char* parameters;
};

void PrintTo(const ProcessIdCase& processIdCase, std::ostream* out)
{
    *out << processIdCase.name;
}

class RestartCommand : public Restart, public ::testing::WithParamInterface<ProcessIdCase> {};

TEST_P(RestartCommand, LaunchesTheCommandOfTheReportedProcessIdOnceHiddenAndElevated)
{
    database().SetProcessId(kService, GetParam().processId);
    RestartService();
    RestartService();

    auto launches = Launches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].verb, "runas");
    EXPECT_EQ(launches[0].file, "cmd.exe");
    EXPECT_EQ(launches[0].parameters, GetParam().parameters);
    EXPECT_EQ(launches[0].directory, "");
    EXPECT_EQ(launches[0].show, SW_HIDE);
    EXPECT_EQ(launches[0].mask, 0x40u);
    EXPECT_EQ(database().OpenHandles(), 0u);
    EXPECT_THAT(testsupport::ShutdownAndReadLogMessages(),
                ElementsAre("i :   RestartService Processing", "i :    RestartService success."));
}

INSTANTIATE_TEST_SUITE_P(
    ProcessIds, RestartCommand,
    ::testing::Values(
        ProcessIdCase{"Running", 4321, "/C taskkill /pid 4321 /f & ping -n 1 127.0.0.1>nul & net start \"Varnick Halvex Service\""},
        ProcessIdCase{"Stopped", 0, "/c net start \"Varnick Halvex Service\""},
        ProcessIdCase{"Negative", 0xFFFFFFFBu, "/c net start \"Varnick Halvex Service\""}),
    [](const auto& info) { return std::string(info.param.name); });

enum class Failing { Manager, Service, Query, Shell };

struct FailureCase {
    const char* name;
    Failing step;
    const char* line;
};

void PrintTo(const FailureCase& failure, std::ostream* out)
{
    *out << failure.name;
}

class RestartFailure : public Restart, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(RestartFailure, LogsTheFailingStepLaunchesNothingAndClosesWhatItOpened)
{
    database().SetProcessId(kService, 4321);
    switch (GetParam().step) {
    case Failing::Manager:
        database().Fail(sim::ServiceDatabase::Call::OpenManager, ERROR_ACCESS_DENIED);
        break;
    case Failing::Service:
        database().Uninstall(kService);
        break;
    case Failing::Query:
        database().Fail(sim::ServiceDatabase::Call::QueryStatus, ERROR_ACCESS_DENIED);
        break;
    case Failing::Shell:
        machine().shell().FailLaunches(1223);  // the user declined the elevation
        break;
    }
    RestartService();

    EXPECT_THAT(Launches(), IsEmpty());
    EXPECT_EQ(database().OpenHandles(), 0u);
    EXPECT_THAT(testsupport::ShutdownAndReadLogMessages(),
                ElementsAre("i :   RestartService Processing", GetParam().line));
}

INSTANTIATE_TEST_SUITE_P(Steps, RestartFailure,
                         ::testing::Values(FailureCase{"Manager", Failing::Manager, "i :   OpenSCManager fail(5)"},
                                           FailureCase{"Service", Failing::Service, "i :   OpenService hsc error"},
                                           FailureCase{"Query", Failing::Query, "i :    QueryServiceStatusEx failed."},
                                           FailureCase{"Shell", Failing::Shell, "i :    RestartService failed.Error = 0x4c7"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
