// What the TK42-N modem refuses: every malformed or unknown command is
// answered with ERROR and changes nothing.
#include <gtest/gtest.h>

#include <ostream>

#include "sim/modem_tk42n.h"

namespace {

struct Refused {
    const char* name;
    const char* command;
};

void PrintTo(const Refused& refused, std::ostream* out)
{
    *out << refused.name;
}

class ModemRefuses : public ::testing::TestWithParam<Refused> {};

TEST_P(ModemRefuses, AnswersErrorAndKeepsItsTable)
{
    sim::Tk42nModem modem;
    EXPECT_EQ(modem.Execute(GetParam().command), "\r\nERROR\r\n");
    EXPECT_EQ(modem.SetCommandCount(), 0);
    EXPECT_TRUE(modem.PinCommands().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Tk42n, ModemRefuses,
    ::testing::Values(Refused{"BandMissing", "at+vcfg=\"sarcfg\",\"LTE\"\r\n"},
                      Refused{"BandWhereNone", "at+vcfg=\"sarcfg\",\"GSM\",1\r\n"},
                      Refused{"SetWithoutBand", "at+vcfg=\"sarcfg\",\"LTE\",23,2,3\r\n"},
                      Refused{"SetWithBandWhereNone", "at+vcfg=\"sarcfg\",\"GSM\",23,2,3,1\r\n"},
                      Refused{"ModeInLowerCase", "at+vcfg=\"sarcfg\",\"lte\",3\r\n"},
                      Refused{"UnknownMode", "at+vcfg=\"sarcfg\",\"NR\",3\r\n"},
                      Refused{"NotANumber", "at+vcfg=\"sarcfg\",\"LTE\",20,x,0,3\r\n"},
                      Refused{"OutOfRange", "at+vcfg=\"sarcfg\",\"LTE\",99999999999,0,0,3\r\n"},
                      Refused{"NoCrLf", "at+vcfg=\"sarcfg\",\"LTE\",20,0,0,3"},
                      Refused{"TwoLines", "at+vsar=2,1\r\nat+vsar=2,1\r\n"},
                      Refused{"UnbalancedQuotes", "at+vcfg=\"sarcfg,\"LTE\",20,0,0,3\r\n"},
                      Refused{"UnknownCommand", "at+cfun=1\r\n"},
                      Refused{"PinWithOneValue", "at+vsar=2\r\n"},
                      Refused{"GpioPinNotANumber", "at+vcfg=\"rf/sar/gpioctl\",1,x\r\n"},
                      Refused{"Empty", ""}),
    [](const ::testing::TestParamInfo<Refused>& info) { return std::string(info.param.name); });

}  // namespace
