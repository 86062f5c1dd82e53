#include "readline.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <new>
#include <string>
#include <vector>

// Lets a test make the editor's next allocation fail. The editor allocates
// with the non-throwing operator new, which this file replaces.
static bool fail_next_nothrow_new = false;

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (fail_next_nothrow_new) {
        fail_next_nothrow_new = false;
        return nullptr;
    }
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

namespace {

// Keys as the prompt sends them: every byte inserts itself except these.
constexpr char KEY_LEFT = '<';
constexpr char KEY_RIGHT = '>';
constexpr char KEY_UP = '^';
constexpr char KEY_DOWN = '_';
constexpr char KEY_DELETE = '~';
constexpr char KEY_BACKSPACE = '#';
constexpr char KEY_ENTER = '\n';
constexpr char KEY_ESCAPE = '\x1b';

rl_edit edit_for_key(char key) {
    switch (key) {
    case KEY_LEFT:
        return {RL_LEFT, 0};
    case KEY_RIGHT:
        return {RL_RIGHT, 0};
    case KEY_UP:
        return {RL_OLDER, 0};
    case KEY_DOWN:
        return {RL_NEWER, 0};
    case KEY_DELETE:
        return {RL_DELETE, 0};
    case KEY_BACKSPACE:
        return {RL_BACKSPACE, 0};
    case KEY_ENTER:
        return {RL_SUBMIT, 0};
    case KEY_ESCAPE:
        return {RL_CANCEL, 0};
    default:
        return {RL_INSERT, key};
    }
}

class ReadlineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        init_readline(&rl);
        list(); // the first line is L1
    }
    void TearDown() override { free_readline(&rl); }

    // Feeds keys the way the event loop does; on Enter the text searched for
    // (the current line, when not empty) is read before the submission.
    void press(const std::string& keys) {
        for (char key : keys) {
            if (key == KEY_ENTER && rl.current->length != 0) searched.emplace_back(rl.current->buf);
            readline_edit(&rl, edit_for_key(key));
            list(); // names any new line in the order of creation
        }
    }

    // The list from oldest to newest as "L1 'ab', L2 '' *": lines are named
    // in the order they are first seen, the current one carries a star.
    std::string list() {
        std::vector<rl_line*> lines;
        for (rl_line* line = rl.newest; line != nullptr; line = line->older)
            lines.insert(lines.begin(), line);
        std::string out;
        for (rl_line* line : lines) {
            if (!names.contains(line)) names[line] = 'L' + std::to_string(names.size() + 1);
            if (!out.empty()) out += ", ";
            out.append(names[line]).append(" '").append(line->buf, line->length).append("'");
            if (line == rl.current) out += " *";
        }
        return out;
    }

    // The invariants every operation must keep.
    void expect_consistent() {
        bool current_found = false;
        EXPECT_EQ(rl.newest->newer, nullptr);
        for (rl_line* line = rl.newest; line != nullptr; line = line->older) {
            EXPECT_GE(line->length, 0);
            EXPECT_LE(line->length, RL_LINE_MAX);
            EXPECT_EQ(line->buf[line->length], '\0');
            if (line->older != nullptr) {
                EXPECT_EQ(line->older->newer, line);
            }
            current_found |= line == rl.current;
        }
        EXPECT_TRUE(current_found);
        EXPECT_GE(rl.pos, 0);
        EXPECT_LE(rl.pos, rl.current->length);
    }

    readline rl{};
    std::map<rl_line*, std::string> names;
    std::vector<std::string> searched;
};

TEST_F(ReadlineTest, StartsWithOneEmptyLine) {
    EXPECT_EQ(list(), "L1 '' *");
    EXPECT_EQ(rl.pos, 0);
    EXPECT_EQ(rl.current, rl.newest);
    EXPECT_EQ(rl.newest->older, nullptr);
    for (char byte : rl.newest->buf)
        EXPECT_EQ(byte, '\0');
}

TEST_F(ReadlineTest, WorkedExampleStepByStep) {
    struct step {
        const char* keys; // opening the prompt ('/') applies no operation
        const char* expected_list;
        int32_t expected_pos;
        std::vector<std::string> expected_searches;
    };
    const step steps[] = {
        {"ab\n", "L1 'ab', L2 '' *", 0, {"ab"}},
        {"cd\n", "L1 'ab', L2 'cd', L3 '' *", 0, {"cd"}},
        {"^^", "L1 'ab' *, L2 'cd', L3 ''", 2, {}},
        {"^x", "L1 'abx' *, L2 'cd', L3 ''", 3, {}},
        {"\n", "L2 'cd', L1 'abx', L3 '' *", 0, {"abx"}},
        {"^###", "L2 'cd', L1 '' *, L3 ''", 0, {}},
        {"\n", "L2 'cd', L3 '' *", 0, {}},
        {"z^", "L2 'cd' *, L3 'z'", 2, {}},
        {"\n", "L2 'cd', L3 'z' *", 0, {"cd"}},
        {"\x1b", "L2 'cd', L3 '' *", 0, {}},
    };
    int number = 0;
    for (const step& s : steps) {
        SCOPED_TRACE("step " + std::to_string(++number));
        searched.clear();
        press(s.keys);
        EXPECT_EQ(list(), s.expected_list);
        EXPECT_EQ(rl.pos, s.expected_pos);
        EXPECT_EQ(searched, s.expected_searches);
        expect_consistent();
    }
}

// Each case starts from a fresh editor.
struct key_case {
    const char* name;
    std::string keys;
    std::string expected_list;
    int32_t expected_pos;
};

void PrintTo(const key_case& c, std::ostream* out) {
    *out << c.name;
}

class ReadlineKeysTest : public ReadlineTest, public ::testing::WithParamInterface<key_case> {};

TEST_P(ReadlineKeysTest, LeavesListAndPosition) {
    press(GetParam().keys);
    EXPECT_EQ(list(), GetParam().expected_list);
    EXPECT_EQ(rl.pos, GetParam().expected_pos);
    expect_consistent();
}

const std::string full_line(RL_LINE_MAX, 'a');

INSTANTIATE_TEST_SUITE_P(
    WithinOneLine, ReadlineKeysTest,
    ::testing::Values(key_case{"LeftAtStartStays", "<", "L1 '' *", 0},
                      key_case{"LeftStopsAtStart", "ab<<<", "L1 'ab' *", 0},
                      key_case{"RightAtEndStays", "ab>", "L1 'ab' *", 2},
                      key_case{"RightMovesBack", "abc<<>", "L1 'abc' *", 2},
                      key_case{"InsertInMiddle", "abc<<X", "L1 'aXbc' *", 2},
                      key_case{"InsertAtStart", "bc<<a", "L1 'abc' *", 1},
                      key_case{"BackspaceAtStartDoesNothing", "ab<<#", "L1 'ab' *", 0},
                      key_case{"BackspaceInMiddle", "abc<#", "L1 'ac' *", 1},
                      key_case{"DeleteAtEndDoesNothing", "ab~", "L1 'ab' *", 2},
                      key_case{"DeleteUnderPosition", "abc<<~", "L1 'ac' *", 1},
                      key_case{"DeleteAtStart", "abc<<<~~", "L1 'c' *", 0},
                      key_case{"FullLineDropsByte", full_line + "b", "L1 '" + full_line + "' *",
                               RL_LINE_MAX},
                      key_case{"FullLineDropsByteInMiddle", full_line + "<<b",
                               "L1 '" + full_line + "' *", RL_LINE_MAX - 2},
                      key_case{"LineOneShortOfFullTakesOneMore", full_line.substr(1) + "<b",
                               "L1 '" + full_line.substr(2) + "ba' *", RL_LINE_MAX - 1},
                      key_case{"EscapeThenTypeGivesOneByte", "abc\x1bx", "L1 'x' *", 1},
                      key_case{"UpAndDownOnSingleLine", "ab<^_", "L1 'ab' *", 1}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    History, ReadlineKeysTest,
    ::testing::Values(
        key_case{"EnterOnEmptyNewestAddsNothing", "\n\n", "L1 '' *", 0},
        key_case{"UpOnOldestKeepsPosition", "ab\n^<^", "L1 'ab' *, L2 ''", 1},
        key_case{"DownOnNewestKeepsPosition", "ab<_", "L1 'ab' *", 1},
        key_case{"DownPutsPositionAtEnd", "ab\ncde^<<_", "L1 'ab', L2 'cde' *", 3},
        key_case{"SubmittingMostRecentKeepsOrder", "a\nb\n^\n", "L1 'a', L2 'b', L3 '' *", 0},
        key_case{"SubmittingUneditedOlderMovesIt", "a\nb\n^^\n", "L2 'b', L1 'a', L3 '' *", 0},
        key_case{"SubmittingOldestOfThree", "a\nb\nc\n^^^\n", "L2 'b', L3 'c', L1 'a', L4 '' *", 0},
        key_case{"EmptiedOldestIsFreed", "a\nb\n^^#\n", "L2 'b', L3 '' *", 0},
        key_case{"EmptiedMostRecentIsFreed", "a\nb\n^#\n", "L1 'a', L3 '' *", 0},
        key_case{"EmptiedEntryKeptOnEscape", "ab\n^##\x1b", "L1 '', L2 '' *", 0},
        key_case{"EditKeptWhenMovingAway", "ab\n^#_", "L1 'a', L2 '' *", 0},
        key_case{"NewestTextSurvivesOlderSubmit", "a\nzz^\n", "L1 'a', L2 'zz' *", 0},
        key_case{"NewestTextSurvivesHistoryWalk", "a\nzz^_", "L1 'a', L2 'zz' *", 2},
        key_case{"EscapeFromHistoryEmptiesNewest", "a\nzz^\x1b", "L1 'a', L2 '' *", 0},
        key_case{"SubmitFromHistoryThenTypeInNewest", "a\nb\n^^\nc", "L2 'b', L1 'a', L3 'c' *",
                 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReadlineTest, EscapeLeavesNoOldBytesBehind) {
    press("abcdef\x1b");
    for (char byte : rl.newest->buf)
        EXPECT_EQ(byte, '\0');
    EXPECT_EQ(rl.newest->length, 0);
}

TEST_F(ReadlineTest, StoresAnyByteAsItComes) {
    readline_edit(&rl, {RL_INSERT, '\x01'});
    readline_edit(&rl, {RL_INSERT, '\xff'});
    readline_edit(&rl, {RL_INSERT, '\x80'});
    EXPECT_EQ(std::string(rl.current->buf), "\x01\xff\x80");
    EXPECT_EQ(rl.current->length, 3);
}

TEST(DeleteChar, RemovesOnlyWithinTheLine) {
    struct del_case {
        int32_t p;
        const char* expected;
    };
    const del_case cases[] = {
        {-1, "abc"}, {0, "abc"}, {4, "abc"}, {1, "bc"}, {2, "ac"}, {3, "ab"},
    };
    for (const del_case& c : cases) {
        SCOPED_TRACE("p = " + std::to_string(c.p));
        rl_line line{};
        memcpy(line.buf, "abc", 3);
        line.length = 3;
        delete_char(&line, c.p);
        EXPECT_STREQ(line.buf, c.expected);
        EXPECT_EQ(line.length, static_cast<int32_t>(strlen(c.expected)));
    }
}

TEST(NewLine, LinksToTheOlderLine) {
    rl_line* first = new_line(nullptr);
    rl_line* second = new_line(first);
    EXPECT_EQ(first->older, nullptr);
    EXPECT_EQ(first->newer, second);
    EXPECT_EQ(second->older, first);
    EXPECT_EQ(second->newer, nullptr);
    EXPECT_EQ(second->length, 0);
    readline rl{0, second, second};
    free_readline(&rl);
}

using ReadlineDeathTest = ReadlineTest;

TEST_F(ReadlineDeathTest, UnknownOperationAborts) {
    EXPECT_DEATH(readline_edit(&rl, {RL_CANCEL + 1, 0}), "readline_edit");
    EXPECT_DEATH(readline_edit(&rl, {-1, 0}), "readline_edit");
}

TEST_F(ReadlineDeathTest, FailedAllocationAbortsNamingTheCheck) {
    press("ab");
    EXPECT_DEATH(
        {
            fail_next_nothrow_new = true;
            readline_edit(&rl, {RL_SUBMIT, 0});
        },
        "new_line: Assertion `line != NULL' failed");
}

} // namespace
