#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include "machine_fixture.h"
#include "sim/service_database.h"
#include "sim/shell.h"

namespace {

using ServiceDatabase = MachineTest;

TEST_F(ServiceDatabase, RefusesWhatTheServiceControlManagerRefuses)
{
    // A bit that names no right of the manager is denied; every right that exists is granted.
    for (DWORD access : {0x40u, 0x00100000u, 0x04000000u}) {
        EXPECT_EQ(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS | access), nullptr) << access;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << access;
    }
    EXPECT_EQ(machine().serviceDatabase().OpenHandles(), 0u);
    SC_HANDLE reader = OpenSCManagerW(nullptr, nullptr, GENERIC_READ | 0x02000000u | 0x010F0000u);
    ASSERT_NE(reader, nullptr);
    EXPECT_TRUE(CloseServiceHandle(reader));
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(OpenServiceW(manager, L"Other Service", SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));

    SC_HANDLE service = OpenServiceW(manager, L"varnick HALVEX service", SERVICE_QUERY_STATUS);
    ASSERT_NE(service, nullptr);
    BYTE small[sizeof(SERVICE_STATUS_PROCESS) - 1];
    DWORD needed = 0;
    EXPECT_FALSE(QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, small, sizeof(small), &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, sizeof(SERVICE_STATUS_PROCESS));
    EXPECT_FALSE(QueryServiceStatusEx(reinterpret_cast<SC_HANDLE>(manager), SC_STATUS_PROCESS_INFO, small,
                                      sizeof(small), &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    EXPECT_EQ(machine().serviceDatabase().OpenHandles(), 2u);
    EXPECT_TRUE(CloseServiceHandle(service));
    EXPECT_FALSE(CloseServiceHandle(service));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(CloseServiceHandle(manager));
    EXPECT_EQ(machine().serviceDatabase().OpenHandles(), 0u);
}

TEST(Shell, RefusesARecordOfAnotherSize)
{
    sim::Machine::Get().Reset();
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info) - 8;
    info.lpFile = L"cmd.exe";
    EXPECT_FALSE(ShellExecuteExW(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(sim::Machine::Get().shell().Launches().empty());
}

// How halvex-sim reads what the restart path asks the shell to run.
class ShellCommandLine : public ::testing::Test {
protected:
    static constexpr uint32_t kService = 4242;
    void SetUp() override { services.Reset(); }

    std::vector<sim::Shell::Effect> Run(const std::string& parameters, const std::string& file = "cmd.exe")
    {
        effects = sim::Shell::Effects({"runas", file, parameters, "", 0, 0x40, 0}, kService, services);
        return effects;
    }
    std::string Described() const { return sim::Shell::Describe(effects); }

    sim::ServiceDatabase services;
    std::vector<sim::Shell::Effect> effects;
};

TEST_F(ShellCommandLine, TheCrashLineEndsTheServiceWaitsAndStartsItAgain)
{
    Run("/C taskkill /pid 4242 /f & ping -n 1 127.0.0.1>nul & net start \"Varnick Halvex Service\"");
    EXPECT_EQ(Described(), "ended process 4242; waited 1 ms; started \"Varnick Halvex Service\"");
    EXPECT_TRUE(sim::Shell::Kills(effects, kService));
    EXPECT_TRUE(sim::Shell::StartsService(effects));
    EXPECT_EQ(sim::Shell::WaitMs(effects), 1u);
    // Echoes are a second apart; no host but the laptop itself answers.
    EXPECT_EQ(sim::Shell::WaitMs(Run("/C ping -n 2 localhost")), 1001u);
    EXPECT_EQ(sim::Shell::WaitMs(Run("/C ping -n 1 10.0.0.1")), 0u);
}

TEST_F(ShellCommandLine, TheFailedStartLineOnlyStarts)
{
    Run("/c net start \"Varnick Halvex Service\"");
    EXPECT_EQ(Described(), "started \"Varnick Halvex Service\"");
    EXPECT_FALSE(sim::Shell::Kills(effects, kService));
}

TEST_F(ShellCommandLine, AnotherProcessIdEndsNothingAndTheRestStillRuns)
{
    Run("/C taskkill /pid 4243 /f & net start \"Varnick Halvex Service\"");
    EXPECT_FALSE(sim::Shell::Kills(effects, 4243));
    EXPECT_FALSE(sim::Shell::Kills(effects, kService));
    EXPECT_EQ(Described(), "refused \"taskkill /pid 4243 /f\": the process \"4243\" not found (the service's "
                           "process is 4242); started \"Varnick Halvex Service\"");
    // Without /f a service's process is not ended.
    EXPECT_FALSE(sim::Shell::Kills(Run("/C taskkill /pid 4242"), kService));
}

TEST_F(ShellCommandLine, OnlyAnInstalledServiceStartsWhateverTheCaseOfItsName)
{
    Run("/c net start \"Varnick Halvex\"");
    EXPECT_FALSE(sim::Shell::StartsService(effects));
    EXPECT_EQ(Described(), "refused \"net start Varnick Halvex\": The service name is invalid.");
    EXPECT_TRUE(sim::Shell::StartsService(Run("/c NET.EXE start \"varnick HALVEX service\"")));
    services.Uninstall(sim::ServiceDatabase::kServiceName);
    EXPECT_FALSE(sim::Shell::StartsService(Run("/c net start \"Varnick Halvex Service\"")));
    // Unquoted, the name is three arguments: net refuses the line.
    services.Install("Halvex");
    EXPECT_FALSE(sim::Shell::StartsService(Run("/c net start Halvex Service")));
    EXPECT_TRUE(sim::Shell::StartsService(Run("/c net start Halvex")));
}

TEST_F(ShellCommandLine, QuotesHideSeparatorsAndRedirectionsAreDropped)
{
    services.Install("Halvex");
    Run("/C echo \"ready & net start Halvex\"");
    EXPECT_FALSE(sim::Shell::StartsService(effects));
    EXPECT_EQ(Described(), "refused \"echo ready & net start Halvex\": not a command the laptop runs");
    // A caret takes the separator as text too.
    EXPECT_FALSE(sim::Shell::StartsService(Run("/C echo ready ^& net start Halvex")));

    std::string problem;
    const auto commands =
        sim::CmdCommands(" /c ping -n 1 127.0.0.1>nul & net start \"A B\" 2>&1 >> log & echo 1>x", problem);
    ASSERT_TRUE(commands.has_value()) << problem;
    const std::vector<std::vector<std::string>> expected{
        {"ping", "-n", "1", "127.0.0.1"}, {"net", "start", "A B"}, {"echo"}};
    EXPECT_EQ(*commands, expected);
}

TEST_F(ShellCommandLine, NothingRunsWithoutCmdExeAndItsSlashC)
{
    Run("/C net start \"Varnick Halvex Service\"", "powershell.exe");
    EXPECT_EQ(Described(), "refused \"powershell.exe\" is not cmd.exe: nothing runs");
    EXPECT_FALSE(sim::Shell::Kills(Run("/pid 4242 /f", "C:\\Windows\\System32\\taskkill.exe"), kService));
    for (const char* line : {"/K net start \"Varnick Halvex Service\"", "net start \"Varnick Halvex Service\"",
                             "/C taskkill /pid 4242 /f && net start \"Varnick Halvex Service\"",
                             "/C & net start \"Varnick Halvex Service\""}) {
        Run(line);
        EXPECT_EQ(effects.size(), 1u) << line;
        EXPECT_FALSE(sim::Shell::Kills(effects, kService) || sim::Shell::StartsService(effects)) << line;
    }
    EXPECT_TRUE(sim::Shell::StartsService(
        Run("/c net start \"Varnick Halvex Service\"", "C:\\Windows\\System32\\CMD.EXE")));
}

}  // namespace
