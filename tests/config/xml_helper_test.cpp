#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "config/config_model.h"
#include "config/xml_helper.h"
#include "log_file.h"
#include "logging/log_helper.h"
#include "machine_fixture.h"

using ::testing::ElementsAre;
using testsupport::AnyContains;

namespace {

constexpr const char* kConfigPath = "C:\\Program Files\\Varnick Wireless Inc\\Halvex Service\\DPRConfig.xml";

class ConfigLoaderTest : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        LogHelper::Init();
    }

    void WriteConfig(const std::string& xml) { machine().fileSystem().WriteFile(kConfigPath, xml); }

    // The loader's messages, in order, without the other lines of the run.
    static std::vector<std::string> LoaderMessages()
    {
        std::vector<std::string> result;
        for (const auto& line : testsupport::ShutdownAndReadLogMessages()) {
            if (line.rfind("e :", 0) == 0 || line.rfind("i :", 0) == 0) {
                result.push_back(line);
            }
        }
        return result;
    }

    const std::vector<ModuleConfig>& List() { return ProjectConfigList(); }
};

std::string Dpr(const std::string& mode, int band = -1)
{
    std::string text = "<dpr mode=\"" + mode + "\"";
    if (band != -1) {
        text += " band=\"" + std::to_string(band) + "\"";
    }
    return text + "/>";
}

std::vector<std::string> Projects(const std::vector<ModuleConfig>& list)
{
    std::vector<std::string> names;
    for (const auto& entry : list) {
        names.push_back(entry.projectName);
    }
    return names;
}

TEST_F(ConfigLoaderTest, BuildsOneEntryPerModuleInDocumentOrder)
{
    WriteConfig(R"(<?xml version="1.0"?>
<config>
  <!-- first model -->
  <project name="ModelX">
    <processor manufacturer="Intel">
      <module method="all band">
        <dpr mode="LTE" maxpower="23" rowgrads="8" columngrads="4"/>
        <dpr mode="WCDMA" maxpower="24" rowgrads="7" columngrads="3"/>
      </module>
      <module method="single band">
        <dpr mode="LTE" band="3" maxpower="21" rowgrads="6" columngrads="2"/>
      </module>
    </processor>
    <processor manufacturer="AMD">
      <module><dpr mode="GSM" band="8" maxpower="30" rowgrads="4" columngrads="1"/></module>
    </processor>
  </project>
  <project name="ModelY">
    <processor><module method="all band"><dpr mode="LTE_WCDMA"/></module></processor>
  </project>
</config>)");

    EXPECT_TRUE(XMLHelper::ParseXMLContent());

    const auto& list = List();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_THAT(Projects(list), ElementsAre("ModelX", "ModelX", "ModelX", "ModelY"));
    EXPECT_EQ(list[0].manufacturer, "Intel");
    EXPECT_EQ(list[1].manufacturer, "Intel");
    EXPECT_EQ(list[2].manufacturer, "AMD");
    EXPECT_EQ(list[3].manufacturer, "");
    EXPECT_EQ(list[0].method, "all band");
    EXPECT_EQ(list[1].method, "single band");
    ASSERT_EQ(list[0].dprs.size(), 2u);
    EXPECT_EQ(list[0].dprs[1].mode, "WCDMA");
    EXPECT_EQ(list[0].dprs[1].band, -1);
    EXPECT_EQ(list[0].dprs[1].maxpower, 24);
    EXPECT_EQ(list[0].dprs[1].rowgrads, 7);
    EXPECT_EQ(list[0].dprs[1].columngrads, 3);
    ASSERT_EQ(list[2].dprs.size(), 1u);
    EXPECT_EQ(list[2].dprs[0].band, 8);
    EXPECT_EQ(list[2].dprs[0].columngrads, 1);

    EXPECT_THAT(LoaderMessages(), ElementsAre("i :   xml size = 4"));
}

TEST_F(ConfigLoaderTest, MethodCarriesOverWithinAProjectWhileManufacturerIsPerProcessor)
{
    WriteConfig("<c><project name=\"A\">"
                "<processor manufacturer=\"Intel\"><module method=\"all band\">" + Dpr("LTE") + "</module>"
                "<module>" + Dpr("GSM") + "</module></processor>"
                "<processor><module>" + Dpr("GSM") + "</module>"
                "<module method=\"single band\">" + Dpr("LTE", 1) + "</module></processor>"
                "<processor manufacturer=\"\"><module>" + Dpr("LTE", 2) + "</module></processor>"
                "</project>"
                "<project name=\"B\"><processor manufacturer=\"AMD\"><module>" + Dpr("LTE") +
                "</module></processor></project></c>");

    ASSERT_TRUE(XMLHelper::ParseXMLContent());

    std::vector<std::string> entries;
    for (const auto& entry : List()) {
        entries.push_back(entry.method + "/" + entry.manufacturer);
    }
    // The method is carried across processors of the project, replaced by a later
    // one, and empty again for the next project's first module.
    EXPECT_THAT(entries, ElementsAre("all band/Intel", "all band/Intel", "all band/", "single band/",
                                     "single band/", "/AMD"));
}

TEST_F(ConfigLoaderTest, MissingAttributesTakeDefaultsAndNumbersAreReadLikePercentD)
{
    WriteConfig(R"(<c><project name="A"><processor><module>
        <dpr mode="LTE"/>
        <dpr band=" 7" maxpower="+3" rowgrads="-2" columngrads="3x"/>
        <dpr band="12dB" maxpower="&#9;&#10;5" rowgrads="007" columngrads="-0"/>
        <dpr band="5" maxpower="5" rowgrads="5" columngrads="5"/>
        <dpr band="x3" maxpower="" rowgrads="+" columngrads="- 4"/>
        <dpr band="2147483647" maxpower="2147483648" rowgrads="-2147483648" columngrads="-99999999999999999999"/>
    </module></processor></project></c>)");

    ASSERT_TRUE(XMLHelper::ParseXMLContent());

    ASSERT_EQ(List().size(), 1u);
    const auto& dprs = List()[0].dprs;
    ASSERT_EQ(dprs.size(), 6u);
    auto numbers = [](const DprSetting& d) { return std::vector<int32_t>{d.band, d.maxpower, d.rowgrads, d.columngrads}; };
    EXPECT_EQ(dprs[0].mode, "LTE");
    EXPECT_THAT(numbers(dprs[0]), ElementsAre(-1, -1, -1, -1));
    EXPECT_EQ(dprs[1].mode, "");
    EXPECT_THAT(numbers(dprs[1]), ElementsAre(7, 3, -2, 3));
    EXPECT_THAT(numbers(dprs[2]), ElementsAre(12, 5, 7, 0));
    // Texts without a digit after the optional sign convert nothing: the field
    // keeps -1, not the last number read in the file.
    EXPECT_THAT(numbers(dprs[4]), ElementsAre(-1, -1, -1, -1));
    // Out-of-range texts saturate.
    EXPECT_THAT(numbers(dprs[5]), ElementsAre(2147483647, 2147483647, -2147483647 - 1, -2147483647 - 1));
}

TEST_F(ConfigLoaderTest, TextsAreKeptAsTheLibraryReturnsThem)
{
    WriteConfig("<c><project name=\" Model &amp; X \"><processor manufacturer=\"Int&#101;l\">"
                "<module method=\"all band\"><dpr mode=\"LTE\xC3\xA9\"/></module></processor></project></c>");

    ASSERT_TRUE(XMLHelper::ParseXMLContent());

    ASSERT_EQ(List().size(), 1u);
    EXPECT_EQ(List()[0].projectName, " Model & X ");
    EXPECT_EQ(List()[0].manufacturer, "Intel");
    EXPECT_EQ(List()[0].dprs[0].mode, "LTE\xC3\xA9");
}

TEST_F(ConfigLoaderTest, OnlyTheFirstElementOfALevelNeedsItsName)
{
    // "intro" before the first project is passed over; "extra" after it is read
    // as a project; "other" lacks "name" and is logged. Below, siblings of any
    // name count as processors, modules and settings.
    WriteConfig(R"(<c>
        <intro name="Skipped"><processor><module><dpr mode="LTE"/></module></processor></intro>
        <project name="A">
          <cpu manufacturer="Ignored"><module><dpr mode="LTE"/></module></cpu>
          <processor manufacturer="Intel">
            <module method="m1"><dpr mode="LTE"/><setting mode="GSM" band="8"/></module>
            <unit method="m2"><x/><dpr mode="WCDMA"/></unit>
          </processor>
          <cpu manufacturer="AMD"><module><dpr mode="GSM"/></module></cpu>
        </project>
        <other><processor><module><dpr mode="LTE"/></module></processor></other>
        <extra name="B"><processor><module><dpr mode="LTE"/></module></processor></extra>
    </c>)");

    ASSERT_TRUE(XMLHelper::ParseXMLContent());

    const auto& list = List();
    EXPECT_THAT(Projects(list), ElementsAre("A", "A", "A", "B"));
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].manufacturer, "Intel");
    ASSERT_EQ(list[0].dprs.size(), 2u);
    EXPECT_EQ(list[0].dprs[1].mode, "GSM");
    EXPECT_EQ(list[0].dprs[1].band, 8);
    // The module "unit" has no "dpr" child as its first: its first dpr element
    // is found by name, the "x" before it is passed over.
    EXPECT_EQ(list[1].method, "m2");
    ASSERT_EQ(list[1].dprs.size(), 1u);
    EXPECT_EQ(list[1].dprs[0].mode, "WCDMA");
    EXPECT_EQ(list[2].manufacturer, "AMD");

    EXPECT_THAT(LoaderMessages(), ElementsAre("e :   can not find name attr", "i :   xml size = 4"));
}

// A gap in the structure passes over the rest of its level; what was read stays.
struct StructureGap {
    const char* name;
    std::string xml;
    std::vector<std::string> entries;  // "project/band/method" of each entry
    const char* error;
};

void PrintTo(const StructureGap& gap, std::ostream* out)
{
    *out << gap.name;
}

class ConfigStructureTest : public ConfigLoaderTest, public ::testing::WithParamInterface<StructureGap> {};

TEST_P(ConfigStructureTest, PassesOverTheRestOfTheLevelAndLogsIt)
{
    WriteConfig("<c>" + GetParam().xml + "</c>");

    EXPECT_TRUE(XMLHelper::ParseXMLContent());

    std::vector<std::string> entries;
    for (const auto& entry : List()) {
        entries.push_back(entry.projectName + "/" + std::to_string(entry.dprs.at(0).band) + "/" + entry.method);
    }
    EXPECT_EQ(entries, GetParam().entries);
    EXPECT_THAT(LoaderMessages(), ElementsAre(std::string("e :   ") + GetParam().error,
                                              "i :   xml size = " + std::to_string(entries.size())));
}

std::string Project(const std::string& name, const std::string& body)
{
    return "<project name=\"" + name + "\">" + body + "</project>";
}

std::string Processor(const std::string& body)
{
    return "<processor>" + body + "</processor>";
}

std::string Module(int band, const std::string& method = "")
{
    return "<module" + (method.empty() ? std::string() : " method=\"" + method + "\"") + ">" + Dpr("LTE", band) +
           "</module>";
}

INSTANTIATE_TEST_SUITE_P(
    Gaps, ConfigStructureTest,
    ::testing::Values(
        StructureGap{"ProjectWithoutProcessor",
                     Project("A", Processor(Module(1))) + Project("B", "<cpu>" + Module(2) + "</cpu>") +
                         Project("C", Processor(Module(3))),
                     {"A/1/", "C/3/"}, "can not find processor child element"},
        // The first processor's entries stay; the third processor is not read.
        StructureGap{"ProcessorWithoutModuleEndsItsProject",
                     Project("A", Processor(Module(1) + Module(2)) + Processor(Dpr("LTE")) + Processor(Module(3))) +
                         Project("B", Processor(Module(4))),
                     {"A/1/", "A/2/", "B/4/"}, "can not find module child element"},
        // The passed-over module's method still becomes the project's current one.
        StructureGap{"ModuleWithoutDprEndsItsProcessor",
                     Project("A", Processor(Module(1) + "<module method=\"m\"/>" + Module(2)) + Processor(Module(3))),
                     {"A/1/", "A/3/m"}, "can not find dpr child element"},
        StructureGap{"OnlyProjectWithoutName", "<project>" + Processor(Module(1)) + "</project>", {},
                     "can not find name attr"}),
    [](const ::testing::TestParamInfo<StructureGap>& info) { return std::string(info.param.name); });

TEST_F(ConfigLoaderTest, RootWithoutProjectOrDocumentWithoutElementFails)
{
    for (const char* xml : {"<c><Project name=\"A\"/><item name=\"B\"/></c>", "<project name=\"A\"/>",
                            "<?xml version=\"1.0\"?><!-- no element -->"}) {
        SCOPED_TRACE(xml);
        WriteConfig(xml);
        EXPECT_FALSE(XMLHelper::ParseXMLContent());
        EXPECT_TRUE(List().empty());
    }
    EXPECT_THAT(LoaderMessages(), ElementsAre("e :   can not find project node", "e :   can not find project node",
                                              "e :   can not find project node"));
}

struct BrokenFile {
    const char* name;
    const char* content;  // nullptr: no file
    const char* errorName;
};

void PrintTo(const BrokenFile& file, std::ostream* out)
{
    *out << file.name;
}

class ConfigLoadFailureTest : public ConfigLoaderTest, public ::testing::WithParamInterface<BrokenFile> {};

TEST_P(ConfigLoadFailureTest, LogsTheTwoErrorLinesAndLeavesTheListEmpty)
{
    // A good load first: a failed load must not keep its entries.
    WriteConfig("<c><project name=\"A\"><processor><module>" + Dpr("LTE") + "</module></processor></project></c>");
    ASSERT_TRUE(XMLHelper::ParseXMLContent());
    ASSERT_EQ(List().size(), 1u);

    if (GetParam().content) {
        WriteConfig(GetParam().content);
    } else {
        std::remove(machine().fileSystem().HostPath(kConfigPath).c_str());
    }
    EXPECT_FALSE(XMLHelper::ParseXMLContent());

    EXPECT_TRUE(List().empty());
    EXPECT_THAT(LoaderMessages(),
                ElementsAre("i :   xml size = 1", std::string("e :   load xml file ") + kConfigPath + " failed",
                            std::string("e :   xml file errorid: ") + GetParam().errorName + " failed"));
}

INSTANTIATE_TEST_SUITE_P(
    Files, ConfigLoadFailureTest,
    ::testing::Values(BrokenFile{"Missing", nullptr, "XML_ERROR_FILE_NOT_FOUND"},
                      BrokenFile{"Empty", "", "XML_ERROR_EMPTY_DOCUMENT"},
                      BrokenFile{"BlankOnly", " \r\n\t", "XML_ERROR_EMPTY_DOCUMENT"},
                      BrokenFile{"Unclosed", "<c><project name=\"A\">", "XML_ERROR_MISMATCHED_ELEMENT"},
                      BrokenFile{"MismatchedTag", "<c><project name=\"A\"></processor></c>", "XML_ERROR_MISMATCHED_ELEMENT"},
                      BrokenFile{"RepeatedAttribute", "<c><project name=\"A\" name=\"B\"/></c>",
                                 "XML_ERROR_PARSING_ATTRIBUTE"}),
    [](const ::testing::TestParamInfo<BrokenFile>& info) { return std::string(info.param.name); });

TEST_F(ConfigLoaderTest, ReadsTheFileBesideTheExecutable)
{
    machine().SetExecutablePath("D:\\Tools\\Halvex\\bin\\HalvexService.exe");
    machine().fileSystem().WriteFile("D:\\Tools\\Halvex\\bin\\DPRConfig.xml",
                                      "<c><project name=\"Here\"><processor><module>" + Dpr("LTE") +
                                          "</module></processor></project></c>");
    WriteConfig("<c><project name=\"Elsewhere\"><processor><module>" + Dpr("LTE") +
                "</module></processor></project></c>");

    EXPECT_TRUE(XMLHelper::ParseXMLContent());

    EXPECT_THAT(Projects(List()), ElementsAre("Here"));
}

TEST_F(ConfigLoaderTest, ExecutablePathBeyondTheBufferFailsLikeAMissingFile)
{
    // Cut to 255 characters, the path would still end in a real folder holding
    // a valid file; the load must not pick it up.
    std::string folder = "C:\\Halvex\\" + std::string(240, 'f');
    machine().SetExecutablePath(folder + "\\HalvexService.exe");
    ASSERT_GT(machine().ExecutablePath().size(), 255u);
    machine().fileSystem().WriteFile(folder + "\\DPRConfig.xml", "<c><project name=\"A\"><processor><module>" +
                                                                      Dpr("LTE") + "</module></processor></project></c>");

    EXPECT_FALSE(XMLHelper::ParseXMLContent());

    EXPECT_TRUE(List().empty());
    auto messages = LoaderMessages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_THAT(messages[0], ::testing::StartsWith("e :   load xml file C:\\Halvex\\fff"));
    EXPECT_EQ(messages[1], "e :   xml file errorid: XML_ERROR_FILE_NOT_FOUND failed");
}

}  // namespace
