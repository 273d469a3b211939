// The TK42-N modem's answers: what it takes, and what it refuses.
#include <gtest/gtest.h>

#include <ostream>

#include "sim/modem_tk42n.h"

namespace {

using sim::SarValues;
using sim::Tk42nModem;

const std::string kOk = "\r\nOK\r\n";
const std::string kError = "\r\nERROR\r\n";

struct Exchange {
    const char* name;
    const char* command;
    std::string reply;
};

void PrintTo(const Exchange& exchange, std::ostream* out)
{
    *out << exchange.name;
}

class ModemAnswers : public ::testing::TestWithParam<Exchange> {};

TEST_P(ModemAnswers, AnswerOnATableWithTwoEntries)
{
    Tk42nModem modem;
    modem.SetSar("LTE", 3, SarValues{23, 2, 3});
    modem.SetSar("GSM", 99, SarValues{30, 4, 5});  // GSM has no bands
    EXPECT_EQ(modem.Execute(GetParam().command), GetParam().reply);
}

INSTANTIATE_TEST_SUITE_P(
    Tk42n, ModemAnswers,
    ::testing::Values(
        Exchange{"Query", "at+vcfg=\"sarcfg\",\"LTE\",3\r\n", "\r\n+VCFG: \"sarcfg\",\"LTE\",23,2,3\r\n\r\nOK\r\n"},
        Exchange{"QueryWithoutBandInCapitals", "AT+VCFG=\"SARCFG\",\"GSM\"\r\n",
                 "\r\n+VCFG: \"sarcfg\",\"GSM\",30,4,5\r\n\r\nOK\r\n"},
        Exchange{"QueryNeverSet", "at+vcfg=\"sarcfg\",\"WCDMA\",3\r\n",
                 "\r\n+VCFG: \"sarcfg\",\"WCDMA\",24,0,0\r\n\r\nOK\r\n"},
        Exchange{"Set", "at+vcfg=\"sarcfg\",\"LTE_WCDMA\",19,2,2\r\n", kOk},
        Exchange{"GpioPin", "at+vcfg=\"rf/sar/gpioctl\",1,250\r\n", kOk},
        Exchange{"SarPin", "at+vsar=2,1\r\n", kOk},
        Exchange{"BandMissing", "at+vcfg=\"sarcfg\",\"LTE\"\r\n", kError},
        Exchange{"BandWhereNone", "at+vcfg=\"sarcfg\",\"GSM\",1\r\n", kError},
        Exchange{"SetWithoutBand", "at+vcfg=\"sarcfg\",\"LTE\",23,2,3\r\n", kError},
        Exchange{"ModeInLowerCase", "at+vcfg=\"sarcfg\",\"lte\",3\r\n", kError},
        Exchange{"UnknownMode", "at+vcfg=\"sarcfg\",\"NR\",3\r\n", kError},
        Exchange{"NotANumber", "at+vcfg=\"sarcfg\",\"LTE\",x\r\n", kError},
        Exchange{"OutOfRange", "at+vcfg=\"sarcfg\",\"LTE\",99999999999\r\n", kError},
        Exchange{"NoCrLf", "at+vcfg=\"sarcfg\",\"LTE\",3", kError},
        Exchange{"UnbalancedQuotes", "at+vcfg=\"sarcfg,\"LTE\",3\r\n", kError},
        Exchange{"UnknownCommand", "at+cfun=1\r\n", kError},
        Exchange{"PinWithOneValue", "at+vsar=2\r\n", kError},
        Exchange{"Empty", "", kError}),
    [](const ::testing::TestParamInfo<Exchange>& info) { return std::string(info.param.name); });

TEST(Tk42nModem, SetValuesAndPinCommandsSurviveAReboot)
{
    Tk42nModem modem;
    EXPECT_EQ(modem.Execute("at+vcfg=\"sarcfg\",\"WCDMA\",21,-1,4,8\r\n"), kOk);
    EXPECT_EQ(modem.Execute("at+vsar=2,1\r\n"), kOk);
    modem.Reboot();
    EXPECT_EQ(modem.BootCount(), 2u);
    EXPECT_EQ(modem.Sar("WCDMA", 8), (SarValues{21, -1, 4}));
    EXPECT_EQ(modem.Sar("WCDMA", 1), Tk42nModem::kFactoryValues);
    EXPECT_EQ(modem.PinCommands(), std::vector<std::string>{"at+vsar=2,1"});
    EXPECT_EQ(modem.SetCommandCount(), 1);
}

}  // namespace
