#include "console/line_editor.h"

#include "scripted_console.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int BS = 8;
constexpr int CR = 13;
constexpr int LF = 10;
constexpr int CTRL_C = 3;
constexpr int CTRL_R = 18;
constexpr int CTRL_U = 21;

struct EditCase {
    const char* name;
    short size;
    std::vector<int> keys;
    int result;
    std::string entry;
    std::string screen; // what the editor writes to standard output
};

std::vector<int> keys(std::initializer_list<std::vector<int>> parts) {
    std::vector<int> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

const std::string nineteen = "abcdefghijklmnopqrs";

const EditCase edit_cases[] = {
    {"BackspaceRemovesTheLastCharacterWithoutErasing", 20, keys({typed("123"), {BS, CR}}), 1, "12",
     "123\b"},
    {"CtrlRRetypesTheEntryOnANewLine", 20, keys({typed("12"), {CTRL_R, CR}}), 1, "12", "12\n12"},
    {"CtrlRShowsTheTrueEntryAfterBackspace", 20, keys({typed("abc"), {BS, CTRL_R, CR}}), 1, "ab",
     "abc\b\nab"},
    {"CtrlUBacksOverEveryCharacter", 20, keys({typed("abc"), {CTRL_U}, typed("x"), {CR}}), 1, "x",
     "abc\b\b\bx"},
    {"FullEntryOverwritesItsLastCharacter", 20, keys({typed(nineteen + "Z"), {CR}}), 1,
     "abcdefghijklmnopqrZ", nineteen + "\bZ"},
    {"SingleKeyEntryHoldsTheLatestKey", 2, keys({typed("ab"), {CR}}), 1, "b", "a\bb"},
    {"BackspaceAfterOverwriteEmptiesASingleKeyEntry", 2, keys({typed("ab"), {BS, CR}}), 1, "",
     "a\bb\b"},
    {"EditingKeysOnAnEmptyEntryOnlyRetypeAnEmptyLine", 20, {BS, CTRL_U, CTRL_R, CR}, 1, "", "\n"},
    {"EnterOnAnEmptyEntry", 20, {CR}, 1, "", ""},
    {"LineFeedEndsTheEntryLikeReturn", 20, keys({typed("7"), {LF}}), 1, "7", "7"},
    {"CtrlCCancelsAndLeavesTheScreenAlone", 20, keys({typed("abc"), {CTRL_C}}), 0, "", "abc"},
    {"TabAndEscapeAreOrdinaryCharacters", 20, {9, 27, CR}, 1, "\t\x1b", "\t\x1b"},
    {"A224KeyIsStoredAsTwoCharacters", 20, {224, 72, CR}, 1, "\xe0H", "\xe0H"},
    {"ControlCodesWithoutAMeaningAreCharacters",
     20,
     {1, 26, 127, CR},
     1,
     "\x01\x1a\x7f",
     "\x01\x1a\x7f"},
};

class EditLine : public ::testing::TestWithParam<EditCase> {};

TEST_P(EditLine, ProducesTheEntryAndTheScreen) {
    const EditCase& c = GetParam();
    ScriptedKeys script(c.keys);
    char buffer[32];
    std::memset(buffer, '#', sizeof buffer);
    CapturedStream out(stdout);
    const int result = edit_line(buffer, c.size);
    const std::string screen = out.text();
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(std::string(buffer), c.entry);
    EXPECT_EQ(screen, c.screen);
    EXPECT_EQ(script.unread(), 0U);
}

INSTANTIATE_TEST_SUITE_P(Table, EditLine, ::testing::ValuesIn(edit_cases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(EditLineCancel, FunctionKeyCancelsAndLeavesItsPartnerCode) {
    ScriptedKeys script({'a', 0, 59});
    char buffer[20] = "left over";
    CapturedStream out(stdout);
    EXPECT_EQ(edit_line(buffer, 20), 0);
    EXPECT_EQ(read_key(), 59);
    EXPECT_EQ(out.text(), "a");
    EXPECT_EQ(buffer[0], '\0');
}

TEST(EditLineCancel, EntrySizeBelowTwoReadsNothing) {
    ScriptedKeys script(typed("a\r"));
    char buffer[1] = {'x'};
    EXPECT_EQ(edit_line(buffer, 1), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(script.unread(), 2U);
}

// The editor flushes before each key read, so every echo is on the screen
// while the operator decides on the next key.
int echo_pipe = -1;
int flush_calls = 0;
char echo_seen = 0;

int key_after_checking_the_echo() {
    if (++flush_calls == 1) {
        return 'q';
    }
    if (read(echo_pipe, &echo_seen, 1) != 1) {
        echo_seen = 0;
    }
    return 13;
}

TEST(EditLineFlush, EchoReachesTheScreenBeforeTheNextKeyRead) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(fcntl(fds[0], F_SETFL, O_NONBLOCK), 0);
    echo_pipe = fds[0];
    flush_calls = 0;
    echo_seen = 0;
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    dup2(fds[1], STDOUT_FILENO); // a pipe: standard output is fully buffered
    set_key_source(key_after_checking_the_echo);
    char buffer[4];
    const int result = edit_line(buffer, 4);
    std::fflush(stdout);
    set_key_source(nullptr);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(fds[0]);
    close(fds[1]);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(echo_seen, 'q');
}

} // namespace
