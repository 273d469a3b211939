#include <gtest/gtest.h>

#include <windows.h>

#include "log_file.h"
#include "logging/log_helper.h"
#include "machine_fixture.h"

namespace {

constexpr const char* kLogsKey = "SOFTWARE\\Varnick Wireless Inc\\Logs";

struct SwitchCase {
    const char* name;
    void (*prepare)(sim::Registry&);
    bool logged;
};

void PrintTo(const SwitchCase& value, std::ostream* out)
{
    *out << value.name;
}

void NoKey(sim::Registry&) {}
void KeyWithoutValue(sim::Registry& r) { r.CreateKey(kLogsKey); }
void Zero(sim::Registry& r) { r.SetDword(kLogsKey, "IsAll", 0); }
void One(sim::Registry& r) { r.SetDword(kLogsKey, "IsAll", 1); }
void Two(sim::Registry& r) { r.SetDword(kLogsKey, "IsAll", 2); }
void LowByteOne(sim::Registry& r) { r.SetDword(kLogsKey, "IsAll", 257); }
void StringZero(sim::Registry& r) { r.SetString(kLogsKey, "IsAll", "0"); }
void EmptyDword(sim::Registry& r) { r.SetRaw(kLogsKey, "IsAll", REG_DWORD, {}); }
void OtherNameCase(sim::Registry& r) { r.SetDword("software\\VARNICK WIRELESS INC\\logs", "isall", 0); }
void LongDword(sim::Registry& r) { r.SetRaw(kLogsKey, "IsAll", REG_DWORD, std::vector<uint8_t>(16, 0)); }

class LogSwitch : public MachineTest, public testing::WithParamInterface<SwitchCase> {};

}  // namespace

TEST_P(LogSwitch, DecidesWhetherTheRunWritesAnything)
{
    GetParam().prepare(machine().registry());
    LogHelper::Init();
    LogHelper::Log(LOG_LEVEL_ERROR, "F", "error line");
    LogHelper::Log(LOG_LEVEL_BARE, "F", "bare line");
    { LogScope scope("Scope"); }
    auto lines = testsupport::ShutdownAndReadLogMessages();

    // The file of the run exists either way.
    EXPECT_EQ(machine().fileSystem().List(testsupport::LogFolder()).size(), 1u);
    if (GetParam().logged) {
        // The switch's own scope lines are never written: the level is off while it is read.
        EXPECT_EQ(lines, (std::vector<std::string>{"e :   error line", "bare line", "h : + Scope", "h : - Scope"}));
    } else {
        EXPECT_TRUE(lines.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, LogSwitch,
    testing::Values(SwitchCase{"NoKey", NoKey, true}, SwitchCase{"KeyWithoutValue", KeyWithoutValue, true},
                    SwitchCase{"Zero", Zero, false}, SwitchCase{"One", One, true}, SwitchCase{"Two", Two, false},
                    SwitchCase{"LowByteOne", LowByteOne, true}, SwitchCase{"StringZero", StringZero, true},
                    SwitchCase{"EmptyDword", EmptyDword, true}, SwitchCase{"OtherNameCase", OtherNameCase, false},
                    SwitchCase{"LongDword", LongDword, true}),
    [](const testing::TestParamInfo<SwitchCase>& info) { return std::string(info.param.name); });
