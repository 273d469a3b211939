// What the TK42-N modem refuses: every malformed or unknown command is
// answered with ERROR and changes nothing.
#include <gtest/gtest.h>

#include "sim/modem_tk42n.h"

TEST(ModemRefuses, MalformedOrUnknownCommandsAnswerErrorAndKeepTheTable)
{
    const char* const kRefused[] = {
        "at+vcfg=\"sarcfg\",\"LTE\"\r\n",                     // band missing
        "at+vcfg=\"sarcfg\",\"GSM\",1\r\n",                   // band where the mode has none
        "at+vcfg=\"sarcfg\",\"LTE\",23,2,3\r\n",              // set without band
        "at+vcfg=\"sarcfg\",\"GSM\",23,2,3,1\r\n",            // set with band where none
        "at+vcfg=\"sarcfg\",\"lte\",3\r\n",                   // mode in lower case
        "at+vcfg=\"sarcfg\",\"NR\",3\r\n",                    // unknown mode
        "at+vcfg=\"sarcfg\",\"LTE\",20,x,0,3\r\n",            // not a number
        "at+vcfg=\"sarcfg\",\"LTE\",99999999999,0,0,3\r\n",   // out of range
        "at+vcfg=\"sarcfg\",\"LTE\",20,0,0,3",                // no CR LF
        "at+vsar=2,1\r\nat+vsar=2,1\r\n",                     // two lines
        "at+vcfg=\"sarcfg,\"LTE\",20,0,0,3\r\n",              // unbalanced quotes
        "at+cfun=1\r\n",                                      // unknown command
        "at+vsar=2\r\n",                                      // pin with one value
        "at+vcfg=\"rf/sar/gpioctl\",1,x\r\n",                 // gpio pin not a number
        "",
    };
    for (const char* command : kRefused) {
        SCOPED_TRACE(command);
        sim::Tk42nModem modem;
        EXPECT_EQ(modem.Execute(command), "\r\nERROR\r\n");
        EXPECT_EQ(modem.SetCommandCount(), 0);
        EXPECT_TRUE(modem.PinCommands().empty());
    }
}
