#include "console/prompts.h"

#include "scripted_console.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>

namespace {

constexpr int CTRL_C = 3;
const char MENU[] = "\nZORVI_DLK>";

struct KeyCase {
    const char* name;
    const char* text;
    char default_key;
    const char* allowed;
    std::vector<int> keys;
    int result;
    char out; // the caller's variable starts as '@'
    std::string screen;
};

const KeyCase key_cases[] = {
    {"MenuAcceptsALowerCaseKey", MENU, 0, "?ABCDEFGH", typed("a\r"), 1, 'A', "\nZORVI_DLK>a"},
    {"MenuAsksAgainAfterAKeyOutsideTheSet", MENU, 0, "?ABCDEFGH", typed("z\ra\r"), 1, 'A',
     "\nZORVI_DLK>z\nZORVI_DLK>a"},
    {"MenuEnterAloneGivesTheCharacterZero", MENU, 0, "?ABCDEFGH", typed("\r"), 1, '\0',
     "\nZORVI_DLK>"},
    {"LatestKeyBeforeEnterCounts", MENU, 0, "?ABCDEFGH", typed("zc\r"), 1, 'C', "\nZORVI_DLK>z\bc"},
    {"CancelAtTheFirstAttemptKeepsTheCallersValue",
     MENU,
     0,
     "?ABCDEFGH",
     {CTRL_C},
     0,
     '@',
     "\nZORVI_DLK>"},
    {"CancelAfterARejectionLeavesTheRejectedKey",
     MENU,
     0,
     "?ABCDEFGH",
     {'x', '\r', 'b', 0, 59},
     0,
     'X',
     "\nZORVI_DLK>x\nZORVI_DLK>b"},
    {"TextWithoutLineFeedGetsOneBeforeTheNextAttempt", "Pick", 0, "AB", typed("c\ra\r"), 1, 'A',
     "Pickc\nPicka"},
    {"LowerCaseSetFoldsToLowerCase", ">", 0, "ab", typed("B\r"), 1, 'b', ">B"},
    {"MixedCaseSetFoldsNothing", ">", 0, "aB", typed("b\rA\ra\r"), 1, 'a', ">b\n>A\n>a"},
    {"SetWithoutLettersFoldsToUpperCase", ">", 0, "12", {'x', '\r', CTRL_C}, 0, 'X', ">x\n>"},
    {"DefaultIsShownAndTakenByEnter", "Go", 'Z', "AB", typed("\r"), 1, 'Z', "Go [Z]"},
    {"DefaultStaysOnCancel", "Go", 'B', "AB", {CTRL_C}, 0, 'B', "Go [B]"},
    {"DefaultPromptRepeatsItsDefault", "Go", 'A', "AB", typed("q\rb\r"), 1, 'B',
     "Go [A]q\nGo [A]b"},
};

class PromptKey : public ::testing::TestWithParam<KeyCase> {};

TEST_P(PromptKey, AnswersAndShows) {
    const KeyCase& c = GetParam();
    ScriptedKeys script(c.keys);
    char out = '@';
    CapturedStream screen(stdout);
    const int result = prompt_key(c.text, c.default_key, c.allowed, &out);
    const std::string shown = screen.text();
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(out, c.out);
    EXPECT_EQ(shown, c.screen);
}

INSTANTIATE_TEST_SUITE_P(Table, PromptKey, ::testing::ValuesIn(key_cases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(PromptKey, FunctionKeyCancelLeavesThePartnerCodeForTheNextRead) {
    ScriptedKeys script({0, 68});
    char out = '@';
    CapturedStream screen(stdout);
    EXPECT_EQ(prompt_key(MENU, 0, "?ABCDEFGH", &out), 0);
    EXPECT_EQ(script.unread(), 1U);
}

struct YesNoCase {
    const char* name;
    int default_yes;
    std::vector<int> keys;
    int result;
    std::string screen;
};

const YesNoCase yes_no_cases[] = {
    {"EnterTakesTheDefaultNo", 0, typed("\r"), 0, "\n  Modify (Yes/No) [N]"},
    {"EnterTakesTheDefaultYes", 1, typed("\r"), 1, "\n  Modify (Yes/No) [Y]"},
    {"LowerCaseYes", 0, typed("y\r"), 1, "\n  Modify (Yes/No) [N]y"},
    {"UpperCaseYes", 0, typed("Y\r"), 1, "\n  Modify (Yes/No) [N]Y"},
    {"No", 1, typed("n\r"), 0, "\n  Modify (Yes/No) [Y]n"},
    {"OtherKeyAsksTheWholeQuestionAgain", 0, typed("x\ry\r"), 1,
     "\n  Modify (Yes/No) [N]x\n  Modify (Yes/No) [N]y"},
    {"CancelAnswersNo", 1, {CTRL_C}, 0, "\n  Modify (Yes/No) [Y]"},
};

class PromptYesNo : public ::testing::TestWithParam<YesNoCase> {};

TEST_P(PromptYesNo, AnswersAndShows) {
    const YesNoCase& c = GetParam();
    ScriptedKeys script(c.keys);
    CapturedStream screen(stdout);
    const int result = prompt_yes_no("\n  Modify", c.default_yes);
    const std::string shown = screen.text();
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(shown, c.screen);
}

INSTANTIATE_TEST_SUITE_P(Table, PromptYesNo, ::testing::ValuesIn(yes_no_cases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(PromptYesNo, LongQuestionIsCutToNinetyCharacters) {
    const std::string question = std::string(90, 'q') + "REST OF THE QUESTION";
    ScriptedKeys script(typed("\r"));
    CapturedStream screen(stdout);
    EXPECT_EQ(prompt_yes_no(question.c_str(), 1), 1);
    EXPECT_EQ(screen.text(), std::string(90, 'q') + " (Yes/No) [Y]");
}

struct ValueCase {
    const char* name;
    const char* text;
    std::vector<int> keys;
    int result;
    uint32_t value; // starts as 3
    std::string screen;
};

const ValueCase value_cases[] = {
    {"NewValueIsStored", "\n  Enter", typed("7\r"), 1, 7, "\n  Enter [3] ? 7"},
    {"EmptyEntryKeepsTheValue", "\n  Enter", typed("\r"), 1, 3, "\n  Enter [3] ? "},
    {"BlanksKeepTheValue", "\n  Enter", typed("   \r"), 1, 3, "\n  Enter [3] ?    "},
    {"TrailingTextIsIgnored", "\n  Enter", typed("12abc\r"), 1, 12, "\n  Enter [3] ? 12abc"},
    {"NoNumberAsksAgainShowingTheOldValue", "\n  Enter", typed("abc\r5\r"), 1, 5,
     "\n  Enter [3] ? abc\n  Enter [3] ? 5"},
    {"TextWithoutLineFeedGetsOneBeforeTheNextAttempt", "N", typed("-\r9\r"), 1, 9,
     "N [3] ? -\nN [3] ? 9"},
    {"CancelKeepsTheValue", "\n  Enter", {'8', CTRL_C}, 0, 3, "\n  Enter [3] ? 8"},
    {"TooLargeSaturates", "\n  Enter", typed("4294967296\r"), 1, 4294967295U,
     "\n  Enter [3] ? 4294967296"},
    {"MinusOneIsTheLargestValue", "\n  Enter", typed("-1\r"), 1, 4294967295U, "\n  Enter [3] ? -1"},
    {"TwentiethKeystrokeReplacesTheNineteenth", "\n  Enter", typed(std::string(18, '0') + "12\r"),
     1, 2, "\n  Enter [3] ? " + std::string(18, '0') + "1\b2"},
};

class PromptValue : public ::testing::TestWithParam<ValueCase> {};

TEST_P(PromptValue, AnswersAndShows) {
    const ValueCase& c = GetParam();
    ScriptedKeys script(c.keys);
    uint32_t value = 3;
    CapturedStream screen(stdout);
    const int result = prompt_value(c.text, "%lu", "%lu", &value);
    const std::string shown = screen.text();
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(shown, c.screen);
}

INSTANTIATE_TEST_SUITE_P(Table, PromptValue, ::testing::ValuesIn(value_cases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(PromptValue, ShowsTheWhole32BitValueAndNoBracketsWithoutAShowFormat) {
    {
        ScriptedKeys script(typed("\r"));
        uint32_t value = UINT32_MAX;
        CapturedStream screen(stdout);
        prompt_value("V", "%lu", "%lu", &value);
        EXPECT_EQ(screen.text(), "V [4294967295] ? ");
    }
    {
        ScriptedKeys script(typed("\r"));
        uint32_t value = 5;
        CapturedStream screen(stdout);
        prompt_value("V", "", "%lu", &value);
        EXPECT_EQ(screen.text(), "V ? ");
    }
}

TEST(OperatorMessages, FailureGoesToStandardErrorOnly) {
    CapturedStream out(stdout);
    CapturedStream err(stderr);
    report_failure("Firmware String Not Found", -5);
    const std::string err_text = err.text();
    const std::string out_text = out.text();
    EXPECT_EQ(err_text, "ERROR: Firmware String Not Found() RETURNED: -5\n");
    EXPECT_EQ(out_text, "");
}

TEST(OperatorMessages, RangeErrorGoesToStandardOutputThenBeeps) {
    CapturedStream out(stdout);
    CapturedStream err(stderr);
    const auto start = std::chrono::steady_clock::now();
    report_range_error(100, 1500);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const std::string err_text = err.text();
    const std::string out_text = out.text();
    EXPECT_EQ(out_text, "\n  Invalid Entry, valid range = 100 - 1500\n");
    EXPECT_EQ(err_text, "");
    EXPECT_GE(elapsed, std::chrono::milliseconds(500)); // the alert tone's length
}

} // namespace
