#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include <windows.h>

#include "log_file.h"
#include "logging/log_helper.h"
#include "machine_fixture.h"

using sim::Ace;
using sim::Security;
using testing::HasSubstr;
namespace acl = sim::acl;
namespace sid = sim::sid;

namespace {

constexpr std::time_t kNow = 1700000000;
constexpr std::time_t kOld = kNow - 100 * 86400;
const std::string kVendor = "C:\\ProgramData\\Varnick Wireless Inc";
const std::string kLog = kVendor + "\\DPR Service";
const std::string kTasks = "C:\\Windows\\System32\\Tasks";
const std::string kVictim = "C:\\Windows\\System32\\victim.dll";
const std::string kVictim2 = "C:\\Windows\\System32\\victim2.dll";
const std::string kUser = "S-1-5-21-1-2-3-1001";
const std::string kRepaired = "its inherited permissions were replaced by the service's own";

std::string Log(const std::string& suffix)
{
    return "varnick_dpr_service_log_" + suffix;
}

class LogFolderTrustTest : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        machine().clock().PinWallTime(kNow);
        fs().WriteFile(kVictim, "system file");
        fs().WriteFile(kVictim2, "another system file");
        fs().WriteFile(kTasks + "\\" + Log("old.log"), "a task");
        for (const std::string& path : {kVictim, kVictim2, kTasks + "\\" + Log("old.log")}) {
            fs().SetCreationTime(path, kOld);
        }
        m_windows = Snapshot();
    }
    sim::FileSystem& fs() { return machine().fileSystem(); }
    std::string Host(const std::string& path) { return fs().HostPath(path); }
    void MakeFolder(const std::string& path) { std::filesystem::create_directories(Host(path)); }

    // Every name and content under C:\Windows: where the planted links point.
    std::map<std::string, std::string> Snapshot()
    {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(Host("C:\\Windows"))) {
            std::ostringstream content;
            content << std::ifstream(entry.path()).rdbuf();
            files[entry.path().string()] = content.str();
        }
        return files;
    }
    void ExpectNothingChangedOutside() { EXPECT_EQ(Snapshot(), m_windows); }

    // One start's log file, created and closed by the service.
    std::string MakeLogFile()
    {
        LogHelper::Init();
        LogHelper::Shutdown();
        return fs().List(kLog).at(0);
    }
    bool UserMay(const std::string& path, uint32_t rights)
    {
        return sim::AccessAllowed(fs().EffectiveSecurity(Host(path)), kUser, rights);
    }

private:
    std::map<std::string, std::string> m_windows;
};

}  // namespace

TEST_F(LogFolderTrustTest, NewFoldersAreTheServicesOwnAndStandardUsersMayOnlyRead)
{
    LogHelper::Init();
    LogHelper::Log(LOG_LEVEL_INFO, "F", "logged");
    const std::string file = kLog + "\\" + fs().List(kLog).at(0);
    const Security vendor = fs().EffectiveSecurity(Host(kVendor));
    EXPECT_EQ(vendor.owner, sid::kSystem);
    EXPECT_TRUE(vendor.protectedDacl);
    const uint8_t inherit = acl::kObjectInherit | acl::kContainerInherit;
    EXPECT_EQ(vendor.dacl, (std::vector<Ace>{{acl::kAllow, inherit, acl::kFullControl, sid::kSystem},
                                             {acl::kAllow, inherit, acl::kFullControl, sid::kAdministrators},
                                             {acl::kAllow, inherit, acl::kReadExecute, sid::kAuthenticatedUsers}}));
    for (const std::string& path : {kVendor, kLog, file}) {
        EXPECT_TRUE(UserMay(path, acl::kReadExecute)) << path;
        for (uint32_t right : {acl::kAddFile, acl::kAddSubfolder, acl::kDelete, acl::kWriteDac}) {
            EXPECT_FALSE(UserMay(path, right)) << path << " " << right;
        }
    }
    EXPECT_EQ(testsupport::ShutdownAndReadLogMessages(), std::vector<std::string>{"i :   logged"});
}

TEST_F(LogFolderTrustTest, FoldersOfEarlierVersionsGetTheServicesDaclOnceAndTheLogSaysSo)
{
    fs().WriteFile(kLog + "\\" + Log("earlier.log"), "");  // folders with the defaults they inherit
    ASSERT_TRUE(UserMay(kLog, acl::kAddFile));
    LogHelper::Init();
    LogHelper::Init();
    EXPECT_FALSE(UserMay(kVendor, acl::kAddSubfolder));
    EXPECT_FALSE(UserMay(kLog, acl::kAddFile));
    EXPECT_EQ(testsupport::ShutdownAndReadLogMessages(),
              std::vector<std::string>{"i :   log folder " + kVendor + ": " + kRepaired});
}

TEST_F(LogFolderTrustTest, AFolderOwnedByTheServicesOwnAccountIsUsedAsItIs)
{
    // As another system reports it: the account owns everything, grants itself
    // and SYSTEM full control and everyone read.
    const std::string account = "S-1-5-21-7-8-9-1000";
    fs().SetAccount(account);
    for (const std::string& folder : {kVendor, kLog}) {
        MakeFolder(folder);
        fs().SetSecurity(folder, {account, true, true,
                                  {{acl::kAllow, 3, acl::kFullControl, account},
                                   {acl::kAllow, 3, acl::kFullControl, sid::kSystem},
                                   {acl::kAllow, 3, acl::kReadExecute, sid::kEveryone}}});
    }
    LogHelper::Init();
    LogHelper::Log(LOG_LEVEL_INFO, "F", "logged");
    EXPECT_EQ(testsupport::ShutdownAndReadLogMessages(), std::vector<std::string>{"i :   logged"});
}

struct Planted {
    const char* title;
    std::function<void(sim::FileSystem&)> plant;
};

void PrintTo(const Planted& value, std::ostream* out)
{
    *out << value.title;
}

class UntrustedFolder : public LogFolderTrustTest, public testing::WithParamInterface<Planted> {};

// No file and no retention pass: nothing in the folder, nor where it leads, changes.
TEST_P(UntrustedFolder, IsNotUsed)
{
    GetParam().plant(fs());
    const auto before = fs().List(kLog);
    LogHelper::Init();
    LogHelper::Log(LOG_LEVEL_ERROR, "F", "nowhere");
    LogHelper::RunLogRetention();
    LogHelper::Shutdown();
    EXPECT_EQ(fs().List(kLog), before);
    ExpectNothingChangedOutside();
}

Security UserOwned()
{
    return {kUser, true, false, {}};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UntrustedFolder,
    testing::Values(
        Planted{"VendorFolderIsAJunction", [](sim::FileSystem& fs) { fs.PlantJunction(kVendor, "C:\\Windows"); }},
        Planted{"LogFolderIsAJunction", [](sim::FileSystem& fs) { fs.PlantJunction(kLog, kTasks); }},
        Planted{"LogFolderIsASymbolicLink", [](sim::FileSystem& fs) { fs.PlantSymbolicLink(kLog, kTasks); }},
        Planted{"VendorFolderOwnedByAUser",
                [](sim::FileSystem& fs) {
                    fs.WriteFile(kLog + "\\" + Log("old.log"), "");
                    fs.SetSecurity(kVendor, UserOwned());
                }},
        Planted{"LogFolderOwnedByAUser",
                [](sim::FileSystem& fs) {
                    fs.WriteFile(kLog + "\\" + Log("old.log"), "");
                    fs.SetSecurity(kLog, UserOwned());
                }},
        Planted{"LogFolderWithAnExplicitGrantToUsers",
                [](sim::FileSystem& fs) {
                    fs.WriteFile(kLog + "\\" + Log("old.log"), "");
                    fs.SetSecurity(kLog, {sid::kSystem, true, false,
                                          {{acl::kAllow, acl::kContainerInherit, acl::kCreate, sid::kUsers}}});
                }},
        Planted{"LogFolderWithoutADacl",
                [](sim::FileSystem& fs) {
                    fs.WriteFile(kLog + "\\" + Log("old.log"), "");
                    fs.SetSecurity(kLog, {sid::kSystem, false, false, {}});
                }}),
    [](const testing::TestParamInfo<Planted>& info) { return std::string(info.param.title); });

TEST_F(LogFolderTrustTest, ALinkAtTheNextLogFilesNameLeavesTheRunWithoutALog)
{
    const std::string name = kLog + "\\" + MakeLogFile();
    for (auto plant : {&sim::FileSystem::PlantSymbolicLink, &sim::FileSystem::PlantHardLink}) {
        std::filesystem::remove(Host(name));
        (fs().*plant)(name, kVictim);
        LogHelper::Init();  // the same second: the same name
        LogHelper::Log(LOG_LEVEL_ERROR, "F", "nowhere");
        LogHelper::Shutdown();
    }
    std::filesystem::remove(Host(name));
    fs().PlantJunction(name, kTasks);
    LogHelper::Init();
    LogHelper::Log(LOG_LEVEL_ERROR, "F", "nowhere");
    LogHelper::Shutdown();
    ExpectNothingChangedOutside();
}

TEST_F(LogFolderTrustTest, RotationOverLinksAtItsTargetsChangesNothingOutside)
{
    const std::string base = MakeLogFile();
    const std::string stem = kLog + "\\" + base.substr(0, base.size() - 4);
    fs().PlantSymbolicLink(stem + ".1.log", kVictim);
    fs().PlantHardLink(stem + ".2.log", kVictim2);
    fs().PlantJunction(stem + ".3.log", kTasks);
    std::filesystem::resize_file(Host(kLog + "\\" + base), 1048576 - 10);
    LogHelper::Init();
    LogHelper::Log(LOG_LEVEL_INFO, "F", "%060d", 0);  // past the limit: the files move up
    LogHelper::Log(LOG_LEVEL_INFO, "F", "after the rotation");
    LogHelper::Shutdown();
    ExpectNothingChangedOutside();
    EXPECT_THAT(fs().ReadFile(kLog + "\\" + base), HasSubstr("after the rotation"));
}

TEST_F(LogFolderTrustTest, RetentionDeletesNeitherLinksNorFilesWithAnotherName)
{
    MakeLogFile();
    fs().PlantSymbolicLink(kLog + "\\" + Log("a.log"), kVictim);
    fs().PlantHardLink(kLog + "\\" + Log("b.log"), kVictim2);
    fs().PlantJunction(kLog + "\\" + Log("c.log"), kTasks);
    fs().WriteFile(kLog + "\\" + Log("d.log"), "");
    fs().SetCreationTime(kLog + "\\" + Log("d.log"), kOld);
    LogHelper::Init();
    LogHelper::RunLogRetention();
    const auto messages = testsupport::ShutdownAndReadLogMessages();
    ExpectNothingChangedOutside();
    EXPECT_THAT(fs().List(kLog), testing::IsSupersetOf({Log("a.log"), Log("b.log"), Log("c.log")}));
    EXPECT_FALSE(fs().Exists(kLog + "\\" + Log("d.log")));
    EXPECT_THAT(messages, testing::Contains("i :   " + Log("b.log") + " is a link or not the file listed, not deleted"));
    EXPECT_THAT(messages, testing::Contains("i :   delete " + Log("d.log") + ". item.size = 0"));
    EXPECT_FALSE(testsupport::AnyContains(messages, Log("a.log")) || testsupport::AnyContains(messages, Log("c.log")));
}

TEST_F(LogFolderTrustTest, NoRetentionPassOnceTheFolderIsNoLongerTheServicesOwn)
{
    LogHelper::Init();
    fs().WriteFile(kLog + "\\" + Log("old.log"), "");
    fs().SetCreationTime(kLog + "\\" + Log("old.log"), kOld);
    fs().SetSecurity(kLog, UserOwned());
    LogHelper::RunLogRetention();
    EXPECT_TRUE(fs().Exists(kLog + "\\" + Log("old.log")));
    EXPECT_THAT(testsupport::ShutdownAndReadLogMessages(),
                testing::ElementsAre("i :   log folder not used, no retention pass: " + kLog +
                                     ": its owner is not SYSTEM, Administrators or the service's account"));
}
