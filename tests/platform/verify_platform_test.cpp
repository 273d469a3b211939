#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/config_model.h"
#include "config/xml_helper.h"
#include "core/state/halvex_service.h"
#include "logging/log_helper.h"
#include "platform/verify_platform.h"
#include "sim/smbios_builder.h"
#include "log_file.h"
#include "machine_fixture.h"

using ::testing::ElementsAre;

namespace {

ModuleConfig Entry(const std::string& project, const std::string& manufacturer, const std::string& method = "",
                   int band = -1)
{
    ModuleConfig entry;
    entry.projectName = project;
    entry.manufacturer = manufacturer;
    entry.method = method;
    DprSetting setting;
    setting.mode = "LTE";
    setting.band = band;
    entry.dprs.push_back(setting);
    return entry;
}

class VerifyPlatformTest : public MachineTest {
protected:
    void SetMachine(const std::string& version, const std::string& family, const std::string& processor)
    {
        sim::SmbiosSystem system;
        system.version = version;
        system.family = family;
        machine().firmware().SetSmbiosTable(sim::SmbiosBuilder().AddSystem(system).AddProcessor(processor).Build());
    }
};

TEST_F(VerifyPlatformTest, ManufacturerRule)
{
    struct Case {
        const char* manufacturer;
        const char* processor;
        bool fits;
    };
    const Case cases[] = {
        {"Intel", "Intel(R) Core(TM) i7", true},
        {"Intel", "AMD Ryzen 7 PRO", false},
        {"AMD", "AMD Ryzen 7 PRO", true},
        {"AMD", "Intel(R) Core(TM) i7", false},
        // Recognised without regard to case, but searched for as written.
        {"intel", "Intel(R) Core(TM) i7", false},
        {"intel", "Genuine intel processor", true},
        {"amd", "AMD Ryzen", false},
        // Any other manufacturer, or none, fits on the project name alone.
        {"", "AMD Ryzen", true},
        {"Qualcomm", "Intel(R) Core(TM) i7", true},
        {"Intel Corporation", "AMD Ryzen", true},
        // A processor naming neither vendor fits only such entries.
        {"Intel", "", false},
        {"AMD", "", false},
        {"Other", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.manufacturer) + " / " + c.processor);
        EXPECT_EQ(platform::EntryFits(Entry("ModelX", c.manufacturer), "ModelX", c.processor), c.fits);
    }
}

TEST_F(VerifyPlatformTest, ProjectNameIgnoresCaseButNothingElse)
{
    EXPECT_TRUE(platform::EntryFits(Entry("modelx", ""), "ModelX", ""));
    EXPECT_TRUE(platform::EntryFits(Entry("MODEL-X 14", ""), "model-x 14", ""));
    EXPECT_FALSE(platform::EntryFits(Entry(" ModelX", ""), "ModelX", ""));
    EXPECT_FALSE(platform::EntryFits(Entry("ModelX", ""), "ModelX2", ""));
    EXPECT_FALSE(platform::EntryFits(Entry("Model", ""), "ModelX", ""));
    // Only ASCII letters are folded.
    EXPECT_FALSE(platform::EntryFits(Entry("MODEL\xC3\x89", ""), "model\xC3\xA9", ""));
}

TEST_F(VerifyPlatformTest, FirstFittingEntryIsCopiedWithoutItsManufacturer)
{
    std::vector<ModuleConfig> list = {Entry("ModelX", "AMD", "single band", 1), Entry("ModelY", "", "x", 2),
                                      Entry("ModelX", "Intel", "all band", 3), Entry("ModelX", "Intel", "later", 4)};
    ModuleConfig config;
    config.manufacturer = "kept";
    config.dprs = {DprSetting(), DprSetting()};

    ASSERT_TRUE(platform::MatchPlatform(list, "MODELX", "Intel Core", config));

    EXPECT_EQ(config.projectName, "ModelX");
    EXPECT_EQ(config.method, "all band");
    EXPECT_EQ(config.manufacturer, "kept");
    ASSERT_EQ(config.dprs.size(), 1u);
    EXPECT_EQ(config.dprs[0].band, 3);

    ModuleConfig untouched = Entry("Before", "M", "m", 9);
    EXPECT_FALSE(platform::MatchPlatform(list, "ModelZ", "Intel Core", untouched));
    EXPECT_EQ(untouched.projectName, "Before");
    EXPECT_EQ(untouched.method, "m");
    EXPECT_EQ(untouched.dprs[0].band, 9);
    EXPECT_FALSE(platform::MatchPlatform({}, "ModelX", "Intel Core", untouched));
}

TEST_F(VerifyPlatformTest, ShortVersionFallsBackToFamilyAndBothVersionsAreLogged)
{
    LogHelper::Init();
    SetMachine("X1", "ModelX", "Intel(R) Core(TM) i5");
    ProjectConfigList() = {Entry("x1", ""), Entry("modelx", "Intel", "all band", 5)};

    ModuleConfig config;
    EXPECT_TRUE(CHalvexService::VerifyPlatform(config));

    EXPECT_EQ(config.projectName, "modelx");
    EXPECT_EQ(config.dprs[0].band, 5);
    EXPECT_THAT(testsupport::ShutdownAndReadLogMessages(),
                ElementsAre("h : + VerifyPlatform", "i :   SMBIOS system version = ModelX",
                            "i :   SMBIOS processor version = Intel(R) Core(TM) i5", "h : - VerifyPlatform"));
}

TEST_F(VerifyPlatformTest, VersionOfThreeCharactersIsUsedAsItIs)
{
    SetMachine("X14", "ModelX", "AMD Ryzen");
    ProjectConfigList() = {Entry("ModelX", ""), Entry("x14", "AMD", "m")};

    ModuleConfig config;
    EXPECT_TRUE(CHalvexService::VerifyPlatform(config));
    EXPECT_EQ(config.projectName, "x14");
}

TEST_F(VerifyPlatformTest, WithoutTableOnlyAnEmptyProjectNameFits)
{
    ProjectConfigList() = {Entry("ModelX", ""), Entry("", "Intel")};
    ModuleConfig config;
    EXPECT_FALSE(CHalvexService::VerifyPlatform(config));
    EXPECT_EQ(config.projectName, "");
    EXPECT_TRUE(config.dprs.empty());

    ProjectConfigList().push_back(Entry("", "Other", "empty"));
    EXPECT_TRUE(CHalvexService::VerifyPlatform(config));
    EXPECT_EQ(config.method, "empty");
}

TEST_F(VerifyPlatformTest, MatchesTheLoadedConfigurationFile)
{
    machine().fileSystem().WriteFile(
        "C:\\Program Files\\Varnick Wireless Inc\\Halvex Service\\DPRConfig.xml",
        R"(<c><project name="ModelX"><processor manufacturer="Intel"><module method="all band">
             <dpr mode="LTE" maxpower="23"/></module></processor>
           <processor manufacturer="AMD"><module method="single band">
             <dpr mode="LTE" band="3" maxpower="21"/><dpr mode="GSM" band="8" maxpower="30"/></module></processor>
           </project></c>)");
    ASSERT_TRUE(XMLHelper::ParseXMLContent());
    SetMachine("modelX", "", "AMD Ryzen 7 PRO 6850U");

    ModuleConfig config;
    ASSERT_TRUE(CHalvexService::VerifyPlatform(config));

    EXPECT_EQ(config.method, "single band");
    ASSERT_EQ(config.dprs.size(), 2u);
    EXPECT_EQ(config.dprs[1].mode, "GSM");
    EXPECT_EQ(config.dprs[1].maxpower, 30);

    // Missing or broken file: nothing fits.
    machine().fileSystem().WriteFile("C:\\Program Files\\Varnick Wireless Inc\\Halvex Service\\DPRConfig.xml", "<c");
    EXPECT_FALSE(XMLHelper::ParseXMLContent());
    ModuleConfig none;
    EXPECT_FALSE(CHalvexService::VerifyPlatform(none));
}

}  // namespace
