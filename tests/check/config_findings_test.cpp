// Each kind of finding on a file that has it, and only there; the sample file
// has none. Findings are compared as "line:kind", the whole list at once.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config_findings.h"

namespace {

using halvex_check::CheckConfigFile;
using halvex_check::CheckConfigText;
using halvex_check::ConfigCheck;

std::vector<std::string> Found(const ConfigCheck& check)
{
    std::vector<std::string> found;
    for (const auto& f : check.findings) {
        found.push_back(std::to_string(f.line) + ":" + f.kind);
    }
    return found;
}

struct Case {
    const char* name;
    const char* file;  // line 1 is the opening <config>
    std::vector<std::string> found;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class Findings : public ::testing::TestWithParam<Case> {};

TEST_P(Findings, AreReportedWithTheirLines)
{
    const ConfigCheck check = CheckConfigText(GetParam().file);
    ASSERT_TRUE(check.readable) << check.error;
    EXPECT_EQ(Found(check), GetParam().found);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Findings,
    ::testing::Values(
        Case{"skipped rows of both methods", R"(<config>
<project name="ModelX"><processor manufacturer="AMD">
<module method="all band">
<dpr mode="LTE" band="1" maxpower="1" rowgrads="1" columngrads="1"/>
</module>
</processor><processor manufacturer="Intel">
<module method="single band">
<dpr mode="LTE_WCDMA" maxpower="1" rowgrads="1" columngrads="1"/>
</module>
</processor></project></config>)",
             {"4:skipped-row", "8:skipped-row"}},
        Case{"values written as -1, beyond 32 bits or followed by text", R"(<config>
<project name="ModelX"><processor><module method="single band">
<dpr mode="LTE" maxpower="99999999999" rowgrads="-" columngrads="-2147483648"/>
<dpr mode="GSM" maxpower="3dB" rowgrads="1"/><dpr mode="LTE" band="2" maxpower="1" rowgrads="1" columngrads="1"/>
</module></processor></project></config>)",
             {"3:written-as-minus-1", "3:out-of-range", "3:written-as-minus-1", "4:number-text",
              "4:written-as-minus-1"}},
        Case{"unknown method, no method and unknown mode", R"(<config>
<project name="ModelX"><processor>
<module method="All Band"><dpr mode="GSM" maxpower="1" rowgrads="1" columngrads="1"/></module>
</processor></project>
<project name="ModelY"><processor>
<module><dpr mode="lte" band="1" maxpower="1" rowgrads="1" columngrads="1"/></module>
</processor></project></config>)",
             {"3:unknown-method", "6:unknown-method", "6:unknown-mode"}},
        Case{"misspelt elements and attributes, and elements never read", R"(<config>
<project name="ModelX"><processor>
<module method="single band" methd="x">
<dpt/>
<dpr mode="GSM" maxpower="1" rowgrads="1" columngrads="1"/>
<dpt mode="LTE" band="3" maxPower="1" rowgrads="1" columngrads="1"><x/></dpt>
</module></processor></project></config>)",
             {"3:unknown-attribute", "4:unread-element", "6:misspelt-element", "6:unknown-attribute",
              "6:unread-element", "6:written-as-minus-1"}},
        Case{"manufacturer in another case, and one that is not Intel or AMD", R"(<config>
<project name="ModelX">
<processor manufacturer="intel"><module method="all band"><dpr mode="GSM"/></module></processor>
<processor manufacturer="AMD Ryzen"><module method="all band"><dpr mode="GSM"/></module></processor>
</project></config>)",
             {"3:manufacturer-case", "3:written-as-minus-1", "3:written-as-minus-1", "3:written-as-minus-1",
              "4:manufacturer-unbound", "4:written-as-minus-1", "4:written-as-minus-1", "4:written-as-minus-1"}},
        Case{"shadowed entries and modules, duplicate rows", R"(<config>
<project name="ModelX">
<processor manufacturer="AMD">
<module method="single band">
<dpr mode="GSM" maxpower="30" rowgrads="4" columngrads="2"/>
<dpr mode="GSM" band="7" maxpower="31" rowgrads="4" columngrads="2"/>
</module>
<module><dpr mode="GSM" maxpower="30" rowgrads="4" columngrads="2"/></module>
</processor>
<processor><module><dpr mode="GSM" maxpower="30" rowgrads="4" columngrads="2"/></module></processor>
<processor manufacturer="AMD"><module><dpr mode="GSM" maxpower="30" rowgrads="4" columngrads="2"/></module></processor>
</project>
<project name="modelx"><processor manufacturer="Intel">
<module method="all band"><dpr mode="GSM" maxpower="30" rowgrads="4" columngrads="2"/></module>
</processor></project></config>)",
             {"6:duplicate-row", "8:shadowed", "11:shadowed", "14:shadowed"}},
        Case{"project names the version rule cannot produce, and structural gaps", R"(<config>
<project name="X1"><processor><module method="all band"><dpr mode="GSM" maxpower="1" rowgrads="1" columngrads="1"/></module></processor></project>
<project name=""><processor><module method="all band"><dpr mode="GSM" maxpower="1" rowgrads="1" columngrads="1"/></module></processor></project>
<project/>
<project name="Abc ">
<processor/>
</project>
<project name="B12"/>
</config>)",
             {"2:project-name", "3:project-name", "4:structure", "5:project-name", "6:structure", "8:structure"}}));

TEST(ConfigCheck, TheSampleFileHasNoFinding)
{
    const ConfigCheck check = CheckConfigFile(HALVEX_EXAMPLES "/DPRConfig.xml");
    ASSERT_TRUE(check.readable) << check.error;
    EXPECT_EQ(check.entries.size(), 3u);
    EXPECT_EQ(Found(check), std::vector<std::string>{});
}

TEST(ConfigCheck, UnreadableFilesNameTheirProblem)
{
    const ConfigCheck broken = CheckConfigText("<config>\n<project name=\"A\">\n</config>");
    EXPECT_FALSE(broken.readable);
    EXPECT_EQ(broken.error, "line 2: XML_ERROR_MISMATCHED_ELEMENT (the service loads no entry at all)");
    EXPECT_EQ(CheckConfigFile(HALVEX_EXAMPLES).error, "not a file");
    EXPECT_EQ(CheckConfigFile(HALVEX_EXAMPLES "/none.xml").error, "no such file");
}

}  // namespace
