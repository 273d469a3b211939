#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include <windows.h>

#include "log_file.h"
#include "logging/log_helper.h"
#include "machine_fixture.h"

using testing::Contains;
using testing::Not;

namespace {

constexpr std::time_t kNow = 1700000000;
constexpr uint64_t kMiB = 1048576;
constexpr const char* kFolder = "C:\\Logs";

class Retention : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        machine().clock().PinWallTime(kNow);
        LogHelper::Init();
    }

    // A sparse file of the given size whose creation time lies ageSeconds before now.
    void MakeFile(const std::string& name, uint64_t size, std::time_t ageSeconds)
    {
        auto& fs = machine().fileSystem();
        std::string path = std::string(kFolder) + "\\" + name;
        std::filesystem::resize_file(fs.WriteFile(path, ""), size);
        fs.SetCreationTime(path, kNow - ageSeconds);
    }

    static std::string LogName(int n)
    {
        char name[64];
        std::snprintf(name, sizeof(name), "varnick_dpr_service_log_%03d.log", n);
        return name;
    }

    std::vector<std::string> Remaining() { return machine().fileSystem().List(kFolder); }

    void RunPass() { LogHelper::DeleteFileWhileExceedMaxSizeAndTime(kFolder); }
};

}  // namespace

TEST_F(Retention, YoungFilesBelowTheSizeLimitStay)
{
    for (int n = 0; n < 10; ++n) {
        MakeFile(LogName(n), kMiB, 1000 * n);
    }
    RunPass();
    EXPECT_EQ(Remaining().size(), 10u);
    auto lines = testsupport::ShutdownAndReadLogMessages();
    EXPECT_EQ(lines, (std::vector<std::string>{"h : + LogHelper::DeleteFileWhileExceedMaxSizeAndTime",
                                               "h : - LogHelper::DeleteFileWhileExceedMaxSizeAndTime"}));
}

TEST_F(Retention, OldestGoFirstUntilTheRestHoldLessThan100MiB)
{
    // File n is n hours old: 000 is the youngest.
    for (int n = 0; n < 120; ++n) {
        MakeFile(LogName(n), kMiB, 3600 * n);
    }
    RunPass();
    auto remaining = Remaining();
    ASSERT_EQ(remaining.size(), 99u);  // 99 MiB < 100 MiB <= 100 MiB
    EXPECT_EQ(remaining.back(), LogName(98));
    auto lines = testsupport::ShutdownAndReadLogMessages();
    EXPECT_THAT(lines, Contains("i :   delete varnick_dpr_service_log_119.log. item.size = 1048576"));
    EXPECT_THAT(lines, Contains("i :   delete varnick_dpr_service_log_099.log. item.size = 1048576"));
    EXPECT_THAT(lines, Not(Contains("i :   delete varnick_dpr_service_log_098.log. item.size = 1048576")));
}

TEST_F(Retention, ExactlyTheSizeLimitDeletesTheOldest)
{
    for (int n = 0; n < 100; ++n) {
        MakeFile(LogName(n), kMiB, 60 * n);
    }
    RunPass();
    auto remaining = Remaining();
    EXPECT_EQ(remaining.size(), 99u);
    EXPECT_THAT(remaining, Not(Contains(LogName(99))));
}

TEST_F(Retention, FilesOf90DaysOrMoreGoWhateverTheTotal)
{
    MakeFile(LogName(1), 10, 91 * 86400);
    MakeFile(LogName(2), 10, 7776000);      // exactly 90 days: the test is strictly below
    MakeFile(LogName(3), 10, 7776000 - 1);  // one second younger stays
    MakeFile(LogName(4), 10, 60);
    MakeFile(LogName(5), 10, -3600);        // clock set back: a negative age stays
    RunPass();
    EXPECT_EQ(Remaining(), (std::vector<std::string>{LogName(3), LogName(4), LogName(5)}));
}

TEST_F(Retention, FutureFilesGoOnlyWhenTheSizeForcesThem)
{
    MakeFile(LogName(1), 60 * kMiB, -7200);
    MakeFile(LogName(2), 50 * kMiB, -3600);
    RunPass();
    // The larger age (-3600) is older than -7200: it goes first and is enough.
    EXPECT_EQ(Remaining(), (std::vector<std::string>{LogName(1)}));
}

TEST_F(Retention, TiesInAgeGoLargerFirstThenGreaterName)
{
    const uint64_t young = 104857600 - 25;
    MakeFile("varnick_dpr_service_log_young.log", young, 10);
    MakeFile("varnick_dpr_service_log_a.log", 10, 500);
    MakeFile("varnick_dpr_service_log_b.log", 20, 500);
    RunPass();  // 5 bytes over: b (larger) goes, then the total is below the limit
    EXPECT_EQ(Remaining(),
              (std::vector<std::string>{"varnick_dpr_service_log_a.log", "varnick_dpr_service_log_young.log"}));
}

TEST_F(Retention, EqualAgeAndSizeGoesByTheGreaterNameFirst)
{
    MakeFile("varnick_dpr_service_log_young.log", 104857600 - 35, 10);
    MakeFile("varnick_dpr_service_log_a.log", 20, 500);
    MakeFile("varnick_dpr_service_log_b.log", 20, 500);
    RunPass();
    EXPECT_EQ(Remaining(),
              (std::vector<std::string>{"varnick_dpr_service_log_a.log", "varnick_dpr_service_log_young.log"}));
}

TEST_F(Retention, OnlyTheServicesFilesAreCountedAndRotatedOnesMatch)
{
    MakeFile("other_log_2024.log", 200 * kMiB, 100 * 86400);
    MakeFile("varnick_dpr_service_log_2024.txt", 10, 100 * 86400);
    MakeFile("varnick_dpr_service_log_2024-01-01_00.00.00.1.log", 10, 100 * 86400);
    MakeFile("VARNICK_DPR_SERVICE_LOG_upper.LOG", 10, 100 * 86400);  // names match without regard to case
    MakeFile("varnick_dpr_service_log_2024-01-01_00.00.00.log", 10, 60);
    std::filesystem::create_directories(machine().fileSystem().HostPath(std::string(kFolder) +
                                                                        "\\varnick_dpr_service_log_dir.log"));
    RunPass();
    EXPECT_EQ(Remaining(), (std::vector<std::string>{"other_log_2024.log", "varnick_dpr_service_log_2024-01-01_00.00.00.log",
                                                     "varnick_dpr_service_log_2024.txt",
                                                     "varnick_dpr_service_log_dir.log"}));
}

TEST_F(Retention, AMissingFolderDeletesNothing)
{
    LogHelper::DeleteFileWhileExceedMaxSizeAndTime("C:\\Nowhere");
    auto lines = testsupport::ShutdownAndReadLogMessages();
    EXPECT_EQ(lines.size(), 2u);
}

TEST_F(Retention, RunLogRetentionPrunesTheServicesOwnFolderOnItsOwnThread)
{
    auto& fs = machine().fileSystem();
    std::string old = testsupport::LogFolder() + "\\varnick_dpr_service_log_old.log";
    fs.WriteFile(old, "old");
    fs.SetCreationTime(old, kNow - 100 * 86400);
    LogHelper::RunLogRetention();
    EXPECT_FALSE(fs.Exists(old));
    auto lines = testsupport::ShutdownAndReadLogPayloads();
    // The pass ran on another thread than this one.
    char tid[16];
    std::snprintf(tid, sizeof(tid), "%08x", static_cast<unsigned>(GetCurrentThreadId()));
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.front().substr(0, 8), tid);
}
