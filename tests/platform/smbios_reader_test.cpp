#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "platform/smbios_reader.h"
#include "sim/smbios_builder.h"
#include "machine_fixture.h"

namespace {

class SmbiosReaderTest : public MachineTest {
protected:
    void Install(const std::vector<uint8_t>& table) { machine().firmware().SetSmbiosTable(table); }
};

sim::SmbiosSystem FullSystem()
{
    sim::SmbiosSystem system;
    system.manufacturer = "Varnick";
    system.productName = "NB-14 Pro";
    system.version = "ModelX";
    system.serialNumber = "SN0042";
    system.uuid = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    system.skuNumber = "SKU-7";
    system.family = "Notebook";
    return system;
}

// Type 1 with string numbers written by hand: {manufacturer, product, version,
// serial, sku, family} and the given string set.
std::vector<uint8_t> SystemWithNumbers(std::vector<uint8_t> numbers, const std::vector<std::string>& strings)
{
    std::vector<uint8_t> formatted(23, 0);
    formatted[0x04 - 4] = numbers[0];
    formatted[0x05 - 4] = numbers[1];
    formatted[0x06 - 4] = numbers[2];
    formatted[0x07 - 4] = numbers[3];
    formatted[0x19 - 4] = numbers[4];
    formatted[0x1A - 4] = numbers[5];
    return sim::SmbiosBuilder().AddStructure(1, formatted, strings).AddProcessor("Intel(R) Core(TM)").Build();
}

TEST_F(SmbiosReaderTest, NoTableGivesEmptyFields)
{
    SmbiosInfo info = SmbiosReader();
    EXPECT_EQ(info.version, "");
    EXPECT_EQ(info.family, "");
    EXPECT_EQ(info.uuid, "");
    EXPECT_EQ(info.processorVersion, "");
}

TEST_F(SmbiosReaderTest, ReadsSystemAndProcessorAmongOtherStructures)
{
    Install(sim::SmbiosBuilder()
                .AddStructure(0, std::vector<uint8_t>(20, 0x01), {"BIOS Vendor", "1.07"})
                .AddStructure(3, std::vector<uint8_t>(9, 0x00), {})
                .AddSystem(FullSystem())
                .AddStructure(2, std::vector<uint8_t>(11, 0x02), {"Board"})
                .AddProcessor("Intel(R) Core(TM) i7-1185G7 @ 3.00GHz")
                .AddEndOfTable()
                .Build());

    SmbiosInfo info = SmbiosReader();

    EXPECT_EQ(info.manufacturer, "Varnick");
    EXPECT_EQ(info.productName, "NB-14 Pro");
    EXPECT_EQ(info.version, "ModelX");
    EXPECT_EQ(info.serialNumber, "SN0042");
    EXPECT_EQ(info.skuNumber, "SKU-7");
    EXPECT_EQ(info.family, "Notebook");
    // Bytes in table order, no swapping of the first fields.
    EXPECT_EQ(info.uuid, "00112233-4455-6677-8899-AABBCCDDEEFF");
    EXPECT_EQ(info.processorVersion, "Intel(R) Core(TM) i7-1185G7 @ 3.00GHz");
}

TEST_F(SmbiosReaderTest, ShortStructuresArePassedOverAndShortFieldsStayEmpty)
{
    auto shortSystem = FullSystem();
    shortSystem.length = 24;
    shortSystem.version = "TooShort";
    auto second = FullSystem();
    second.version = "Second";
    sim::SmbiosProcessor shortProcessor;
    shortProcessor.version = "TooShortCpu";
    shortProcessor.length = 21;
    Install(sim::SmbiosBuilder()
                .AddSystem(shortSystem)
                .AddProcessor(shortProcessor)
                .AddSystem(second)
                .AddProcessor("AMD Ryzen 7")
                .Build());
    SmbiosInfo info = SmbiosReader();
    EXPECT_EQ(info.version, "Second");
    EXPECT_EQ(info.processorVersion, "AMD Ryzen 7");

    // 25 bytes: no SKU and no family; 26: SKU but no family; 27: both.
    const std::vector<std::pair<uint8_t, std::pair<const char*, const char*>>> lengths = {
        {25, {"", ""}}, {26, {"SKU-7", ""}}, {27, {"SKU-7", "Notebook"}}};
    for (const auto& [length, expected] : lengths) {
        SCOPED_TRACE(static_cast<int>(length));
        auto system = FullSystem();
        system.length = length;
        Install(sim::SmbiosBuilder().AddSystem(system).Build());
        info = SmbiosReader();
        EXPECT_EQ(info.version, "ModelX");
        EXPECT_EQ(info.uuid, "00112233-4455-6677-8899-AABBCCDDEEFF");
        EXPECT_EQ(info.skuNumber, expected.first);
        EXPECT_EQ(info.family, expected.second);
    }
}

TEST_F(SmbiosReaderTest, StringNumbersSelectFromTheSetOrGiveEmptyText)
{
    // manufacturer 0, product 3 (the last), version 1, serial 4 (beyond the set).
    Install(SystemWithNumbers({0, 3, 1, 4, 2, 9}, {"First", "Second", "Third"}));
    SmbiosInfo info = SmbiosReader();
    EXPECT_EQ(info.manufacturer, "");
    EXPECT_EQ(info.productName, "Third");
    EXPECT_EQ(info.version, "First");
    EXPECT_EQ(info.skuNumber, "Second");
    // Beyond the set: empty, not a string of the next structure.
    EXPECT_EQ(info.serialNumber, "");
    EXPECT_EQ(info.family, "");
    EXPECT_EQ(info.processorVersion, "Intel(R) Core(TM)");

    // An empty string set gives the empty text for every number.
    Install(SystemWithNumbers({1, 2, 3, 1, 1, 1}, {}));
    info = SmbiosReader();
    EXPECT_EQ(info.manufacturer, "");
    EXPECT_EQ(info.version, "");
    EXPECT_EQ(info.processorVersion, "Intel(R) Core(TM)");
}

TEST_F(SmbiosReaderTest, MalformedWalksStopInsideTheTable)
{
    // A length byte below 4 ends the walk before a later system structure.
    Install(sim::SmbiosBuilder().AddStructure(0, {}, {"x"}, 3).AddSystem(FullSystem()).Build());
    EXPECT_EQ(SmbiosReader().version, "");

    // A formatted part running past the end of the table.
    Install(sim::SmbiosBuilder().AddSystem(FullSystem()).AddRaw({4, 0x40, 0, 0, 1}).Build());
    SmbiosInfo info = SmbiosReader();
    EXPECT_EQ(info.version, "ModelX");
    EXPECT_EQ(info.processorVersion, "");

    // A structure whose string set never ends: nothing after it is found, and
    // its own unterminated string reads as empty.
    std::vector<uint8_t> unterminated = {0, 4, 0, 0, 'a', 'b', 'c'};
    Install(sim::SmbiosBuilder().AddRaw(unterminated).Build());
    EXPECT_EQ(SmbiosReader().version, "");
    auto openSystem = sim::SmbiosBuilder().AddSystem(FullSystem()).Build();
    openSystem.resize(openSystem.size() - 2);  // drops "Notebook"'s NUL and the set's closing NUL
    Install(openSystem);
    info = SmbiosReader();
    EXPECT_EQ(info.version, "ModelX");
    EXPECT_EQ(info.family, "");

    // Headers without a structure table, or shorter than a header.
    Install(sim::SmbiosBuilder().Build());
    EXPECT_EQ(SmbiosReader().uuid, "");
    Install({0, 3, 2, 0, 0x10});
    EXPECT_EQ(SmbiosReader().uuid, "");
}

TEST_F(SmbiosReaderTest, DeclaredTableLengthBoundsTheWalk)
{
    sim::SmbiosBuilder builder;
    builder.AddSystem(FullSystem()).AddProcessor("Intel Core");
    size_t systemSize = sim::SmbiosBuilder().AddSystem(FullSystem()).Structures().size();

    // Larger than the bytes delivered: the delivered bytes are the table.
    Install(sim::SmbiosBuilder(builder).DeclareLength(0xFFFFFFF0u).Build());
    SmbiosInfo info = SmbiosReader();
    EXPECT_EQ(info.version, "ModelX");
    EXPECT_EQ(info.processorVersion, "Intel Core");

    // Shorter: structures past the declared end are not read.
    Install(sim::SmbiosBuilder(builder).DeclareLength(static_cast<uint32_t>(systemSize)).Build());
    info = SmbiosReader();
    EXPECT_EQ(info.version, "ModelX");
    EXPECT_EQ(info.processorVersion, "");

    // Cut inside the system structure's strings: "Notebook" is not ended
    // inside the table and reads as empty.
    Install(sim::SmbiosBuilder(builder).DeclareLength(static_cast<uint32_t>(systemSize - 3)).Build());
    info = SmbiosReader();
    EXPECT_EQ(info.version, "ModelX");
    EXPECT_EQ(info.family, "");
}

TEST_F(SmbiosReaderTest, TableChangingBetweenTheTwoReadsGivesEmptyFields)
{
    auto table = sim::SmbiosBuilder().AddSystem(FullSystem()).Build();
    for (int delta : {-1, 1}) {
        SCOPED_TRACE(delta);
        Install(table);
        auto changed = table;
        changed.resize(table.size() + delta, 0);
        machine().firmware().ReplaceTableAfterSizeQuery(changed);
        EXPECT_EQ(SmbiosReader().version, "");
    }
    // Once the change is over, reading works again.
    EXPECT_EQ(SmbiosReader().version, "ModelX");
}

}  // namespace
