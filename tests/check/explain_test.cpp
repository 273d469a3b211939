// Which entry the service would choose, and why; the near misses when none fits.
#include <gtest/gtest.h>

#include "config_findings.h"
#include "explain.h"
#include "sim/smbios_builder.h"

namespace {

using halvex_check::Explain;
using halvex_check::Explanation;

std::vector<ModuleConfig> Entries()
{
    return halvex_check::CheckConfigText(R"(<config>
<project name="ModelX">
<processor manufacturer="Intel"><module method="all band"><dpr mode="GSM"/></module></processor>
<processor manufacturer="AMD"><module method="single band"><dpr mode="GSM"/></module></processor>
</project>
<project name="Aero"><processor><module method="all band"><dpr mode="GSM"/></module></processor></project>
<project name=" Pad 5"><processor><module method="all band"><dpr mode="GSM"/></module></processor></project>
<project name="Z9"><processor><module method="all band"><dpr mode="GSM"/></module></processor></project>
</config>)")
        .entries;
}

std::vector<uint8_t> Table(const std::string& version, const std::string& family, const std::string& processor)
{
    sim::SmbiosSystem system;
    system.version = version;
    system.family = family;
    return sim::SmbiosBuilder().AddSystem(system).AddProcessor(processor).AddEndOfTable().Build();
}

TEST(Explain, NamesTheEntryAndWhyByVersionOrFamily)
{
    const auto entries = Entries();
    const Explanation byVersion = Explain(entries, Table("ModelX", "Aero", "AMD Ryzen 7"));
    EXPECT_EQ(byVersion.chosen, 1);
    EXPECT_FALSE(byVersion.fromFamily);
    EXPECT_EQ(byVersion.why, "project \"ModelX\" equals the system version, letter case ignored; manufacturer "
                             "\"AMD\" is in the processor version \"AMD Ryzen 7\"; it is the first such entry in "
                             "the file");

    const Explanation byFamily = Explain(entries, Table("X", "aero", "Intel Core"));
    EXPECT_EQ(byFamily.chosen, 2);
    EXPECT_TRUE(byFamily.fromFamily);
    EXPECT_EQ(byFamily.comparedText, "aero");
    EXPECT_NE(byFamily.why.find("equals the family"), std::string::npos);
}

TEST(Explain, WhenNothingFitsListsTheNearMisses)
{
    const auto entries = Entries();
    const Explanation e = Explain(entries, Table("ModelX", "Aero", "Corvane Arm X1"));
    ASSERT_EQ(e.chosen, -1);
    ASSERT_EQ(e.nearMisses.size(), 3u);
    EXPECT_EQ(e.nearMisses[0].entry, 0u);
    EXPECT_NE(e.nearMisses[0].why.find("manufacturer \"Intel\" is not in the processor version"), std::string::npos);
    EXPECT_EQ(e.nearMisses[1].entry, 1u);
    EXPECT_EQ(e.nearMisses[2].entry, 2u);
    EXPECT_NE(e.nearMisses[2].why.find("the project is the family; the family counts only"), std::string::npos);

    const Explanation version = Explain(entries, Table("z9", "Tablet", "AMD"));
    ASSERT_EQ(version.chosen, -1);
    ASSERT_EQ(version.nearMisses.size(), 1u);
    EXPECT_EQ(version.nearMisses[0].entry, 4u);
    EXPECT_NE(version.nearMisses[0].why.find("replaced by the family \"Tablet\""), std::string::npos);

    const Explanation blanks = Explain(entries, Table("Pad 5", "", "AMD"));
    ASSERT_EQ(blanks.nearMisses.size(), 1u);
    EXPECT_EQ(blanks.nearMisses[0].entry, 3u);
}

// Without a table every text is empty: only a project with an empty name fits,
// as the service finds it. A bare structure table reads like a whole one.
TEST(Explain, ReadsBareTablesAndLaptopsWithoutOne)
{
    auto entries = Entries();
    EXPECT_EQ(Explain(entries, {}).chosen, -1);
    EXPECT_NE(Explain(entries, {}).why.find("no SMBIOS table"), std::string::npos);
    entries.push_back(entries.front());
    entries.back().projectName = "";
    entries.back().manufacturer = "";
    EXPECT_EQ(Explain(entries, {}).chosen, 5);

    const std::vector<uint8_t> whole = Table("ModelX", "Aero", "AMD");
    const std::vector<uint8_t> bare(whole.begin() + 8, whole.end());
    EXPECT_EQ(halvex_check::WithFirmwareHeader(whole), whole);
    const Explanation fromBare = Explain(entries, bare);
    EXPECT_EQ(fromBare.chosen, 1);
    EXPECT_EQ(fromBare.identity.family, "Aero");
}

}  // namespace
