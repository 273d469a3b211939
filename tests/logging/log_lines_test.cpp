#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <thread>

#include <windows.h>

#include "log_file.h"
#include "logging/log_helper.h"
#include "machine_fixture.h"

using testing::ElementsAre;
using testing::HasSubstr;

namespace {

std::string ThreadId()
{
    char id[16];
    std::snprintf(id, sizeof(id), "%08x", static_cast<unsigned>(GetCurrentThreadId()));
    return id;
}

}  // namespace

using LogLines = MachineTest;

TEST_F(LogLines, EveryLevelHasItsOwnForm)
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
        LogHelper::Log(LOG_LEVEL_INFO, "F", "inside");
    }

    std::string tid = ThreadId();
    EXPECT_THAT(testsupport::ShutdownAndReadLogPayloads(),
                ElementsAre(tid + " e :   x", tid + " i :   info 2", tid + " w :   warn w", tid + " i :   four",
                            "bare {braces} kept", tid + " h :   CHalvexService::ServiceRun, x",
                            tid + " h : + VerifyPlatform", tid + " i :   inside", tid + " h : - VerifyPlatform"));
}

TEST_F(LogLines, StampIsLocalDateAndTimeWithMillisecondsAndLinesEndInCrLf)
{
    LogHelper::Init();
    LogHelper::Log(LOG_LEVEL_INFO, "F", "one");
    LogHelper::Log(LOG_LEVEL_INFO, "F", "two");
    LogHelper::Shutdown();
    auto& fs = machine().fileSystem();
    auto names = fs.List(testsupport::LogFolder());
    ASSERT_EQ(names.size(), 1u);
    std::string content = fs.ReadFile(testsupport::LogFolder() + "\\" + names[0]);
    std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} [0-9a-f]{8} i :   (one|two)\r\n)");
    std::string first = content.substr(0, content.find('\n') + 1);
    EXPECT_TRUE(std::regex_match(first, line)) << first;
    EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 2);
    EXPECT_EQ(std::count(content.begin(), content.end(), '\r'), 2);
}

TEST_F(LogLines, SingleLineTurnsLineBreaksIntoTabsWhileLogKeepsThem)
{
    LogHelper::Init();
    LogHelper::LogSingleLine("CVarnickMbimManager::SendCommandByATOverMBIM", "at over mbim[TX]: %s",
                             "AT+VCFG?\r\n");
    LogHelper::Log(LOG_LEVEL_INFO, "F", "a\r\nb");
    auto lines = testsupport::ShutdownAndReadLogMessages();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "i :   at over mbim[TX]: AT+VCFG?\t\t");
    EXPECT_EQ(lines[1], "i :   a");  // the break stays a break in the file
    EXPECT_EQ(lines[2], "b");
}

TEST_F(LogLines, MessagesAreCutAt1023Characters)
{
    LogHelper::Init();
    std::string longText(2000, 'm');
    LogHelper::Log(LOG_LEVEL_ERROR, "F", "%s", longText.c_str());
    LogHelper::LogSingleLine("F", "%s", longText.c_str());
    auto lines = testsupport::ShutdownAndReadLogMessages();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "e :   " + std::string(1023, 'm'));
    EXPECT_EQ(lines[1], "i :   " + std::string(1023, 'm'));
}

TEST_F(LogLines, LinesFromManyThreadsAllArriveWhole)
{
    LogHelper::Init();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int n = 0; n < 200; ++n) {
                if (n % 2) {
                    LogHelper::Log(LOG_LEVEL_INFO, "F", "thread %d line %d", t, n);
                } else {
                    LogScope scope("Scoped");
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    auto lines = testsupport::ShutdownAndReadLogMessages();
    EXPECT_EQ(lines.size(), 4u * (100 + 200));
    EXPECT_TRUE(testsupport::AnyContains(lines, "thread 3 line 199"));
}
