#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "log_file.h"
#include "logging/log_helper.h"
#include "machine_fixture.h"

namespace {

// 3 March 2024 08:15:42 local time.
std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second)
{
    struct tm parts = {};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    parts.tm_isdst = -1;
    return mktime(&parts);
}

}  // namespace

using LogFile = MachineTest;

TEST_F(LogFile, IsNamedAfterTheLocalStartTimeAndASecondStartInTheSameSecondAppends)
{
    machine().clock().PinWallTime(LocalTime(2024, 3, 3, 8, 15, 42));
    LogHelper::Init();
    LogHelper::Log(LOG_LEVEL_INFO, "F", "first run");
    LogHelper::Shutdown();
    LogHelper::Init();
    LogHelper::Log(LOG_LEVEL_INFO, "F", "second run");
    auto lines = testsupport::ShutdownAndReadLogMessages();

    EXPECT_EQ(machine().fileSystem().List(testsupport::LogFolder()),
              std::vector<std::string>{"varnick_dpr_service_log_2024-03-03_08.15.42.log"});
    EXPECT_EQ(lines, (std::vector<std::string>{"i :   first run", "i :   second run"}));
    EXPECT_EQ(testsupport::LogFolder(), "C:\\ProgramData\\Varnick Wireless Inc\\DPR Service");
}

TEST_F(LogFile, RotatesPastOneMebibyteKeepingTheNameParts)
{
    machine().clock().PinWallTime(LocalTime(2024, 3, 3, 8, 15, 42));
    LogHelper::Init();
    std::string text(1000, 'r');
    for (int n = 0; n < 1100; ++n) {  // about 1.1 MB of lines
        LogHelper::Log(LOG_LEVEL_INFO, "F", "%04d %s", n, text.c_str());
    }
    auto lines = testsupport::ShutdownAndReadLogMessages();
    auto& fs = machine().fileSystem();
    auto names = fs.List(testsupport::LogFolder());
    ASSERT_EQ(names, (std::vector<std::string>{"varnick_dpr_service_log_2024-03-03_08.15.42.1.log",
                                               "varnick_dpr_service_log_2024-03-03_08.15.42.log"}));
    for (const auto& name : names) {
        EXPECT_LE(std::filesystem::file_size(fs.HostPath(testsupport::LogFolder() + "\\" + name)), 1048576u);
    }
    EXPECT_EQ(lines.size(), 1100u);  // nothing lost across the rotation
}

TEST_F(LogFile, CallsBeforeInitAndAfterShutdownWriteAndPrintNothing)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    LogHelper::Log(LOG_LEVEL_ERROR, "F", "before init");
    LogHelper::LogSingleLine("F", "before init");
    { LogScope scope("BeforeInit"); }
    EXPECT_FALSE(machine().fileSystem().Exists(testsupport::LogFolder()));

    LogHelper::Init();
    LogHelper::Log(LOG_LEVEL_INFO, "F", "while running");
    LogHelper::Shutdown();
    LogHelper::Shutdown();  // twice is harmless
    LogHelper::Log(LOG_LEVEL_ERROR, "F", "after shutdown");
    LogHelper::LogSingleLine("F", "after shutdown");
    { LogScope scope("AfterShutdown"); }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    EXPECT_EQ(testsupport::ShutdownAndReadLogMessages(), std::vector<std::string>{"i :   while running"});
}

TEST_F(LogFile, AFolderThatCannotBeCreatedLeavesTheServiceRunningWithoutALog)
{
    // A file stands where the vendor folder should be.
    machine().fileSystem().WriteFile("C:\\ProgramData\\Varnick Wireless Inc", "not a folder");
    testing::internal::CaptureStderr();
    LogHelper::Init();
    LogHelper::Log(LOG_LEVEL_ERROR, "F", "nowhere to go");
    { LogScope scope("Scope"); }
    LogHelper::Shutdown();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(machine().fileSystem().ReadFile("C:\\ProgramData\\Varnick Wireless Inc"), "not a folder");
}

TEST_F(LogFile, WithoutProgramDataTheFolderHangsOffTheDriveRoot)
{
    machine().environment().Unset("programdata");
    LogHelper::Init();
    LogHelper::Log(LOG_LEVEL_INFO, "F", "still logged");
    EXPECT_EQ(testsupport::ShutdownAndReadLogMessages(), std::vector<std::string>{"i :   still logged"});
    EXPECT_EQ(testsupport::LogFolder(), "\\Varnick Wireless Inc\\DPR Service");
}

TEST_F(LogFile, ShutdownWhileOtherThreadsLogIsHarmless)
{
    LogHelper::Init();
    std::atomic<bool> stop{false};
    std::vector<std::thread> loggers;
    for (int t = 0; t < 3; ++t) {
        loggers.emplace_back([&stop] {
            while (!stop) {
                LogHelper::Log(LOG_LEVEL_INFO, "F", "busy");
                LogScope scope("Busy");
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    LogHelper::Shutdown();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop = true;
    for (auto& thread : loggers) {
        thread.join();
    }
    EXPECT_FALSE(testsupport::ShutdownAndReadLogMessages().empty());
}
