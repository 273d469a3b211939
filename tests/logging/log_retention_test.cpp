#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include <windows.h>

#include "log_file.h"
#include "logging/log_helper.h"
#include "machine_fixture.h"

namespace {

constexpr std::time_t kNow = 1700000000;
constexpr std::time_t kDay = 86400;
constexpr uint64_t kMiB = 1048576;
constexpr const char* kFolder = "C:\\Logs";
const std::string kEntry = "h : + LogHelper::DeleteFileWhileExceedMaxSizeAndTime";
const std::string kExit = "h : - LogHelper::DeleteFileWhileExceedMaxSizeAndTime";

class Retention : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        machine().clock().PinWallTime(kNow);
        LogHelper::Init();
    }

    // A sparse file of the given size whose creation time lies ageSeconds before now.
    void MakeFile(const std::string& path, uint64_t size, std::time_t ageSeconds)
    {
        auto& fs = machine().fileSystem();
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
};

struct AgedFile {
    std::string name;
    uint64_t size;
    std::time_t age;
};

struct RetentionCase {
    const char* title;
    std::vector<AgedFile> files;
    std::vector<std::string> kept;
};

void PrintTo(const RetentionCase& value, std::ostream* out)
{
    *out << value.title;
}

class RetentionTable : public Retention, public testing::WithParamInterface<RetentionCase> {};

}  // namespace

TEST_P(RetentionTable, DeletesWhatIsTooOldOrOverTheSizeLimit)
{
    for (const auto& file : GetParam().files) {
        MakeFile(std::string(kFolder) + "\\" + file.name, file.size, file.age);
    }
    LogHelper::DeleteFileWhileExceedMaxSizeAndTime(kFolder);
    EXPECT_EQ(Remaining(), GetParam().kept);
}

const std::string kPrefix = "varnick_dpr_service_log_";

INSTANTIATE_TEST_SUITE_P(
    Cases, RetentionTable,
    testing::Values(
        // Exactly 90 days goes: the age must be strictly below; a negative age (clock set back) stays.
        RetentionCase{"NinetyDays",
                      {{kPrefix + "1.log", 10, 91 * kDay}, {kPrefix + "2.log", 10, 90 * kDay},
                       {kPrefix + "3.log", 10, 90 * kDay - 1}, {kPrefix + "4.log", 10, -3600}},
                      {kPrefix + "3.log", kPrefix + "4.log"}},
        // The larger age (-3600) is the older one: it goes first and is enough.
        RetentionCase{"FutureFiles", {{kPrefix + "1.log", 60 * kMiB, -7200}, {kPrefix + "2.log", 50 * kMiB, -3600}},
                      {kPrefix + "1.log"}},
        // 5 bytes over the limit: of two equally old files the larger goes first.
        RetentionCase{"EqualAgeLargerFirst",
                      {{kPrefix + "young.log", 100 * kMiB - 25, 10}, {kPrefix + "a.log", 10, 500},
                       {kPrefix + "b.log", 20, 500}},
                      {kPrefix + "a.log", kPrefix + "young.log"}},
        RetentionCase{"EqualAgeAndSizeGreaterNameFirst",
                      {{kPrefix + "young.log", 100 * kMiB - 35, 10}, {kPrefix + "a.log", 20, 500},
                       {kPrefix + "b.log", 20, 500}},
                      {kPrefix + "a.log", kPrefix + "young.log"}},
        // Other names are neither counted nor deleted; rotated files and other cases match.
        RetentionCase{"OnlyTheServicesFiles",
                      {{"other_log.log", 200 * kMiB, 100 * kDay}, {kPrefix + "1.txt", 10, 100 * kDay},
                       {kPrefix + "2024-01-01_00.00.00.1.log", 10, 100 * kDay},
                       {"VARNICK_DPR_SERVICE_LOG_UPPER.LOG", 10, 100 * kDay}, {kPrefix + "young.log", 10, 60}},
                      {"other_log.log", kPrefix + "1.txt", kPrefix + "young.log"}}),
    [](const testing::TestParamInfo<RetentionCase>& info) { return std::string(info.param.title); });

class RetentionBySize : public Retention, public testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(RetentionBySize, OldestGoFirstUntilTheRestHoldLessThan100MiB)
{
    const auto [count, kept] = GetParam();
    for (int n = 0; n < count; ++n) {  // file n is n hours old
        MakeFile(std::string(kFolder) + "\\" + LogName(n), kMiB, 3600 * n);
    }
    LogHelper::DeleteFileWhileExceedMaxSizeAndTime(kFolder);

    std::vector<std::string> expectedFiles;
    for (int n = 0; n < kept; ++n) {
        expectedFiles.push_back(LogName(n));
    }
    std::vector<std::string> expectedLines{kEntry};
    for (int n = count - 1; n >= kept; --n) {
        expectedLines.push_back("i :   delete " + LogName(n) + ". item.size = 1048576");
    }
    expectedLines.push_back(kExit);
    EXPECT_EQ(Remaining(), expectedFiles);
    EXPECT_EQ(testsupport::ShutdownAndReadLogMessages(), expectedLines);
}

// Ten young files stay; exactly 100 MiB deletes the oldest; 120 MiB keep 99.
INSTANTIATE_TEST_SUITE_P(Counts, RetentionBySize,
                         testing::Values(std::make_pair(10, 10), std::make_pair(100, 99), std::make_pair(120, 99)));

TEST_F(Retention, AFolderWithoutFilesOrWithoutAPatternDeletesNothingAround)
{
    MakeFile("C:\\" + kPrefix + "old.log", 10, 100 * kDay);
    std::filesystem::create_directories(machine().fileSystem().HostPath(kFolder) + "/" + kPrefix + "dir.log");
    LogHelper::DeleteFileWhileExceedMaxSizeAndTime("C:\\Nowhere");
    LogHelper::DeleteFileWhileExceedMaxSizeAndTime(kFolder);  // a matching folder is no log file
    LogHelper::DeleteFileWhileExceedMaxSizeAndTime("");  // a folder that did not fit

    EXPECT_TRUE(machine().fileSystem().Exists("C:\\" + kPrefix + "old.log"));
    EXPECT_EQ(Remaining(), std::vector<std::string>{kPrefix + "dir.log"});
    EXPECT_EQ(testsupport::ShutdownAndReadLogMessages(),
              (std::vector<std::string>{kEntry, kExit, kEntry, kExit, kEntry,
                                        "i :   no search pattern fits the log folder, nothing deleted", kExit}));
}

TEST_F(Retention, ALongProgramDataOpensNoLogAndDeletesNothing)
{
    // The folder fits in MAX_PATH, its search pattern and the log file's path do not;
    // cut, the pattern would end in "varnick_dpr_service_log_*".
    const std::string programData = "C:\\" + std::string(98, 'p') + "\\" + std::string(98, 'q');
    const std::string folder = programData + "\\Varnick Wireless Inc\\DPR Service";
    ASSERT_EQ(folder.size() + 30, 263u);
    MakeFile(folder + "\\" + kPrefix + "x", 10, 100 * kDay);
    MakeFile(folder + "\\" + kPrefix + "y.log", 10, 100 * kDay);

    machine().environment().Set("programdata", programData);
    LogHelper::RunLogRetention();
    LogHelper::Init();  // the new logger's file would not fit either
    LogHelper::Log(LOG_LEVEL_INFO, "F", "nowhere");

    EXPECT_EQ(machine().fileSystem().List(folder), (std::vector<std::string>{kPrefix + "x", kPrefix + "y.log"}));
    machine().environment().Set("programdata", "C:\\ProgramData");
    EXPECT_EQ(testsupport::ShutdownAndReadLogMessages(),
              (std::vector<std::string>{kEntry, "i :   no search pattern fits the log folder, nothing deleted", kExit}));
}

TEST_F(Retention, RunLogRetentionPrunesTheServicesFolderOnItsOwnThreadAndSparesTheOpenLog)
{
    auto& fs = machine().fileSystem();
    const std::string live = fs.List(testsupport::LogFolder()).at(0);
    MakeFile(testsupport::LogFolder() + "\\" + kPrefix + "old.log", 10, 100 * kDay);
    machine().clock().AdvanceWallTime(91 * kDay);  // the run's own log is old now too

    LogHelper::RunLogRetention();
    LogHelper::Log(LOG_LEVEL_INFO, "F", "after the pass");

    auto payloads = testsupport::ShutdownAndReadLogPayloads();
    EXPECT_EQ(fs.List(testsupport::LogFolder()), std::vector<std::string>{live});
    ASSERT_EQ(payloads.size(), 5u);
    EXPECT_THAT(payloads[1], testing::EndsWith("i :   delete " + kPrefix + "old.log. item.size = 10"));
    // The log's creation time is its start: found too old, it could not be deleted while open.
    EXPECT_THAT(payloads[2], testing::HasSubstr("i :   delete " + live + ". item.size = "));
    EXPECT_THAT(payloads[4], testing::EndsWith("i :   after the pass"));
    // The pass ran on another thread than this one.
    char tid[16];
    std::snprintf(tid, sizeof(tid), "%08x", static_cast<unsigned>(GetCurrentThreadId()));
    EXPECT_NE(payloads[0].substr(0, 8), tid);
}
