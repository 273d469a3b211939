#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>

#include "scenario.h"

using namespace halvex_sim;

namespace {

// A scenario with `body` inside <scenario>, its first line being line 2.
std::string Wrap(const std::string& body) { return "<scenario name=\"t\">\n" + body + "\n</scenario>"; }

struct Malformed {
    const char* body;
    const char* error;
};

void PrintTo(const Malformed& value, std::ostream* out)
{
    std::string error = value.error;
    std::replace(error.begin(), error.end(), '"', '\'');
    *out << error;
}

class MalformedScenarioTest : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedScenarioTest, NamesLineAndProblem)
{
    const ScenarioResult result = ParseScenario(Wrap(GetParam().body), "s.xml");
    EXPECT_FALSE(result.scenario);
    EXPECT_EQ(result.error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MalformedScenarioTest,
    ::testing::Values(
        Malformed{"<timeline/>\n<lapton/>", "s.xml:3: unknown element <lapton> in <scenario>"},
        Malformed{"<timeline>\n<fault what=\"open\" action=\"fail\" coutn=\"2\"/></timeline>",
                  "s.xml:3: unknown attribute \"coutn\" on <fault>"},
        Malformed{"<timeline><fault what=\"class\" class=\"interface\" match=\"x\"/></timeline>",
                  "s.xml:2: unknown attribute \"match\" on <fault>"},
        Malformed{"<timeline><fault what=\"flood\"/></timeline>", "s.xml:2: unknown fault kind \"flood\""},
        Malformed{"<timeline><fault what=\"reply\"/></timeline>", "s.xml:2: missing attribute \"action\" on <fault>"},
        Malformed{"<timeline><fault what=\"open\" action=\"late\"/></timeline>",
                  "s.xml:2: unknown value \"late\" for \"action\" on <fault>"},
        Malformed{"<timeline><fault what=\"open\" action=\"fail\" count=\"0\"/></timeline>",
                  "s.xml:2: bad number \"0\" for \"count\" on <fault>"},
        Malformed{"<timeline>\n\n<wait/></timeline>", "s.xml:4: missing attribute \"ms\" on <wait>"},
        Malformed{"<timeline><wait ms=\"1.5\"/></timeline>", "s.xml:2: bad number \"1.5\" for \"ms\" on <wait>"},
        Malformed{"<timeline><wait ms=\"-1\"/></timeline>", "s.xml:2: bad number \"-1\" for \"ms\" on <wait>"},
        Malformed{"<timeline><wait ms=\"4294967296\"/></timeline>",
                  "s.xml:2: bad number \"4294967296\" for \"ms\" on <wait>"},
        Malformed{"<timeline><jump/></timeline>", "s.xml:2: unknown element <jump> in <timeline>"},
        Malformed{"<timeline><start>now</start></timeline>", "s.xml:2: unexpected text in <start>"},
        Malformed{"<modem state=\"off\"/><timeline/>", "s.xml:2: unknown value \"off\" for \"state\" on <modem>"},
        Malformed{"<modem><sar mode=\"GSM\" band=\"3\" maxpower=\"1\" rowgrads=\"1\" columngrads=\"1\"/></modem>"
                  "<timeline/>",
                  "s.xml:2: \"band\" on <sar> is only for LTE and WCDMA"},
        Malformed{"<modem><sar mode=\"LTE\" maxpower=\"1\" rowgrads=\"1\" columngrads=\"1\"/></modem><timeline/>",
                  "s.xml:2: missing attribute \"band\" on <sar>"},
        Malformed{"<expect><sar mode=\"lte\"/></expect><timeline/>",
                  "s.xml:2: unknown value \"lte\" for \"mode\" on <sar>"},
        Malformed{"<expect><verdict is=\"done\"/></expect><timeline/>",
                  "s.xml:2: unknown value \"done\" for \"is\" on <verdict>"},
        Malformed{"<expect><status states=\"2,,1\"/></expect><timeline/>",
                  "s.xml:2: bad number \"\" for \"states\" on <status>"},
        Malformed{"<laptop uuid=\"1234\"/><timeline/>",
                  "s.xml:2: bad uuid \"1234\" on <laptop>: 32 hexadecimal digits expected"},
        Malformed{"<logging isall=\"1\" isall-string=\"1\"/><timeline/>",
                  "s.xml:2: <logging> takes one of \"isall\" and \"isall-string\""},
        Malformed{"<dprconfig><a/><b/></dprconfig><timeline/>",
                  "s.xml:2: <dprconfig> holds one element or one CDATA section"},
        Malformed{"<dprconfig file=\"missing.xml\"/><timeline/>",
                  "s.xml:2: cannot read \"missing.xml\" (a file is needed)"},
        Malformed{"<dprconfig file=\"/tmp\"/><timeline/>", "s.xml:2: cannot read \"/tmp\" (a file is needed)"},
        Malformed{"<dprconfig file=\"\"/><timeline/>", "s.xml:2: empty \"file\" on <dprconfig>"},
        Malformed{"<modem><sar mode=\"LTE\" band=\"1\" maxpower=\"1\" rowgrads=\"1\" columngrads=\"1\"/>\n"
                  "<sar mode=\"LTE\" band=\"3\" maxpower=\"1\" rowgrads=\"1\" columngrads=\"1\"/>\n"
                  "<sar mode=\"LTE\" band=\"1\" maxpower=\"2\" rowgrads=\"1\" columngrads=\"1\"/></modem><timeline/>",
                  "s.xml:4: second <sar> for LTE band 1 in <modem>"},
        Malformed{"<dprconfig file=\"a.xml\"><a/></dprconfig><timeline/>",
                  "s.xml:2: <dprconfig> has both \"file\" and content"},
        Malformed{"<timeline/>\n<timeline/>", "s.xml:3: second <timeline> in <scenario>"},
        Malformed{"<laptop/>", "s.xml:1: <timeline> missing in <scenario>"},
        Malformed{"<timeline>\n<start/>", "s.xml:2: not well-formed XML (XML_ERROR_MISMATCHED_ELEMENT)"}));

TEST(ScenarioTest, ReadsEveryPartIntoTheModel)
{
    const std::string dir = testing::TempDir();
    const ScenarioResult result = ParseScenario(R"(<scenario name="full" restart-limit="2">
  <adapter name="{E1}" type="71" status="down" instance="PCI\VEN_1" ipv4="no"/>
  <laptop version="ModelX" family="Fam" processor="AMD Ryzen" uuid="00112233-4455-6677-8899-AABBCCDDEEFF"/>
  <logging isall-string="1"/>
  <dprconfig><config><project name="ModelX"/></config></dprconfig>
  <modem interface="{M}" pid="0E81" state="dormant" ipv4="no" latency-ms="40" away-ms="900">
    <sar mode="LTE" band="3" maxpower="-21" rowgrads="6" columngrads="4"/>
  </modem>
  <adapter name="{E2}"/>
  <timeline>
    <fault what="command" action="late" match="GSM" count="2" late-ms="4000"/>
    <start/><settle timeout-ms="5000"/><power event="10"/><modem-state state="up"/>
    <modem-sar mode="GSM" maxpower="30" rowgrads="4" columngrads="2"/><stop/>
  </timeline>
  <expect><status states="2,4,3,1"/><log lacks="x"/><exit code="-1"/></expect>
</scenario>)", dir + "/full.xml");
    ASSERT_TRUE(result.scenario) << result.error;
    const Scenario& s = *result.scenario;
    EXPECT_EQ(s.name, "full");
    EXPECT_EQ(s.restartLimit, 2u);
    ASSERT_TRUE(s.laptop);
    EXPECT_EQ(s.laptop->uuid[0], 0x00);
    EXPECT_EQ(s.laptop->uuid[15], 0xFF);
    EXPECT_EQ(s.laptop->processor, "AMD Ryzen");
    EXPECT_EQ(s.logging->isAllString, "1");
    EXPECT_FALSE(s.logging->isAll);
    EXPECT_EQ(s.dprConfig, "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<config>\n    <project name=\"ModelX\"/>\n</config>\n");
    ASSERT_TRUE(s.modem);
    EXPECT_EQ(s.modem->productId, "0E81");
    EXPECT_EQ(s.modem->vendorId, "");
    EXPECT_EQ(s.modem->state, OperStatus::Dormant);
    EXPECT_EQ(s.modem->latencyMs, 40u);
    EXPECT_EQ(s.modem->awayMs, 900u);
    ASSERT_EQ(s.modem->sar.size(), 1u);
    EXPECT_EQ(s.modem->sar[0].band, 3);
    EXPECT_EQ(s.modem->sar[0].maxpower, -21);
    ASSERT_EQ(s.adapters.size(), 2u);
    EXPECT_EQ(s.modemPosition, 1u);
    EXPECT_EQ(s.adapters[0].ifType, 71u);
    EXPECT_EQ(s.adapters[0].status, OperStatus::Down);
    EXPECT_FALSE(s.adapters[0].ipv4);
    EXPECT_EQ(s.adapters[1].status, OperStatus::Up);

    ASSERT_EQ(s.timeline.size(), 7u);
    const Fault& fault = s.timeline[0].fault;
    EXPECT_EQ(fault.what, Fault::What::Command);
    EXPECT_EQ(fault.action, Fault::Action::Late);
    EXPECT_EQ(fault.match, "GSM");
    EXPECT_EQ(fault.count, 2);
    EXPECT_EQ(fault.lateMs, 4000u);
    EXPECT_EQ(s.timeline[0].line, 11);
    EXPECT_EQ(s.timeline[2].kind, Step::Kind::Settle);
    EXPECT_EQ(s.timeline[2].ms, 5000u);
    EXPECT_EQ(s.timeline[3].powerEvent, 10u);
    EXPECT_FALSE(s.timeline[5].sar.band);
    EXPECT_EQ(s.timeline[6].kind, Step::Kind::Stop);

    ASSERT_EQ(s.expectations.size(), 3u);
    EXPECT_EQ(s.expectations[0].states, (std::vector<uint32_t>{2, 4, 3, 1}));
    EXPECT_EQ(s.expectations[1].kind, Expectation::Kind::LogLacks);
    EXPECT_EQ(s.expectations[2].exitCode, -1);
}

TEST(ScenarioTest, KeepsCdataBytesAndReadsFilesBesideTheScenario)
{
    const std::string broken = "<config><project name=\"A\"></config";
    EXPECT_EQ(ParseScenario(Wrap("<dprconfig><![CDATA[" + broken + "]]></dprconfig><timeline/>"), "s.xml")
                  .scenario->dprConfig,
              broken);
    const ScenarioResult fromFile = LoadScenario(HALVEX_EXAMPLE_SCENARIOS "/intel-and-amd.xml");
    ASSERT_TRUE(fromFile.scenario) << fromFile.error;
    EXPECT_NE(fromFile.scenario->dprConfig->find("<project name=\"ModelX\">"), std::string::npos);
}

// The example files cannot run before the simulator program exists; they must
// at least stay valid.
TEST(ScenarioTest, EveryExampleParses)
{
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(HALVEX_EXAMPLE_SCENARIOS)) {
        const ScenarioResult result = LoadScenario(entry.path().string());
        EXPECT_TRUE(result.scenario) << result.error;
        if (result.scenario) {
            EXPECT_FALSE(result.scenario->expectations.empty()) << entry.path();
        }
        ++files;
    }
    EXPECT_EQ(files, 18);
}

}  // namespace
