#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/smbios_reader.h"
#include "sim/smbios_builder.h"
#include "machine_fixture.h"

namespace {

constexpr DWORD kRsmb = 0x52534D42u;

using FirmwareTest = MachineTest;

TEST_F(FirmwareTest, GetSystemFirmwareTableReportsSizeThenCopies)
{
    EXPECT_EQ(GetSystemFirmwareTable(kRsmb, 0, nullptr, 0), 0u);

    auto table = sim::SmbiosBuilder().AddProcessor("AMD Ryzen 5").Build();
    machine().firmware().SetSmbiosTable(table);
    UINT size = GetSystemFirmwareTable(kRsmb, 0, nullptr, 0);
    ASSERT_EQ(size, table.size());

    std::vector<uint8_t> small(size - 1, 0xAB);
    EXPECT_EQ(GetSystemFirmwareTable(kRsmb, 0, small.data(), static_cast<DWORD>(small.size())), size);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(small, std::vector<uint8_t>(size - 1, 0xAB));

    std::vector<uint8_t> buffer(size + 4, 0);
    EXPECT_EQ(GetSystemFirmwareTable(kRsmb, 0, buffer.data(), static_cast<DWORD>(buffer.size())), size);
    buffer.resize(size);
    EXPECT_EQ(buffer, table);

    // Other providers and tables are absent.
    EXPECT_EQ(GetSystemFirmwareTable(0x41435049u, 0, nullptr, 0), 0u);
    EXPECT_EQ(GetSystemFirmwareTable(kRsmb, 1, nullptr, 0), 0u);

    machine().Reset();
    EXPECT_EQ(GetSystemFirmwareTable(kRsmb, 0, nullptr, 0), 0u);
}

class HostTableTest : public MachineTest {
protected:
    void SetUp() override
    {
        MachineTest::SetUp();
        char pattern[] = "/tmp/halvex-dmi-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_folder = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(m_folder); }

    void WriteFile(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        std::ofstream out(m_folder + "/" + name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    std::string m_folder;
};

TEST_F(HostTableTest, LoadsTheHostTableBehindAnRsmbHeader)
{
    sim::SmbiosSystem system;
    system.version = "HostModel";
    auto structures = sim::SmbiosBuilder().AddSystem(system).AddProcessor("Intel Xeon").AddEndOfTable().Structures();
    WriteFile("DMI", structures);
    std::vector<uint8_t> entry = {'_', 'S', 'M', '3', '_', 0, 24, 3, 4, 0, 1};
    entry.resize(24, 0);
    WriteFile("smbios_entry_point", entry);

    ASSERT_TRUE(machine().firmware().LoadHostTable(m_folder));

    auto table = machine().firmware().SmbiosTable();
    ASSERT_TRUE(table.has_value());
    ASSERT_EQ(table->size(), structures.size() + 8);
    EXPECT_EQ((*table)[1], 3);
    EXPECT_EQ((*table)[2], 4);
    EXPECT_EQ((*table)[4] | ((*table)[5] << 8), static_cast<int>(structures.size()));
    SmbiosInfo info = SmbiosReader();
    EXPECT_EQ(info.version, "HostModel");
    EXPECT_EQ(info.processorVersion, "Intel Xeon");

    // A 2.x entry point carries its version at other offsets.
    std::vector<uint8_t> legacy = {'_', 'S', 'M', '_', 0, 31, 2, 8};
    legacy.resize(31, 0);
    WriteFile("smbios_entry_point", legacy);
    ASSERT_TRUE(machine().firmware().LoadHostTable(m_folder));
    EXPECT_EQ((*machine().firmware().SmbiosTable())[1], 2);
    EXPECT_EQ((*machine().firmware().SmbiosTable())[2], 8);
}

TEST_F(HostTableTest, UnreadableOrUnknownHostTableChangesNothing)
{
    EXPECT_FALSE(machine().firmware().LoadHostTable(m_folder));
    WriteFile("DMI", {1, 4, 0, 0, 0, 0});
    WriteFile("smbios_entry_point", {'_', 'X', 'Y', '_', 0, 0, 0, 0, 0, 0, 0});
    EXPECT_FALSE(machine().firmware().LoadHostTable(m_folder));
    EXPECT_FALSE(machine().firmware().SmbiosTable().has_value());
}

}  // namespace
