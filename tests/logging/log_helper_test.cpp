#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include <windows.h>

#include "log_file.h"
#include "logging/log_helper.h"
#include "machine_fixture.h"

namespace {

// 2024-03-03 08:15:42 UTC is 13:45:42 in the tests' zone (UTC+5:30).
constexpr std::time_t kStart = 1709453742;
const std::string kFileName = "varnick_dpr_service_log_2024-03-03_13.45.42";

std::string LogPath(const std::string& suffix)
{
    return testsupport::LogFolder() + "\\" + kFileName + suffix;
}

class LogHelperTest : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        machine().clock().PinWallTime(kStart);
    }
};

}  // namespace

TEST_F(LogHelperTest, EveryCallHasItsLineForm)
{
    LogHelper::Init();
    LogHelper::Log(LOG_LEVEL_ERROR, "CHalvexService::ServiceRun", "x");
    LogHelper::Log(LOG_LEVEL_INFO, "F", "info %d", 2);
    LogHelper::Log(LOG_LEVEL_WARNING, "F", "warn %s", "w");
    LogHelper::Log(LOG_LEVEL_INFO_ALT, "F", "four");
    LogHelper::Log(LOG_LEVEL_BARE, "F", "bare {braces} kept");
    LogHelper::Log(LOG_LEVEL_TRACE, "CHalvexService::ServiceRun", "x");
    LogHelper::Log(7, "F", "never written");
    LogHelper::Log(0, "F", "never written");
    {
        LogScope scope("VerifyPlatform");
        LogHelper::LogSingleLine("F", "at[TX]: %s", "AT+VCFG?\r\n");
    }
    LogHelper::Log(LOG_LEVEL_INFO, "F", "a\r\nb");
    LogHelper::Log(LOG_LEVEL_ERROR, "F", "%s", std::string(2000, 'm').c_str());
    const wchar_t unencodable[] = {0xD800, 0};
    LogHelper::Log(LOG_LEVEL_INFO, "F", "partial %ls", unencodable);  // the format fails

    char tid[16];
    std::snprintf(tid, sizeof(tid), "%08x", static_cast<unsigned>(GetCurrentThreadId()));
    const std::string t = tid;
    EXPECT_EQ(testsupport::ShutdownAndReadLogPayloads(),
              (std::vector<std::string>{t + " e :   x", t + " i :   info 2", t + " w :   warn w", t + " i :   four",
                                        "bare {braces} kept", t + " h :   CHalvexService::ServiceRun, x",
                                        t + " h : + VerifyPlatform", t + " i :   at[TX]: AT+VCFG?\t\t",
                                        t + " h : - VerifyPlatform", t + " i :   a", "b",
                                        t + " e :   " + std::string(1023, 'm'), t + " i :   "}));
}

TEST_F(LogHelperTest, FileAndLinesCarryTheLocalTimeAndEveryInitInTheSameSecondAppends)
{
    LogHelper::Init();
    LogHelper::Log(LOG_LEVEL_INFO, "F", "first");
    LogHelper::Init();  // without a shutdown: the logger is replaced
    LogHelper::Log(LOG_LEVEL_INFO, "F", "second");
    LogHelper::Shutdown();
    LogHelper::Init();
    LogHelper::Log(LOG_LEVEL_INFO, "F", "third");
    LogHelper::Shutdown();

    EXPECT_EQ(machine().fileSystem().List(testsupport::LogFolder()), std::vector<std::string>{kFileName + ".log"});
    // The file's name and its lines carry the same (simulated) local time.
    std::string content = machine().fileSystem().ReadFile(LogPath(".log"));
    std::regex line(R"((\S+ \d\d:\d\d:\d\d)\.\d{3} [0-9a-f]{8} i :   (\w+)\r\n)");
    std::vector<std::string> messages;
    size_t matched = 0;
    for (std::sregex_iterator it(content.begin(), content.end(), line), end; it != end; ++it) {
        EXPECT_EQ((*it)[1].str(), "2024-03-03 13:45:42");
        messages.push_back((*it)[2]);
        matched += it->length();
    }
    EXPECT_EQ(messages, (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_EQ(matched, content.size()) << content;
    EXPECT_EQ(testsupport::LogFolder(), "C:\\ProgramData\\Varnick Wireless Inc\\DPR Service");
}

TEST_F(LogHelperTest, RotationPastOneMebibyteKeepsTheCurrentFileAnd100NumberedOnes)
{
    auto& fs = machine().fileSystem();
    LogHelper::Init();  // the service's own folders
    LogHelper::Shutdown();
    for (int n = 1; n <= 100; ++n) {
        fs.WriteFile(LogPath("." + std::to_string(n) + ".log"), std::to_string(n));
    }
    std::filesystem::resize_file(fs.WriteFile(LogPath(".log"), ""), 1048576 - 100);
    LogHelper::Init();
    LogHelper::Log(LOG_LEVEL_INFO, "F", "fits");  // a line of 45 bytes
    LogHelper::Log(LOG_LEVEL_INFO, "F", "%060d", 0);  // 101 bytes: past the limit
    LogHelper::Shutdown();

    EXPECT_EQ(fs.List(testsupport::LogFolder()).size(), 101u);
    EXPECT_EQ(fs.ReadFile(LogPath(".100.log")), "99");  // the oldest went, the others moved up
    EXPECT_EQ(std::filesystem::file_size(fs.HostPath(LogPath(".1.log"))), 1048576u - 100 + 45);
    EXPECT_THAT(fs.ReadFile(LogPath(".log")), testing::EndsWith(" i :   " + std::string(60, '0') + "\r\n"));
}

TEST_F(LogHelperTest, WithoutALoggerCallsWriteAndPrintNothing)
{
    auto& fs = machine().fileSystem();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    LogHelper::Log(LOG_LEVEL_ERROR, "F", "before init");
    { LogScope scope("BeforeInit"); }
    EXPECT_FALSE(fs.Exists(testsupport::LogFolder()));

    LogHelper::Init();
    LogHelper::Log(LOG_LEVEL_INFO, "F", "while running");
    LogHelper::Shutdown();
    LogHelper::Shutdown();  // twice is harmless
    LogHelper::Log(LOG_LEVEL_ERROR, "F", "after shutdown");
    LogHelper::LogSingleLine("F", "after shutdown");
    { LogScope scope("AfterShutdown"); }

    // A file where the vendor folder should be: no log, the service runs on.
    fs.WriteFile("C:\\Blocked\\Varnick Wireless Inc", "not a folder");
    machine().environment().Set("programdata", "C:\\Blocked");
    LogHelper::Init();
    LogHelper::Log(LOG_LEVEL_ERROR, "F", "nowhere to go");
    { LogScope scope("Scope"); }
    machine().environment().Set("programdata", "C:\\ProgramData");

    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(fs.ReadFile("C:\\Blocked\\Varnick Wireless Inc"), "not a folder");
    EXPECT_EQ(testsupport::ShutdownAndReadLogMessages(), std::vector<std::string>{"i :   while running"});
}

TEST_F(LogHelperTest, WithoutProgramDataTheFolderHangsOffTheDriveRoot)
{
    machine().environment().Unset("programdata");
    LogHelper::Init();
    LogHelper::Log(LOG_LEVEL_INFO, "F", "still logged");
    EXPECT_EQ(testsupport::ShutdownAndReadLogMessages(), std::vector<std::string>{"i :   still logged"});
    EXPECT_TRUE(machine().fileSystem().Exists("C:\\Varnick Wireless Inc\\DPR Service\\" + kFileName + ".log"));
}

TEST_F(LogHelperTest, ShutdownWhileAnotherThreadLogsIsHarmless)
{
    LogHelper::Init();
    std::atomic<int> calls{0};
    std::atomic<bool> stop{false};
    std::thread logger([&] {
        for (; !stop; ++calls) {
            LogHelper::Log(LOG_LEVEL_INFO, "F", "busy");
            LogScope scope("Busy");
        }
    });
    for (int target : {50, 100}) {  // calls before and after the shutdown
        while (calls < target) {
            std::this_thread::yield();
        }
        LogHelper::Shutdown();
    }
    stop = true;
    logger.join();
    EXPECT_TRUE(testsupport::AnyContains(testsupport::ShutdownAndReadLogMessages(), "busy"));
}
