// The DPR check against the simulated modem: which settings are queried, how
// replies are read, what is rewritten, the pin commands and the reboot.
#include <climits>

#include "core/split_string.h"
#include "core_fixture.h"

namespace {

const std::vector<std::string> kMismatch = {
    "i :   expect config dpr mode = LTE band = 3 maxpower = 23 rowgrads = 2 columngrads = 3>",
    "i :   WARNING! the dpr setting is not name. need to reconfig."};
const std::vector<std::string> kNoPrefix = {"e :   didn't find +VCFG:"};
const std::vector<std::string> kFieldCount = {"e :   format error. need 4 comma"};

struct ReplyCase {
    const char* name;
    const char* reply;  // to the query of the setting
    std::vector<std::string> logged;
    bool rewritten;
    DprSetting setting = {"LTE", 3, 23, 2, 3};
};
void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }

class ReplyShapes : public CoreTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplyShapes, DecideWhetherTheSettingIsRewritten)
{
    OpenModem();
    modem().ScriptReply("\"" + GetParam().setting.mode + "\"", GetParam().reply, 1);

    EXPECT_EQ(service()->tryQueryAndConfigDpr({"", "single band", "", {GetParam().setting}}), GetParam().rewritten);
    EXPECT_EQ(Commands().size(), GetParam().rewritten ? 2u : 1u);
    EXPECT_EQ(Logged({"didn't find", "need 4 comma", "expect config", "WARNING!"}), GetParam().logged);
}

INSTANTIATE_TEST_SUITE_P(
    Dpr, ReplyShapes,
    ::testing::Values(
        ReplyCase{"Exact", "\r\n+VCFG: \"sarcfg\",\"LTE\",23,2,3\r\n\r\nOK\r\n", {}, false},
        ReplyCase{"LowerCase", "\r\n+vcfg: \"sarcfg\",\"lte\",23,2,3\r\n\r\nok\r\n", {}, false},
        ReplyCase{"FourFields", "\r\n+VCFG: \"sarcfg\",\"LTE\",23,2\r\n\r\nOK\r\n", kFieldCount, true},
        ReplyCase{"SixFields", "\r\n+VCFG: \"sarcfg\",\"LTE\",23,2,3,3\r\n\r\nOK\r\n", kFieldCount, true},
        ReplyCase{"LinesAfterIgnored", "\r\n+VCFG: x,LTE,23,2,3\r\n+VCFG: 1,2\r\nOK,9\r\n", {}, false},
        ReplyCase{"QuotesBlanksAndCr", "+VCFG:\"\",\"LTE\",\" 23\", 2 ,\t\"3\"\r", {}, false},
        ReplyCase{"ModeKeepsItsBlank", "+VCFG: sarcfg, LTE,23,2,3\r\n", kMismatch, true},
        ReplyCase{"ValueDiffers", "+VCFG: sarcfg,LTE,23,2,4\r\n", kMismatch, true},
        ReplyCase{"RowgradsDiffer", "+VCFG: sarcfg,LTE,23,9,3\r\n", kMismatch, true},
        ReplyCase{"DigitsAfterText", "+VCFG: sarcfg,LTE,x23,2,3\r\n", kMismatch, true},
        ReplyCase{"NoDigitsReadAsZero", "+VCFG: ,GSM,abc,,-\r\n", {}, false, {"GSM", 0, 0, 0, 0}},
        ReplyCase{"LargeValuesReadAsTheLimit", "+VCFG: ,GSM,99999999999,-99999999999,2147483647\r\n", {}, false,
                  {"GSM", 0, INT_MAX, INT_MIN, INT_MAX}},
        ReplyCase{"NoPrefix", "\r\nOK\r\n", kNoPrefix, true},
        ReplyCase{"TooShort", "+VCFG", kNoPrefix, true}),
    [](const ::testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

using DprCheck = CoreTest;

struct MethodCase {
    const char* name;
    const char* method;
    std::vector<DprSetting> settings;
    std::vector<std::string> commands;
    std::vector<std::string> logged;
};
void PrintTo(const MethodCase& c, std::ostream* os) { *os << c.name; }

const std::vector<DprSetting> kEveryMode = {
    {"LTE", 1, 20, 1, 2}, {"WCDMA", 2, 21, 1, 2}, {"GSM", 7, 22, 1, 2}, {"LTE_WCDMA", 8, 23, 1, 2}};
const std::vector<std::string> kMethodError = {"e :   Error config method"};

class Methods : public CoreTest, public ::testing::WithParamInterface<MethodCase> {};

TEST_P(Methods, TakeUpTheirModesInListOrder)
{
    OpenModem();
    EXPECT_EQ(service()->tryQueryAndConfigDpr({"", GetParam().method, "", GetParam().settings}),
              !GetParam().commands.empty());
    EXPECT_EQ(Commands(), GetParam().commands);
    EXPECT_EQ(Logged({"start check", "Error config method"}), GetParam().logged);
}

INSTANTIATE_TEST_SUITE_P(
    Dpr, Methods,
    ::testing::Values(
        MethodCase{"AllBand", "all band", kEveryMode,
                   {"at+vcfg=\"sarcfg\",\"GSM\"\r\n", "at+vcfg=\"sarcfg\",\"GSM\",22,1,2\r\n",
                    "at+vcfg=\"sarcfg\",\"LTE_WCDMA\"\r\n", "at+vcfg=\"sarcfg\",\"LTE_WCDMA\",23,1,2\r\n"},
                   {"i :   ------> start check GSM", "i :   ------> start check LTE_WCDMA"}},
        MethodCase{"SingleBand", "single band", kEveryMode,
                   {"at+vcfg=\"sarcfg\",\"LTE\",1\r\n", "at+vcfg=\"sarcfg\",\"LTE\",20,1,2,1\r\n",
                    "at+vcfg=\"sarcfg\",\"WCDMA\",2\r\n", "at+vcfg=\"sarcfg\",\"WCDMA\",21,1,2,2\r\n",
                    "at+vcfg=\"sarcfg\",\"GSM\"\r\n", "at+vcfg=\"sarcfg\",\"GSM\",22,1,2\r\n"},
                   {"i :   ------> start check LTE, band 1", "i :   ------> start check WCDMA, band 2",
                    "i :   ------> start check GSM, band 7"}},
        MethodCase{"UnsetValuesAsMinusOne", "single band", {{"LTE", -1, -1, -1, -1}},
                   {"at+vcfg=\"sarcfg\",\"LTE\",-1\r\n", "at+vcfg=\"sarcfg\",\"LTE\",-1,-1,-1,-1\r\n"},
                   {"i :   ------> start check LTE, band -1"}},
        MethodCase{"ModesAreExact", "single band", {{"lte", 1, 20, 1, 2}, {"GSM ", 1, 2, 3, 4}}, {}, {}},
        MethodCase{"MethodIsExact", "Single band", kEveryMode, {}, kMethodError},
        MethodCase{"MethodIsNotTrimmed", "all band ", kEveryMode, {}, kMethodError}),
    [](const ::testing::TestParamInfo<MethodCase>& info) { return std::string(info.param.name); });

TEST_F(DprCheck, FailedSetEndsTheCheckWithoutVisitingLaterSettings)
{
    OpenModem();
    sim::MobileBroadband::CommandFault fault;
    fault.match = "\"WCDMA\",21,";
    mbn().InjectCommandFault(fault);

    EXPECT_FALSE(service()->tryQueryAndConfigDpr({"", "single band", "", kEveryMode}));
    EXPECT_THAT(Commands(), ElementsAre("at+vcfg=\"sarcfg\",\"LTE\",1\r\n", "at+vcfg=\"sarcfg\",\"LTE\",20,1,2,1\r\n",
                                        "at+vcfg=\"sarcfg\",\"WCDMA\",2\r\n"));
}

TEST_F(DprCheck, SetReplyWithoutOkIsNoSuccessButTheWalkGoesOn)
{
    OpenModem();
    modem().ScriptReply("\"LTE\",20,", "\r\n+CME ERROR: 4\r\n");
    const DprSetting gsm{"GSM", 0, 24, 0, 0};  // what the modem holds

    EXPECT_FALSE(service()->tryQueryAndConfigDpr({"", "single band", "", {kEveryMode[0], gsm}}));
    EXPECT_THAT(Commands(), ElementsAre("at+vcfg=\"sarcfg\",\"LTE\",1\r\n", "at+vcfg=\"sarcfg\",\"LTE\",20,1,2,1\r\n",
                                        "at+vcfg=\"sarcfg\",\"GSM\"\r\n"));
}

TEST(SplitString, ReplacesDelimitersBeforeItDropsTheQuotes)
{
    // A quote in the set cuts like a comma; as the first delimiter it goes with the other quotes.
    EXPECT_THAT(splitString("a\"b,c", ",\""), ElementsAre("a", "b", "c"));
    EXPECT_THAT(splitString("a\"b,c\"", "\","), ElementsAre("abc"));
    EXPECT_THAT(splitString(",\"x\",", ","), ElementsAre("", "x", ""));
}

TEST_F(DprCheck, PinCommandsAreSentEvenWhenTheFirstFails)
{
    OpenModem();
    sim::MobileBroadband::CommandFault fault;
    fault.match = "gpioctl";
    mbn().InjectCommandFault(fault);

    service()->trySetDprPin();
    EXPECT_THAT(modem().PinCommands(), ElementsAre("at+vsar=2,1"));
    EXPECT_EQ(Logged({"[RX]"}).size(), 1u);
}

TEST_F(DprCheck, RebootNeedsAnOpenServiceAndTheModemsAcceptance)
{
    ASSERT_EQ(manager()->Init(), 0);
    EXPECT_FALSE(service()->tryRebootDevice());
    ASSERT_EQ(manager()->OpenDeviceServices(mbn().InterfaceId()), 0);
    mbn().RefuseReboot(1);
    EXPECT_FALSE(service()->tryRebootDevice());
    EXPECT_THAT(Logged({"reboot"}),
                ElementsAre("e :   SetCommand reboot error result = 0x80004005", "i :   Error reboot failed."));
}

}  // namespace
