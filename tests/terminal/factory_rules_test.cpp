// The factory dialog's rules without a window: the answer's fields, the fill, the
// up-down steps, "%G" and the command sequences.
#include "terminal/factoryrules.h"

#include "tests/support/commalocale.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>

using namespace terminal;

namespace {

FactoryValues filled(std::string_view answer, const FactoryValues& before = {})
{
    return FillFactoryValues(ParseFactoryAnswer(answer), before);
}

std::vector<std::string> lines(const FactoryPlan& plan)
{
    std::vector<std::string> out;
    for (const auto& c : plan.commands)
        out.push_back(c.line);
    return out;
}

std::vector<std::uint32_t> pauses(const FactoryPlan& plan)
{
    std::vector<std::uint32_t> out;
    for (const auto& c : plan.commands)
        out.push_back(c.pauseMs);
    return out;
}

} // namespace

TEST(FactoryAnswer, SplitsIntoAtMostSixFields)
{
    struct Case {
        const char* answer;
        int count;
        std::array<const char*, 6> fields;
    };
    const Case cases[] = {
        {"1;3;0.5;0.01;1000;0", 6, {"1", "3", "0.5", "0.01", "1000", "0"}},
        {"1;3;0.5;0.01;1000;0;7", 6, {"1", "3", "0.5", "0.01", "1000", "0;7"}},
        {"1;3;0.5;0.01;1000;1;;x;", 6, {"1", "3", "0.5", "0.01", "1000", "1;;x;"}},
        {"1;3", 2, {"1", "3", "", "", "", ""}},
        {";;;;;", 6, {"", "", "", "", "", ""}},
        {"1;", 2, {"1", "", "", "", "", ""}},
        {"", 1, {"", "", "", "", "", ""}},
    };
    for (const auto& c : cases) {
        FactoryFields f = ParseFactoryAnswer(c.answer);
        EXPECT_EQ(f.count, c.count) << c.answer;
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(f.text[i], c.fields[i]) << c.answer << " field " << i + 1;
    }
}

TEST(FactoryAnswer, FillReadsFieldsTheWayAtolAndAtofDo)
{
    FactoryValues v = filled("1;3;0.5;0.01;1000;0");
    EXPECT_TRUE(v.arcEnabled);
    EXPECT_EQ(v.arcNum, 3);
    EXPECT_EQ(v.arcTime, "0.5");
    EXPECT_EQ(v.arcWait, "0.01");
    EXPECT_EQ(v.arcRamp, "1000");
    EXPECT_FALSE(v.iset);

    // Leading blanks, signs, trailing text, no number at all.
    v = filled(" 2x; +7abc; 1e-5 s;.25;  -1.5E3V; 1;");
    EXPECT_TRUE(v.arcEnabled);
    EXPECT_EQ(v.arcNum, 7);
    EXPECT_EQ(v.arcTime, "1E-05");
    EXPECT_EQ(v.arcWait, "0.25");
    EXPECT_EQ(v.arcRamp, "-1500");
    EXPECT_TRUE(v.iset); // the sixth field keeps the rest, and reads as its number

    // Whole numbers are decimal only: a leading 0 is no octal, and "0x" ends at the x.
    v = filled("0x1A;010;0;0;0;0x1A", {true, 42, "2", "0.05", "20000", true});
    EXPECT_FALSE(v.arcEnabled);
    EXPECT_EQ(v.arcNum, 10);
    EXPECT_FALSE(v.iset);

    v = filled("on;many;fast;-;?;yes", filled("1;3;0.5;0.01;1000;1"));
    EXPECT_EQ(v, (FactoryValues{false, 0, "0", "0", "0", false}));

    // The up-down holds 0 to 100.
    EXPECT_EQ(filled("0;150").arcNum, 100);
    EXPECT_EQ(filled("0;-4").arcNum, 0);
    EXPECT_EQ(filled("0;99999999999999999999999").arcNum, 100);
    EXPECT_EQ(filled("0;-99999999999999999999999").arcNum, 0);
    EXPECT_TRUE(filled("99999999999999999999999").arcEnabled);
    EXPECT_EQ(filled("0;0;1e999;-1e999;1e-999").arcTime, "INF");
    EXPECT_EQ(filled("0;0;1e999;-1e999;1e-999").arcWait, "-INF");
    EXPECT_EQ(filled("0;0;1e999;-1e999;1e-999").arcRamp, "0");
}

TEST(FactoryAnswer, MissingFieldsLeaveTheirControlsAlone)
{
    const FactoryValues before{true, 42, "2", "0.05", "20000", true};
    // Even a bare CR LF holds field 1, the empty text.
    EXPECT_EQ(filled("", before), (FactoryValues{false, 42, "2", "0.05", "20000", true}));
    EXPECT_EQ(filled("0", before), (FactoryValues{false, 42, "2", "0.05", "20000", true}));
    EXPECT_EQ(filled("0;7;1", before), (FactoryValues{false, 7, "1", "0.05", "20000", true}));
    EXPECT_EQ(filled("0;7;1;2", before), (FactoryValues{false, 7, "1", "2", "20000", true}));
    EXPECT_EQ(filled("0;7;1;2;3", before), (FactoryValues{false, 7, "1", "2", "3", true}));
    // A field that is there but empty reads as 0.
    EXPECT_EQ(filled("1;;;;;", before), (FactoryValues{true, 0, "0", "0", "0", false}));
    // Text after a NUL byte does not count.
    EXPECT_EQ(filled(std::string_view("1;4\0" "9;0.2", 9), before), (FactoryValues{true, 4, "0.2", "0.05", "20000", true}));
}

TEST(FactoryFormat, PercentGWithAPointInEveryLocale)
{
    struct Case {
        double v;
        const char* text;
    };
    const Case cases[] = {
        {0.001, "0.001"}, {0.5, "0.5"},       {5, "5"},           {100000, "100000"},
        {1e6, "1E+06"},   {2e6, "2E+06"},     {5e6, "5E+06"},     {0.00001, "1E-05"},
        {0.0001, "0.0001"}, {1234567, "1.23457E+06"}, {123456, "123456"}, {0, "0"},
        {-0.25, "-0.25"}, {0.1 + 0.2, "0.3"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatG(c.v), c.text) << c.v;
    EXPECT_EQ(FormatG(std::numeric_limits<double>::quiet_NaN()), "NAN");

    // A decimal comma in the user's settings changes nothing.
    testsupport::CommaLocale comma;
    ASSERT_EQ(comma.failure(), "");
    EXPECT_EQ(FormatG(0.5), "0.5");
    EXPECT_EQ(ReadReal("0.5"), 0.5);
}

TEST(FactorySteps, FirstStepStrictlyGreaterThanTheValue)
{
    struct Case {
        const char* text;
        bool ramp;
        int position;
    };
    const Case cases[] = {
        {"0.5", false, 9},   {"0.01", false, 4}, {"1000", true, 7},   {"0.7", false, 9},
        {"5", false, 0},     {"7", false, 0},    {"5000000", true, 0}, {"5E+06", true, 0},
        {"", false, 0},      {"abc", true, 0},   {"0.0009", false, 0}, {"0.001", false, 1},
        {"4.99", false, 11}, {"9", true, 0},     {"10", true, 1},      {"1E+06", true, 16},
        {"-3", false, 0},
    };
    for (const auto& c : cases) {
        std::span<const double> steps = c.ramp ? std::span<const double>(RampSteps) : std::span<const double>(TimeSteps);
        EXPECT_EQ(StepPositionFor(c.text, steps), c.position) << c.text;
    }
    // The handlers put a position back within the table.
    EXPECT_EQ(ClampStepPosition(-1, TimeSteps), 0);
    EXPECT_EQ(ClampStepPosition(12, TimeSteps), 11);
    EXPECT_EQ(ClampStepPosition(100, RampSteps), 17);
    EXPECT_EQ(ClampStepPosition(17, RampSteps), 17);
    EXPECT_EQ(FormatG(RampSteps[15]), "1E+06");
    EXPECT_EQ(FormatG(TimeSteps[11]), "5");
}

TEST(FactoryCommands, ArcOkSendsTheTouchedSettingsInQueryOrder)
{
    ArcChanges arc;
    FactoryPlan plan = ArcOkCommands(arc);
    EXPECT_EQ(lines(plan), std::vector<std::string>{":CONF:INTER LOCAL\r\n"});
    EXPECT_EQ(pauses(plan), std::vector<std::uint32_t>{0});

    arc = {true, true, true, true, true, false, "4", "2", " x ", "1E+06"};
    plan = ArcOkCommands(arc);
    EXPECT_EQ(lines(plan), (std::vector<std::string>{":CONF:ARC:CONT 0\r\n", ":CONF:ARC:NUM 4\r\n",
                                                     ":CONF:ARC:TIME 2\r\n", ":CONF:ARC:WAIT  x \r\n",
                                                     ":CONF:ARC:RAMP 1E+06\r\n", ":CONF:INTER LOCAL\r\n"}));
    EXPECT_EQ(pauses(plan), (std::vector<std::uint32_t>{100, 100, 100, 100, 100, 0}));
    EXPECT_TRUE(plan.refused.empty());

    arc = {};
    arc.enabledChanged = arc.enabled = arc.waitChanged = true;
    arc.wait = "";
    EXPECT_EQ(lines(ArcOkCommands(arc)),
              (std::vector<std::string>{":CONF:ARC:CONT 1\r\n", ":CONF:ARC:WAIT \r\n", ":CONF:INTER LOCAL\r\n"}));
}

TEST(FactoryCommands, AnOverlongTextIsRefusedNotCut)
{
    // ":CONF:ARC:TIME " (15) + text + CR LF + the terminating zero fill 256 at 238.
    ArcChanges arc;
    arc.timeChanged = arc.numChanged = arc.rampChanged = true;
    arc.time = std::string(238, '7');
    arc.num = std::string(240, '1');
    arc.ramp = std::string(239, '9');
    FactoryPlan plan = ArcOkCommands(arc);
    ASSERT_EQ(plan.commands.size(), 2u);
    EXPECT_EQ(plan.commands[0].line, ":CONF:ARC:TIME " + std::string(238, '7') + "\r\n");
    EXPECT_EQ(plan.commands[0].line.size(), 255u);
    EXPECT_EQ(plan.commands[1].line, ":CONF:INTER LOCAL\r\n");
    EXPECT_EQ(plan.refused, (std::vector<std::string>{":CONF:ARC:NUM", ":CONF:ARC:RAMP"}));

    arc.num = std::string(239, '1'); // ":CONF:ARC:NUM " is one shorter
    EXPECT_EQ(ArcOkCommands(arc).commands.size(), 3u);
}

TEST(FactoryCommands, LumetraAndDateTimeSequences)
{
    EXPECT_EQ(lines(LumetraOkCommands(true)), (std::vector<std::string>{":SYS:KAVO:ISET 1\r\n", ":CONF:INTER LOCAL\r\n"}));
    EXPECT_EQ(lines(LumetraOkCommands(false)), (std::vector<std::string>{":SYS:KAVO:ISET 0\r\n", ":CONF:INTER LOCAL\r\n"}));
    EXPECT_EQ(pauses(LumetraOkCommands(false)), (std::vector<std::uint32_t>{100, 0}));

    FactoryPlan plan = DateOkCommands({2024, 5, 1, 7, 8, 9});
    EXPECT_EQ(lines(plan), (std::vector<std::string>{"*DATE,24-05-01\r\n", "*TIME,07:08:09\r\n",
                                                     ":SYS:KAVO:FACTORYRESET 1\r\n", ":CONF:INTER LOCAL\r\n"}));
    EXPECT_EQ(pauses(plan), (std::vector<std::uint32_t>{100, 100, 300, 0}));
    EXPECT_EQ(FactoryDateText({2000, 12, 31, 23, 59, 58}), "00-12-31");
    EXPECT_EQ(FactoryTimeText({2000, 12, 31, 23, 59, 58}), "23:59:58");
}

TEST(FactoryAnswer, CollectorNeverHoldsMoreThan255Characters)
{
    FactoryAnswerCollector c;
    EXPECT_EQ(c.room(), 255u);
    const std::string chunk(300, 'A');
    c.append(chunk.data(), 200);
    EXPECT_EQ(c.room(), 55u);
    c.append(chunk.data(), chunk.size());
    EXPECT_EQ(c.collected().size(), 255u);
    EXPECT_EQ(c.room(), 0u);
    EXPECT_FALSE(c.hasLineEnd());
    c.append("\r\n", 2);
    EXPECT_FALSE(c.hasLineEnd());

    FactoryAnswerCollector d;
    const std::string withNul("1;\0;2\r\nrest\r\n", 13);
    d.append(withNul.data(), withNul.size());
    EXPECT_TRUE(d.hasLineEnd());
    EXPECT_EQ(d.answer(), std::string("1;\0;2", 5));
}
