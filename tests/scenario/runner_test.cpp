// The pieces of halvex-sim that outlive a service process: the run's folder,
// the journal it writes, and the reading of the modem's commands and of the
// expectations.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <unistd.h>

#include "journal.h"
#include "run_folder.h"
#include "report.h"
#include "run_result.h"
#include "verdict.h"

namespace {

using namespace halvex_sim;

// Only run folders that no run holds and that are older than the age go.
TEST(RunFolders, OnlyStaleFoldersOfEndedRunsAreRemoved)
{
    namespace fs = std::filesystem;
    char parent[] = "/tmp/halvex-runs-XXXXXX";
    ASSERT_NE(mkdtemp(parent), nullptr);
    ASSERT_EQ(setenv("TMPDIR", parent, 1), 0);
    const auto made = [&](const std::string& name) {
        fs::create_directories(fs::path(parent) / name / "logs");
        return fs::path(parent) / name;
    };
    const fs::path ended = made("halvex-sim-run-ended");
    const fs::path recent = made("halvex-sim-run-recent");
    const fs::path other = made("not-a-run");
    std::optional<RunFolder> running(std::in_place);
    const auto twoDaysAgo = fs::file_time_type::clock::now() - std::chrono::hours(48);
    for (const fs::path& folder : {ended, other, fs::path(running->Path())}) {
        fs::last_write_time(folder, twoDaysAgo);
    }
    RemoveStaleRunFolders(parent, std::chrono::hours(24));
    EXPECT_FALSE(fs::exists(ended));
    EXPECT_TRUE(fs::exists(recent));
    EXPECT_TRUE(fs::exists(other));
    EXPECT_TRUE(fs::exists(running->Path()));
    const std::string runningPath = running->Path();
    running.reset();  // the run ends; its folder stays until it is stale too
    EXPECT_TRUE(fs::exists(runningPath));
    RemoveStaleRunFolders(parent, std::chrono::hours(24));
    EXPECT_FALSE(fs::exists(runningPath));
    unsetenv("TMPDIR");
    fs::remove_all(parent);
}

TEST(Journal, FieldsWithLineEndsTabsAndBackslashesComeBackAsWritten)
{
    char folder[] = "/tmp/halvex-journal-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/journal.txt";
    const std::vector<std::string> at = {"at+vcfg=\"sarcfg\",\"GSM\"\r\n", "\r\n+VCFG: \\t\t\"x\"\r\n\r\nOK\r\n"};
    {
        JournalWriter journal(path);
        journal.Append("at", at);
        journal.Append("reboot");
    }
    const auto records = ReadJournal(path);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].kind, "at");
    EXPECT_EQ(records[0].fields, at);
    EXPECT_EQ(records[1].kind, "reboot");
    EXPECT_TRUE(records[1].fields.empty());
    unlink(path.c_str());
    rmdir(folder);
}

struct CommandKind {
    const char* command;
    bool query, set, pin;
};

class ModemCommands : public ::testing::TestWithParam<CommandKind> {};

TEST_P(ModemCommands, AreCountedAsTheModemTakesThem)
{
    EXPECT_EQ(IsSarQuery(GetParam().command), GetParam().query);
    EXPECT_EQ(IsSarSet(GetParam().command), GetParam().set);
    EXPECT_EQ(IsPinCommand(GetParam().command), GetParam().pin);
}

INSTANTIATE_TEST_SUITE_P(
    Vocabulary, ModemCommands,
    ::testing::Values(CommandKind{"at+vcfg=\"sarcfg\",\"LTE\",3\r\n", true, false, false},
                      CommandKind{"AT+VCFG=\"SARCFG\",\"GSM\"\r\n", true, false, false},
                      CommandKind{"at+vcfg=\"sarcfg\",\"LTE\",21,6,4,3\r\n", false, true, false},
                      CommandKind{"at+vcfg=\"sarcfg\",\"GSM\",30,4,2\r\n", false, true, false},
                      CommandKind{"at+vcfg=\"rf/sar/gpioctl\",1,250\r\n", false, false, true},
                      CommandKind{"at+vsar=2,1\r\n", false, false, true}));

TEST(Expectations, ARowNeverWrittenHoldsTheFactoryValuesAndBandsAreToldApart)
{
    Scenario scenario;
    auto sar = [](const char* mode, std::optional<int32_t> band, int32_t maxpower) {
        Expectation e;
        e.sar = SarRow{mode, band, maxpower, 0, 0};
        return e;
    };
    scenario.expectations = {sar("GSM", std::nullopt, 24), sar("LTE", 3, 21), sar("LTE", 1, 21)};
    RunResult result;
    result.after = {SarRow{"LTE", 3, 21, 0, 0}};
    CheckExpectations(scenario, result);
    ASSERT_EQ(result.expectations.size(), 3u);
    EXPECT_TRUE(result.expectations[0].held);
    EXPECT_TRUE(result.expectations[1].held);
    EXPECT_FALSE(result.expectations[2].held);
    EXPECT_EQ(result.expectations[2].actual, "LTE band 1 = 24,0,0");
    EXPECT_FALSE(result.Passed());
}

// Laptop texts need not be UTF-8 (a real firmware's SMBIOS strings); the JSON
// stays valid and says what it replaced. A missing band reads the same in the
// entry as in the modem's table: -1 for LTE and WCDMA, null for the others.
TEST(JsonReport, StaysValidWithBytesThatAreNotUtf8AndShowsBandsOneWay)
{
    char folder[] = "/tmp/halvex-json-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/report.json";
    Scenario scenario;
    scenario.name = "t";
    Report report;
    report.scenario = &scenario;
    report.laptop.hasSmbios = true;
    report.laptop.identity.version = "Model\xff\xfeX";
    report.laptop.entryFound = true;
    report.laptop.entry.dprs = {DprSetting{"LTE", -1, 1, 2, 3, 0}, DprSetting{"GSM", -1, 4, 5, 6, 0}};
    report.before = {SarRow{"GSM", std::nullopt, 4, 5, 6}};
    report.result.after = {SarRow{"LTE", -1, 1, 2, 3}};
    ASSERT_TRUE(WriteJsonReport(report, path));

    std::ifstream in(path);
    const nlohmann::json json = nlohmann::json::parse(in);
    EXPECT_EQ(json["laptop"]["version"], "Model\xef\xbf\xbd\xef\xbf\xbdX");
    EXPECT_TRUE(json.contains("replaced_bytes"));
    EXPECT_EQ(json["entry"]["rows"][0]["band"], -1);
    EXPECT_TRUE(json["entry"]["rows"][1]["band"].is_null());
    // Both tables list the same rows in the same order, unwritten ones with the factory values.
    EXPECT_EQ(json["modem"]["before"][1]["mode"], "LTE");
    EXPECT_EQ(json["modem"]["before"][1]["maxpower"], 24);
    EXPECT_EQ(json["modem"]["after"][0]["mode"], "GSM");
    EXPECT_EQ(json["modem"]["after"][1]["band"], -1);
    std::filesystem::remove_all(folder);
}

// The verdict from the entry's rows and the modem's table before and after.
TEST(Verdict, TellsConfiguredFromAlreadyRightAndNamesTheMissingRow)
{
    LaptopAnalysis laptop;
    laptop.entryFound = true;
    laptop.entry.method = "single band";
    laptop.entry.dprs = {DprSetting{"LTE", 1, 22, 6, 4, 11}, DprSetting{"LTE", 3, 21, 6, 4, 12},
                         DprSetting{"LTE_WCDMA", -1, 23, 8, 4, 13}};
    const std::vector<SarRow> rightBand1 = {SarRow{"LTE", 1, 22, 6, 4}};
    const std::vector<SarRow> both = {SarRow{"LTE", 3, 21, 6, 4}, SarRow{"LTE", 1, 22, 6, 4}};

    const Verdict configured = JudgeRun(laptop, rightBand1, both);
    EXPECT_EQ(configured.name, "configured");
    EXPECT_EQ(configured.wanted, 3u);
    ASSERT_EQ(configured.applied.size(), 2u);
    EXPECT_TRUE(configured.applied[0].alreadyRight);
    EXPECT_FALSE(configured.applied[1].alreadyRight);
    ASSERT_EQ(configured.skipped.size(), 1u);
    EXPECT_EQ(configured.skipped[0].line, 13);

    EXPECT_EQ(JudgeRun(laptop, both, both).name, "already-right");

    const Verdict missing = JudgeRun(laptop, rightBand1, rightBand1);
    EXPECT_EQ(missing.name, "not-configured");
    EXPECT_EQ(missing.reason, "the modem's final table lacks LTE band 3 from line 12");

    laptop.entry.method = "All Band";
    EXPECT_EQ(JudgeRun(laptop, both, both).name, "not-configured");
    laptop.entryFound = false;
    EXPECT_EQ(JudgeRun(laptop, both, both).name, "not-configured");
}

}  // namespace
