// The TK42-N modem on its own: its SAR table, the AT vocabulary, the pin
// commands, reply faults and reboots.
#include <gtest/gtest.h>

#include "sim/modem_tk42n.h"

namespace {

using sim::ReplyFault;
using sim::SarValues;
using sim::Tk42nModem;

const std::string kOk = "\r\nOK\r\n";
const std::string kError = "\r\nERROR\r\n";

TEST(Tk42nModemTest, QueryAnswersTheTableEntryOfTheModeAndBand)
{
    Tk42nModem modem;
    modem.SetSar("LTE", 3, SarValues{23, 2, 3});
    modem.SetSar("LTE", 7, SarValues{20, 1, 1});
    modem.SetSar("GSM", 99, SarValues{30, 4, 5});

    EXPECT_EQ(modem.Execute("at+vcfg=\"sarcfg\",\"LTE\",3\r\n"),
              "\r\n+VCFG: \"sarcfg\",\"LTE\",23,2,3\r\n\r\nOK\r\n");
    EXPECT_EQ(modem.Execute("at+vcfg=\"sarcfg\",\"LTE\",7\r\n"),
              "\r\n+VCFG: \"sarcfg\",\"LTE\",20,1,1\r\n\r\nOK\r\n");
    // Other bands and modes hold the factory values; GSM has no bands.
    EXPECT_EQ(modem.Execute("at+vcfg=\"sarcfg\",\"WCDMA\",3\r\n"),
              "\r\n+VCFG: \"sarcfg\",\"WCDMA\",24,0,0\r\n\r\nOK\r\n");
    EXPECT_EQ(modem.Execute("at+vcfg=\"sarcfg\",\"GSM\"\r\n"), "\r\n+VCFG: \"sarcfg\",\"GSM\",30,4,5\r\n\r\nOK\r\n");
    EXPECT_EQ(modem.Sar("GSM", 5), (SarValues{30, 4, 5}));
    EXPECT_EQ(modem.Execute("AT+VCFG=\"SARCFG\",\"LTE_WCDMA\"\r\n"),
              "\r\n+VCFG: \"sarcfg\",\"LTE_WCDMA\",24,0,0\r\n\r\nOK\r\n");
}

TEST(Tk42nModemTest, SetStoresTheValuesWithTheBandLast)
{
    Tk42nModem modem;
    EXPECT_EQ(modem.Execute("at+vcfg=\"sarcfg\",\"WCDMA\",21,-1,4,8\r\n"), kOk);
    EXPECT_EQ(modem.Sar("WCDMA", 8), (SarValues{21, -1, 4}));
    EXPECT_EQ(modem.Sar("WCDMA", 1), Tk42nModem::kFactoryValues);
    EXPECT_EQ(modem.Execute("at+vcfg=\"sarcfg\",\"WCDMA\",8\r\n"),
              "\r\n+VCFG: \"sarcfg\",\"WCDMA\",21,-1,4\r\n\r\nOK\r\n");
    EXPECT_EQ(modem.Execute("at+vcfg=\"sarcfg\",\"LTE_WCDMA\",19,2,2\r\n"), kOk);
    EXPECT_EQ(modem.Sar("LTE_WCDMA"), (SarValues{19, 2, 2}));
    EXPECT_EQ(modem.SetCommandCount(), 2);
}

TEST(Tk42nModemTest, MalformedOrUnknownCommandsAnswerError)
{
    Tk42nModem modem;
    const char* rejected[] = {
        "at+vcfg=\"sarcfg\",\"LTE\"\r\n",              // LTE needs a band
        "at+vcfg=\"sarcfg\",\"GSM\",1\r\n",            // GSM has none
        "at+vcfg=\"sarcfg\",\"LTE\",23,2,3\r\n",       // set without the band
        "at+vcfg=\"sarcfg\",\"lte\",3\r\n",            // modes are exact
        "at+vcfg=\"sarcfg\",\"NR\",3\r\n",             // unknown mode
        "at+vcfg=\"sarcfg\",\"LTE\",x\r\n",            // not a number
        "at+vcfg=\"sarcfg\",\"LTE\",99999999999\r\n",  // out of range
        "at+vcfg=\"sarcfg\",\"LTE\",3",                // no CR
        "at+vcfg=\"sarcfg,\"LTE\",3\r\n",              // unbalanced quotes
        "at+cfun=1\r\n",
        "at+vsar=2\r\n",
        "",
    };
    for (const char* command : rejected) {
        EXPECT_EQ(modem.Execute(command), kError) << command;
    }
    EXPECT_EQ(modem.SetCommandCount(), 0);
    EXPECT_EQ(modem.Sar("LTE", 3), Tk42nModem::kFactoryValues);
}

TEST(Tk42nModemTest, PinCommandsAreRecordedAndAnswerOk)
{
    Tk42nModem modem;
    EXPECT_EQ(modem.Execute("at+vcfg=\"rf/sar/gpioctl\",1,250\r\n"), kOk);
    EXPECT_EQ(modem.Execute("at+vsar=2,1\r\n"), kOk);
    EXPECT_EQ(modem.PinCommands(),
              (std::vector<std::string>{"at+vcfg=\"rf/sar/gpioctl\",1,250", "at+vsar=2,1"}));
}

TEST(Tk42nModemTest, TheTableAndPinStateSurviveAReboot)
{
    Tk42nModem modem;
    modem.Execute("at+vcfg=\"sarcfg\",\"LTE\",23,2,3,3\r\n");
    modem.Execute("at+vsar=2,1\r\n");
    modem.Reboot();
    EXPECT_EQ(modem.BootCount(), 2u);
    EXPECT_EQ(modem.Sar("LTE", 3), (SarValues{23, 2, 3}));
    EXPECT_EQ(modem.PinCommands().size(), 1u);
    modem.Reset();
    EXPECT_EQ(modem.Sar("LTE", 3), Tk42nModem::kFactoryValues);
    EXPECT_EQ(modem.BootCount(), 1u);
}

TEST(Tk42nModemTest, ReplyFaultsSpoilOnlyTheMatchingRepliesTheGivenNumberOfTimes)
{
    Tk42nModem modem;
    modem.SetSar("LTE", 3, SarValues{23, 2, 3});
    modem.InjectReplyFault(ReplyFault::LowerCase, "\"LTE\"", 1);
    EXPECT_EQ(modem.Execute("at+vcfg=\"sarcfg\",\"GSM\"\r\n"),
              "\r\n+VCFG: \"sarcfg\",\"GSM\",24,0,0\r\n\r\nOK\r\n");
    EXPECT_EQ(modem.Execute("at+vcfg=\"sarcfg\",\"LTE\",3\r\n"),
              "\r\n+vcfg: \"sarcfg\",\"lte\",23,2,3\r\n\r\nok\r\n");
    EXPECT_EQ(modem.Execute("at+vcfg=\"sarcfg\",\"LTE\",3\r\n"),
              "\r\n+VCFG: \"sarcfg\",\"LTE\",23,2,3\r\n\r\nOK\r\n");

    modem.InjectReplyFault(ReplyFault::ExtraQuotesAndBlanks, "", 1);
    EXPECT_EQ(modem.Execute("at+vcfg=\"sarcfg\",\"LTE\",3\r\n"),
              "\r\n+VCFG:  \"sarcfg\" ,\"LTE\", \"23\" , \"2\",  \"3\"  \r\n\r\nOK\r\n");

    modem.InjectReplyFault(ReplyFault::Garbage, "", 1);
    const std::string garbage = modem.Execute("at+vcfg=\"sarcfg\",\"LTE\",3\r\n");
    EXPECT_EQ(garbage.find("+VCFG:"), std::string::npos);
    EXPECT_EQ(garbage.find("OK"), std::string::npos);
    EXPECT_EQ(garbage.find('\0'), std::string::npos);

    modem.InjectReplyFault(ReplyFault::Oversized, "", -1, 1500);
    for (int i = 0; i < 2; ++i) {
        const std::string longReply = modem.Execute("at+vcfg=\"sarcfg\",\"LTE\",3\r\n");
        EXPECT_EQ(longReply.size(), 1500u);
        EXPECT_EQ(longReply.rfind("\r\n+VCFG: \"sarcfg\",\"LTE\",23,2,3\r\n", 0), 0u);
    }
    modem.ClearReplyFaults();
    EXPECT_EQ(modem.Execute("at+vsar=2,1\r\n"), kOk);
}

}  // namespace
