#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include <windows.h>

#include "log_file.h"
#include "logging/log_helper.h"
#include "machine_fixture.h"

using testing::EndsWith;

namespace {

constexpr std::time_t kNow = 1700000000;
constexpr std::time_t kDay = 86400;
constexpr uint64_t kMiB = 1048576;
constexpr const char* kFolder = "C:\\Logs";
const std::string kEntry = "h : + LogHelper::DeleteFileWhileExceedMaxSizeAndTime";
const std::string kExit = "h : - LogHelper::DeleteFileWhileExceedMaxSizeAndTime";
const std::string kNoPattern = "i :   no search pattern fits the log folder, nothing deleted";

std::string Log(const std::string& suffix)
{
    return "varnick_dpr_service_log_" + suffix;
}

struct AgedFile {
    std::string name;
    uint64_t size;
    std::time_t age;
};

class Retention : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        machine().clock().PinWallTime(kNow);
        LogHelper::Init();
    }

    // A sparse file whose creation time lies age seconds before now.
    void MakeFile(const std::string& path, uint64_t size, std::time_t age)
    {
        std::filesystem::resize_file(machine().fileSystem().WriteFile(path, ""), size);
        machine().fileSystem().SetCreationTime(path, kNow - age);
    }
    std::vector<std::string> Remaining() { return machine().fileSystem().List(kFolder); }
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

INSTANTIATE_TEST_SUITE_P(
    Cases, RetentionTable,
    testing::Values(
        // Exactly 90 days goes (the age must be strictly below); a negative age stays.
        RetentionCase{"NinetyDays",
                      {{Log("1.log"), 10, 91 * kDay}, {Log("2.log"), 10, 90 * kDay},
                       {Log("3.log"), 10, 90 * kDay - 1}, {Log("4.log"), 10, -3600}},
                      {Log("3.log"), Log("4.log")}},
        // 5 bytes over: of equally old files the larger goes first, then the greater name.
        RetentionCase{"EqualAges",
                      {{Log("young.log"), 100 * kMiB - 45, 10}, {Log("a.log"), 20, 500}, {Log("b.log"), 20, 500},
                       {Log("c.log"), 10, 500}},
                      {Log("a.log"), Log("c.log"), Log("young.log")}},
        // Other names are neither counted nor deleted; rotated files and other cases match.
        RetentionCase{"OnlyTheServicesFiles",
                      {{"other.log", 200 * kMiB, 100 * kDay}, {Log("1.txt"), 10, 100 * kDay},
                       {Log("2.1.log"), 10, 100 * kDay}, {"VARNICK_DPR_SERVICE_LOG_3.LOG", 10, 100 * kDay},
                       {Log("young.log"), 10, 60}},
                      {"other.log", Log("1.txt"), Log("young.log")}}),
    [](const testing::TestParamInfo<RetentionCase>& info) { return std::string(info.param.title); });

class RetentionBySize : public Retention, public testing::WithParamInterface<std::pair<int, int>> {};

// Ten young files stay; exactly 100 MiB deletes the oldest; 120 MiB keep 99.
INSTANTIATE_TEST_SUITE_P(Counts, RetentionBySize,
                         testing::Values(std::make_pair(10, 10), std::make_pair(100, 99), std::make_pair(120, 99)));

TEST_P(RetentionBySize, OldestGoFirstUntilTheRestHoldLessThan100MiB)
{
    const auto [count, kept] = GetParam();
    std::vector<std::string> keptFiles;
    std::vector<std::string> lines{kEntry};
    for (int n = count - 1; n >= 0; --n) {  // file n is n hours old
        char name[16];
        std::snprintf(name, sizeof(name), "%03d.log", n);
        MakeFile(std::string(kFolder) + "\\" + Log(name), kMiB, 3600 * n);
        if (n < kept) {
            keptFiles.insert(keptFiles.begin(), Log(name));
        } else {
            lines.push_back("i :   delete " + Log(name) + ". item.size = 1048576");
        }
    }
    lines.push_back(kExit);
    LogHelper::DeleteFileWhileExceedMaxSizeAndTime(kFolder);
    EXPECT_EQ(Remaining(), keptFiles);
    EXPECT_EQ(testsupport::ShutdownAndReadLogMessages(), lines);
}

TEST_F(Retention, AMissingFolderAFolderEntryOrNoFolderDeletesNothing)
{
    MakeFile("C:\\" + Log("old.log"), 10, 100 * kDay);
    std::filesystem::create_directories(machine().fileSystem().HostPath(kFolder) + "/" + Log("dir.log"));
    LogHelper::DeleteFileWhileExceedMaxSizeAndTime("C:\\Nowhere");
    LogHelper::DeleteFileWhileExceedMaxSizeAndTime(kFolder);
    LogHelper::DeleteFileWhileExceedMaxSizeAndTime("");  // what a folder that does not fit leaves

    EXPECT_TRUE(machine().fileSystem().Exists("C:\\" + Log("old.log")));
    EXPECT_EQ(Remaining(), std::vector<std::string>{Log("dir.log")});
    EXPECT_EQ(testsupport::ShutdownAndReadLogMessages(),
              (std::vector<std::string>{kEntry, kExit, kEntry, kExit, kEntry, kNoPattern, kExit}));
}

TEST_F(Retention, ALongProgramDataOpensNoLogAndDeletesNothing)
{
    // The folder fits in MAX_PATH; cut, its pattern would end in "varnick_dpr_service_log_*".
    const std::string programData = "C:\\" + std::string(98, 'p') + "\\" + std::string(98, 'q');
    const std::string folder = programData + "\\Varnick Wireless Inc\\DPR Service";
    ASSERT_EQ(folder.size() + std::string("\\varnick_dpr_service_log_*.log").size(), MAX_PATH + 3u);
    MakeFile(folder + "\\" + Log("x"), 10, 100 * kDay);
    MakeFile(folder + "\\" + Log("y.log"), 10, 100 * kDay);

    machine().environment().Set("programdata", programData);
    LogHelper::RunLogRetention();
    LogHelper::Init();  // the log file's path does not fit either
    LogHelper::Log(LOG_LEVEL_INFO, "F", "nowhere");
    machine().environment().Set("programdata", "C:\\" + std::string(MAX_PATH, 'p'));
    LogHelper::Init();  // nor does "programdata" itself
    LogHelper::Log(LOG_LEVEL_INFO, "F", "nowhere");

    EXPECT_EQ(machine().fileSystem().List(folder), (std::vector<std::string>{Log("x"), Log("y.log")}));
    EXPECT_FALSE(machine().fileSystem().Exists("C:\\Varnick Wireless Inc"));
    machine().environment().Set("programdata", "C:\\ProgramData");
    // The folders left as earlier versions made them get the service's own DACL first.
    EXPECT_EQ(testsupport::ShutdownAndReadLogMessages(),
              (std::vector<std::string>{"i :   log folder " + programData +
                                            "\\Varnick Wireless Inc: its inherited permissions were replaced by "
                                            "the service's own",
                                        kEntry, kNoPattern, kExit}));
}

TEST_F(Retention, AFileWhosePathDoesNotFitIsNotDeletedUnderACutName)
{
    const std::string folder = "C:\\" + std::string(100, 'a') + "\\" + std::string(115, 'b');
    const std::string name = Log(std::string(40, 'n') + ".log");
    const std::string cut = name.substr(0, MAX_PATH - 1 - folder.size() - 1);
    MakeFile(folder + "\\" + name, 10, 100 * kDay);
    MakeFile(folder + "\\" + cut, 10, 100 * kDay);
    LogHelper::DeleteFileWhileExceedMaxSizeAndTime(folder.c_str());
    EXPECT_EQ(machine().fileSystem().List(folder), (std::vector<std::string>{cut, name}));
}

TEST_F(Retention, RunLogRetentionPrunesTheServicesFolderOnItsOwnThreadAndSparesTheOpenLog)
{
    auto& fs = machine().fileSystem();
    const std::string live = fs.List(testsupport::LogFolder()).at(0);
    MakeFile(testsupport::LogFolder() + "\\" + Log("old.log"), 10, 100 * kDay);
    machine().clock().AdvanceWallTime(91 * kDay);  // the run's own log, created at start, is old now too

    LogHelper::RunLogRetention();
    LogHelper::Log(LOG_LEVEL_INFO, "F", "after the pass");

    auto payloads = testsupport::ShutdownAndReadLogPayloads();
    EXPECT_EQ(fs.List(testsupport::LogFolder()), std::vector<std::string>{live});  // open: not deletable
    ASSERT_EQ(payloads.size(), 5u);
    EXPECT_THAT(payloads[1], EndsWith("i :   delete " + Log("old.log. item.size = 10")));
    EXPECT_THAT(payloads[2], testing::HasSubstr("i :   delete " + live + ". item.size = "));
    EXPECT_THAT(payloads[4], EndsWith("i :   after the pass"));
    char tid[16];  // the pass ran on a thread of its own
    std::snprintf(tid, sizeof(tid), "%08x", static_cast<unsigned>(GetCurrentThreadId()));
    EXPECT_NE(payloads[0].substr(0, 8), tid);
}
