#include "app/line_editor.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "line_editor_probe.hpp"

using namespace korvel;

// Lets a test make the editor's next allocation fail. The editor allocates
// its lines with the non-throwing operator new, which this file replaces.
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

// Keys as the prompt sends them: every character inserts itself except these.
constexpr char32_t KEY_LEFT = U'<';
constexpr char32_t KEY_RIGHT = U'>';
constexpr char32_t KEY_UP = U'^';
constexpr char32_t KEY_DOWN = U'_';
constexpr char32_t KEY_DELETE = U'~';
constexpr char32_t KEY_BACKSPACE = U'#';
constexpr char32_t KEY_ENTER = U'\n';
constexpr char32_t KEY_ESCAPE = U'\x1b';
constexpr char32_t KEY_HOME = U'[';
constexpr char32_t KEY_END = U']';
constexpr char32_t KEY_CTRL_U = U'{'; // delete to the start
constexpr char32_t KEY_CTRL_K = U'}'; // delete to the end
constexpr char32_t KEY_CTRL_W = U'|'; // delete the word before

rl_edit edit_for_key(char32_t key) {
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
    case KEY_HOME:
        return {RL_START, 0};
    case KEY_END:
        return {RL_END, 0};
    case KEY_CTRL_U:
        return {RL_DELETE_TO_START, 0};
    case KEY_CTRL_K:
        return {RL_DELETE_TO_END, 0};
    case KEY_CTRL_W:
        return {RL_DELETE_WORD, 0};
    default:
        return {RL_INSERT, static_cast<uint32_t>(key)};
    }
}

bool continuation(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

class ReadlineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        list(); // the first line is L1
    }

    // Feeds keys the way the event loop does; on Enter the text searched for
    // (the current line, when not empty) is read before the submission.
    void press(const std::u32string& keys) {
        for (char32_t key : keys) {
            if (key == KEY_ENTER && !rl.text().empty()) searched.emplace_back(rl.text());
            rl.edit(edit_for_key(key));
            list(); // names any new line in the order of creation
        }
    }

    // The list from oldest to newest as "L1 'ab', L2 '' *": lines are named
    // in the order they are first seen (a line's text keeps its address),
    // the current one carries a star.
    std::string list() {
        const std::vector<std::string_view> lines = line_editor_probe::lines(rl);
        std::string out;
        for (size_t k = 0; k < lines.size(); ++k) {
            const char* id = lines[k].data();
            if (!names.contains(id)) names[id] = 'L' + std::to_string(names.size() + 1);
            if (!out.empty()) out += ", ";
            out.append(names[id]).append(" '").append(lines[k]).append("'");
            if (k == line_editor_probe::current_line(rl)) out += " *";
        }
        return out;
    }

    // The invariants every operation must keep, for lines typed with keys.
    void expect_consistent() {
        const std::vector<std::string_view> lines = line_editor_probe::lines(rl);
        ASSERT_FALSE(lines.empty());
        ASSERT_LT(line_editor_probe::current_line(rl), lines.size());
        EXPECT_EQ(rl.text().data(), lines[line_editor_probe::current_line(rl)].data());
        for (std::string_view line : lines)
            EXPECT_LE(line.size(), static_cast<size_t>(RL_LINE_MAX));
        // Nothing is left behind the text, and the text is a C string.
        const std::string_view stored = line_editor_probe::storage(rl);
        EXPECT_TRUE(std::all_of(stored.begin() + static_cast<std::ptrdiff_t>(rl.text().size()),
                                stored.end(), [](char byte) { return byte == '\0'; }));
        EXPECT_GE(rl.pos(), 0);
        ASSERT_LE(rl.pos(), static_cast<int32_t>(rl.text().size()));
        // Typed text is valid UTF-8, so a boundary is any byte but a
        // continuation byte.
        if (rl.pos() < static_cast<int32_t>(rl.text().size())) {
            EXPECT_FALSE(continuation(rl.text()[static_cast<size_t>(rl.pos())]));
        }
    }

    line_editor rl;
    std::map<const char*, std::string> names;
    std::vector<std::string> searched;
};

TEST_F(ReadlineTest, StartsWithOneEmptyLine) {
    EXPECT_EQ(list(), "L1 '' *");
    EXPECT_EQ(rl.pos(), 0);
    EXPECT_EQ(line_editor_probe::current_line(rl), 0u);
    EXPECT_STREQ(rl.text().data(), "");
    for (char byte : line_editor_probe::storage(rl))
        EXPECT_EQ(byte, '\0');
}

TEST_F(ReadlineTest, WorkedExampleStepByStep) {
    struct step {
        std::u32string keys; // opening the prompt ('/') applies no operation
        const char* expected_list;
        int32_t expected_pos;
        std::vector<std::string> expected_searches;
    };
    const step steps[] = {
        {U"ab\n", "L1 'ab', L2 '' *", 0, {"ab"}},
        {U"cd\n", "L1 'ab', L2 'cd', L3 '' *", 0, {"cd"}},
        {U"^^", "L1 'ab' *, L2 'cd', L3 ''", 2, {}},
        {U"^x", "L1 'abx' *, L2 'cd', L3 ''", 3, {}},
        {U"\n", "L2 'cd', L1 'abx', L3 '' *", 0, {"abx"}},
        {U"^###", "L2 'cd', L1 '' *, L3 ''", 0, {}},
        {U"\n", "L2 'cd', L3 '' *", 0, {}},
        {U"z^", "L2 'cd' *, L3 'z'", 2, {}},
        {U"\n", "L2 'cd', L3 'z' *", 0, {"cd"}},
        {U"\x1b", "L2 'cd', L3 '' *", 0, {}},
    };
    int number = 0;
    for (const step& s : steps) {
        SCOPED_TRACE("step " + std::to_string(++number));
        searched.clear();
        press(s.keys);
        EXPECT_EQ(list(), s.expected_list);
        EXPECT_EQ(rl.pos(), s.expected_pos);
        EXPECT_EQ(searched, s.expected_searches);
        expect_consistent();
    }
}

// Each case starts from a fresh editor.
struct key_case {
    const char* name;
    std::u32string keys;
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
    EXPECT_EQ(rl.pos(), GetParam().expected_pos);
    expect_consistent();
}

const std::string full_line(RL_LINE_MAX, 'a');
std::u32string typed_a(size_t count) {
    return std::u32string(count, U'a');
}

INSTANTIATE_TEST_SUITE_P(
    WithinOneLine, ReadlineKeysTest,
    ::testing::Values(key_case{"LeftAtStartStays", U"<", "L1 '' *", 0},
                      key_case{"LeftStopsAtStart", U"ab<<<", "L1 'ab' *", 0},
                      key_case{"RightAtEndStays", U"ab>", "L1 'ab' *", 2},
                      key_case{"RightMovesBack", U"abc<<>", "L1 'abc' *", 2},
                      key_case{"InsertInMiddle", U"abc<<X", "L1 'aXbc' *", 2},
                      key_case{"InsertAtStart", U"bc<<a", "L1 'abc' *", 1},
                      key_case{"BackspaceAtStartDoesNothing", U"ab<<#", "L1 'ab' *", 0},
                      key_case{"BackspaceInMiddle", U"abc<#", "L1 'ac' *", 1},
                      key_case{"DeleteAtEndDoesNothing", U"ab~", "L1 'ab' *", 2},
                      key_case{"DeleteUnderPosition", U"abc<<~", "L1 'ac' *", 1},
                      key_case{"DeleteAtStart", U"abc<<<~~", "L1 'c' *", 0},
                      key_case{"FullLineDropsCharacter", typed_a(RL_LINE_MAX) + U"b",
                               "L1 '" + full_line + "' *", RL_LINE_MAX},
                      key_case{"FullLineDropsCharacterInMiddle", typed_a(RL_LINE_MAX) + U"<<b",
                               "L1 '" + full_line + "' *", RL_LINE_MAX - 2},
                      key_case{"LineOneShortOfFullTakesOneMore", typed_a(RL_LINE_MAX - 1) + U"<b",
                               "L1 '" + full_line.substr(2) + "ba' *", RL_LINE_MAX - 1},
                      key_case{"EscapeThenTypeGivesOneCharacter", U"abc\x1bx", "L1 'x' *", 1},
                      key_case{"UpAndDownOnSingleLine", U"ab<^_", "L1 'ab' *", 1}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    History, ReadlineKeysTest,
    ::testing::Values(
        key_case{"EnterOnEmptyNewestAddsNothing", U"\n\n", "L1 '' *", 0},
        key_case{"UpOnOldestKeepsPosition", U"ab\n^<^", "L1 'ab' *, L2 ''", 1},
        key_case{"DownOnNewestKeepsPosition", U"ab<_", "L1 'ab' *", 1},
        key_case{"DownPutsPositionAtEnd", U"ab\ncde^<<_", "L1 'ab', L2 'cde' *", 3},
        key_case{"SubmittingMostRecentKeepsOrder", U"a\nb\n^\n", "L1 'a', L2 'b', L3 '' *", 0},
        key_case{"SubmittingUneditedOlderMovesIt", U"a\nb\n^^\n", "L2 'b', L1 'a', L3 '' *", 0},
        key_case{"SubmittingOldestOfThree", U"a\nb\nc\n^^^\n", "L2 'b', L3 'c', L1 'a', L4 '' *",
                 0},
        key_case{"EmptiedOldestIsFreed", U"a\nb\n^^#\n", "L2 'b', L3 '' *", 0},
        key_case{"EmptiedMostRecentIsFreed", U"a\nb\n^#\n", "L1 'a', L3 '' *", 0},
        key_case{"EmptiedEntryKeptOnEscape", U"ab\n^##\x1b", "L1 '', L2 '' *", 0},
        key_case{"EditKeptWhenMovingAway", U"ab\n^#_", "L1 'a', L2 '' *", 0},
        key_case{"NewestTextSurvivesOlderSubmit", U"a\nzz^\n", "L1 'a', L2 'zz' *", 0},
        key_case{"NewestTextSurvivesHistoryWalk", U"a\nzz^_", "L1 'a', L2 'zz' *", 2},
        key_case{"EscapeFromHistoryEmptiesNewest", U"a\nzz^\x1b", "L1 'a', L2 '' *", 0},
        key_case{"SubmitFromHistoryThenTypeInNewest", U"a\nb\n^^\nc", "L2 'b', L1 'a', L3 'c' *",
                 1},
        key_case{"LineEmptiedWithCtrlUIsFreed", U"a\nb\n^^{\n", "L2 'b', L3 '' *", 0},
        key_case{"EditsWithNewKeysKeptInRecalledLine", U"abc\n^[}_", "L1 '', L2 '' *", 0}),
    [](const auto& info) { return std::string(info.param.name); });

// Characters beyond ASCII: é is 2 bytes, 中 3, 😀 4. Positions are bytes.
INSTANTIATE_TEST_SUITE_P(
    Utf8, ReadlineKeysTest,
    ::testing::Values(
        key_case{"InsertsTwoBytes", U"é", "L1 'é' *", 2},
        key_case{"InsertsThreeBytes", U"中", "L1 '中' *", 3},
        key_case{"InsertsFourBytes", U"😀", "L1 '😀' *", 4},
        key_case{"InsertsBeforeCharacters", U"中é<<x", "L1 'x中é' *", 1},
        key_case{"InsertsBetweenCharacters", U"中é<x", "L1 '中xé' *", 4},
        key_case{"LeftOverFourBytes", U"a中😀é<<", "L1 'a中😀é' *", 4},
        key_case{"LeftOverEveryCharacter", U"a中😀é<<<<", "L1 'a中😀é' *", 0},
        key_case{"RightOverThreeBytes", U"a中😀é[>>", "L1 'a中😀é' *", 4},
        key_case{"RightToTheEnd", U"a中😀é[>>>>>", "L1 'a中😀é' *", 10},
        key_case{"BackspaceDeletesThreeBytes", U"a中b<#", "L1 'ab' *", 1},
        key_case{"BackspaceDeletesFourBytesAtEnd", U"é😀#", "L1 'é' *", 2},
        key_case{"DeleteDeletesFourBytes", U"a😀b<<~", "L1 'ab' *", 1},
        key_case{"DeleteDeletesTwoBytesAtStart", U"éa[~", "L1 'a' *", 0},
        key_case{"CharacterThatDoesNotFitWholeIsDropped", typed_a(RL_LINE_MAX - 2) + U"中",
                 "L1 '" + full_line.substr(2) + "' *", RL_LINE_MAX - 2},
        key_case{"CharacterThatFillsTheLineExactly", typed_a(RL_LINE_MAX - 3) + U"中",
                 "L1 '" + full_line.substr(3) + "中' *", RL_LINE_MAX},
        key_case{"TwoBytesOneShortOfRoom", typed_a(RL_LINE_MAX - 1) + U"é",
                 "L1 '" + full_line.substr(1) + "' *", RL_LINE_MAX - 1},
        key_case{"FourBytesInMiddleWithoutRoom", typed_a(RL_LINE_MAX - 3) + U"<😀",
                 "L1 '" + full_line.substr(3) + "' *", RL_LINE_MAX - 4},
        key_case{"AsciiStillFitsAfterRefusal", typed_a(RL_LINE_MAX - 2) + U"中b",
                 "L1 '" + full_line.substr(2) + "b' *", RL_LINE_MAX - 1},
        key_case{"HistoryKeepsTheBytes", U"中é\n^", "L1 '中é' *, L2 ''", 5},
        key_case{"RecalledLineEditedByCharacter", U"中é\n^#\n^", "L1 '中' *, L2 ''", 3}),
    [](const auto& info) { return std::string(info.param.name); });

// Home, End, Ctrl-U, Ctrl-K and Ctrl-W.
INSTANTIATE_TEST_SUITE_P(
    LineOperations, ReadlineKeysTest,
    ::testing::Values(key_case{"StartOnEmptyLine", U"[", "L1 '' *", 0},
                      key_case{"EndOnEmptyLine", U"]", "L1 '' *", 0},
                      key_case{"StartAtStartStays", U"ab[[", "L1 'ab' *", 0},
                      key_case{"EndAtEndStays", U"ab]", "L1 'ab' *", 2},
                      key_case{"StartThenInsert", U"bc[a", "L1 'abc' *", 1},
                      key_case{"EndFromMiddle", U"abc<<]", "L1 'abc' *", 3},
                      key_case{"EndPastMultibyte", U"中é[]", "L1 '中é' *", 5},
                      key_case{"DeleteToStartOnEmptyLine", U"{", "L1 '' *", 0},
                      key_case{"DeleteToStartFromMiddle", U"abcd<<{", "L1 'cd' *", 0},
                      key_case{"DeleteToStartAtStart", U"ab[{", "L1 'ab' *", 0},
                      key_case{"DeleteToStartAtEnd", U"ab{", "L1 '' *", 0},
                      key_case{"DeleteToStartOverMultibyte", U"中é<{", "L1 'é' *", 0},
                      key_case{"DeleteToEndOnEmptyLine", U"}", "L1 '' *", 0},
                      key_case{"DeleteToEndFromMiddle", U"abcd<<}", "L1 'ab' *", 2},
                      key_case{"DeleteToEndAtEnd", U"ab}", "L1 'ab' *", 2},
                      key_case{"DeleteToEndAtStart", U"ab[}", "L1 '' *", 0},
                      key_case{"DeleteToEndOverMultibyte", U"中é<}", "L1 '中' *", 3},
                      key_case{"DeleteWordOnEmptyLine", U"|", "L1 '' *", 0},
                      key_case{"DeleteWordAtStart", U"ab[|", "L1 'ab' *", 0},
                      key_case{"DeleteWordAtEnd", U"ab cd|", "L1 'ab ' *", 3},
                      key_case{"DeleteWordOverSeveralBlanks", U"ab  cd   |", "L1 'ab  ' *", 4},
                      key_case{"DeleteWordTwice", U"ab  cd   ||", "L1 '' *", 0},
                      key_case{"DeleteWordOnlyBlanks", U"   |", "L1 '' *", 0},
                      key_case{"DeleteWordInsideWord", U"abc def<|", "L1 'abc f' *", 4},
                      key_case{"DeleteWordKeepsTextAfter", U"ab cd<<|", "L1 'cd' *", 0},
                      key_case{"DeleteWordTabsAreBlanks", U"a\tb\t|", "L1 'a\t' *", 2},
                      key_case{"DeleteWordPunctuationIsPartOfWord", U"x a/b.c-d|", "L1 'x ' *", 2},
                      key_case{"DeleteWordOverMultibyte", U"x 中😀|", "L1 'x ' *", 2}),
    [](const auto& info) { return std::string(info.param.name); });

// Every length of UTF-8 form, at both ends of its range: the bytes stored,
// and one character for Left and Backspace.
TEST_F(ReadlineTest, InsertsTheUtf8FormOfEachCodePoint) {
    struct encoding {
        uint32_t code_point;
        std::string bytes;
    };
    const encoding cases[] = {
        {0x01, "\x01"},
        {0x7F, "\x7F"},
        {0x80, "\xC2\x80"},
        {0xFF, "\xC3\xBF"},
        {0x7FF, "\xDF\xBF"},
        {0x800, "\xE0\xA0\x80"},
        {0xD7FF, "\xED\x9F\xBF"},
        {0xE000, "\xEE\x80\x80"},
        {0xFFFF, "\xEF\xBF\xBF"},
        {0x10000, "\xF0\x90\x80\x80"},
        {0x10FFFF, "\xF4\x8F\xBF\xBF"},
    };
    for (const encoding& c : cases) {
        SCOPED_TRACE(testing::Message() << "U+" << std::hex << c.code_point);
        line_editor editor;
        editor.edit({RL_INSERT, 'a'});
        editor.edit({RL_INSERT, c.code_point});
        EXPECT_EQ(editor.text(), "a" + c.bytes);
        EXPECT_EQ(editor.pos(), static_cast<int32_t>(c.bytes.size()) + 1);
        editor.edit({RL_LEFT, 0});
        EXPECT_EQ(editor.pos(), 1);
        editor.edit({RL_RIGHT, 0});
        editor.edit({RL_BACKSPACE, 0});
        EXPECT_EQ(editor.text(), "a");
        EXPECT_EQ(editor.pos(), 1);
    }
}

TEST_F(ReadlineTest, RefusesWhatUtf8CannotCarry) {
    press(U"ab<");
    for (uint32_t code_point :
         {0x0u, 0xD800u, 0xDBFFu, 0xDC00u, 0xDFFFu, 0x110000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        SCOPED_TRACE(testing::Message() << "U+" << std::hex << code_point);
        rl.edit({RL_INSERT, code_point});
        EXPECT_EQ(rl.text(), "ab");
        EXPECT_EQ(rl.pos(), 1);
    }
    expect_consistent();
}

TEST_F(ReadlineTest, OnlyInsertReadsTheCharacter) {
    press(U"abc<");
    rl.edit({RL_LEFT, 'x'});
    rl.edit({RL_DELETE, 'x'});
    rl.edit({RL_END, 'x'});
    EXPECT_EQ(rl.text(), "ac");
    EXPECT_EQ(rl.pos(), 2);
}

TEST_F(ReadlineTest, EscapeLeavesNoOldBytesBehind) {
    press(U"abcdef中\x1b");
    for (char byte : line_editor_probe::storage(rl))
        EXPECT_EQ(byte, '\0');
    EXPECT_EQ(rl.text(), "");
}

// The history has no limit, and each line keeps its place.
TEST_F(ReadlineTest, EverySubmittedLineStays) {
    constexpr int COUNT = 200;
    for (int k = 1; k <= COUNT; ++k) {
        for (char c : std::to_string(k))
            rl.edit({RL_INSERT, static_cast<uint32_t>(c)});
        rl.edit({RL_SUBMIT, 0});
    }
    const std::vector<std::string_view> lines = line_editor_probe::lines(rl);
    ASSERT_EQ(lines.size(), static_cast<size_t>(COUNT + 1));
    for (int k = 1; k <= COUNT; ++k)
        EXPECT_EQ(lines[static_cast<size_t>(k - 1)], std::to_string(k));
    EXPECT_EQ(lines.back(), "");
    EXPECT_EQ(line_editor_probe::current_line(rl), static_cast<size_t>(COUNT));
    for (int k = 0; k < COUNT + 5; ++k)
        rl.edit({RL_OLDER, 0});
    EXPECT_EQ(rl.text(), "1");
    EXPECT_EQ(line_editor_probe::current_line(rl), 0u);
}

// Bytes that are not UTF-8 can only be planted, never typed: each counts as
// one character. A case lists every position Left and Right stop at.
TEST_F(ReadlineTest, StrayBytesAreOneCharacterEach) {
    struct stray_case {
        std::string bytes;
        std::vector<int32_t> stops;
    };
    const stray_case cases[] = {
        {"a\x80z", {0, 1, 2, 3}},
        {"\xE4\xB8", {0, 1, 2}},             // 中 cut short
        {"\xE4\xB8\xAD", {0, 3}},            // 中 whole
        {"x\xE4\xB8\xAD\xE4", {0, 1, 4, 5}}, // a lead byte at the end
        {"\xC3\xA9\xA9", {0, 2, 3}},         // é, then a stray continuation
        {"\xF0\x9F\x98\x80\x80", {0, 4, 5}},
        {"\xC0\x80", {0, 1, 2}},               // overlong
        {"\xE0\x80\x80", {0, 1, 2, 3}},        // overlong
        {"\xED\xA0\x80", {0, 1, 2, 3}},        // a surrogate
        {"\xF4\x90\x80\x80", {0, 1, 2, 3, 4}}, // past U+10FFFF
        {"\xF5\x80\x80\x80", {0, 1, 2, 3, 4}},
        {"\xFF\xFE", {0, 1, 2}},
        {"\xC3z", {0, 1, 2}},
    };
    for (const stray_case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        line_editor editor;
        line_editor_probe::plant(editor, c.bytes);
        std::vector<int32_t> leftward{editor.pos()};
        for (size_t k = 0; k < c.bytes.size(); ++k) {
            editor.edit({RL_LEFT, 0});
            if (editor.pos() != leftward.back()) leftward.push_back(editor.pos());
        }
        std::reverse(leftward.begin(), leftward.end());
        EXPECT_EQ(leftward, c.stops);
        std::vector<int32_t> rightward{editor.pos()};
        for (size_t k = 0; k < c.bytes.size(); ++k) {
            editor.edit({RL_RIGHT, 0});
            if (editor.pos() != rightward.back()) rightward.push_back(editor.pos());
        }
        EXPECT_EQ(rightward, c.stops);
        EXPECT_EQ(editor.text(), c.bytes);
    }
}

// Deleting between stray bytes can join them into one character: the
// position then stands before it, never inside.
TEST_F(ReadlineTest, StrayBytesDeleted) {
    struct deletion_case {
        const char* name;
        std::string planted;
        std::u32string keys;
        std::string expected_text;
        int32_t expected_pos;
    };
    const deletion_case cases[] = {
        {"BackspaceTakesOneStrayByte", "\xE4\xB8", U"#", "\xE4", 1},
        {"DeleteTakesOneStrayByte", "\x80\x80", U"<<~", "\x80", 0},
        {"DeleteTakesWholeCharacterBeforeStrayByte", "\xC3\xA9\xA9", U"[~", "\xA9", 0},
        {"BackspaceJoinsNeighbours", "\xC3z\xA9", U"<#", "\xC3\xA9", 0},
        {"DeleteJoinsNeighbours", "\xC3z\xA9", U"<<~", "\xC3\xA9", 0},
        {"BackspaceJoinsIntoFourBytes", "\xF0\x9Fz\x98\x80", U"<<#", "\xF0\x9F\x98\x80", 0},
        {"DeleteWordTakesStrayBytes", "ab \xFF\xC3", U"|", "ab ", 3},
        {"InsertBesideStrayBytes", "\xC3\xA9\xA9", U"<é", "\xC3\xA9\xC3\xA9\xA9", 4},
        {"HistoryKeepsStrayBytes", "\x01\xFF\x80", U"\n^", "\x01\xFF\x80", 3},
    };
    for (const deletion_case& c : cases) {
        SCOPED_TRACE(c.name);
        line_editor editor;
        line_editor_probe::plant(editor, c.planted);
        for (char32_t key : c.keys)
            editor.edit(edit_for_key(key));
        EXPECT_EQ(editor.text(), c.expected_text);
        EXPECT_EQ(editor.pos(), c.expected_pos);
    }
}

using ReadlineDeathTest = ReadlineTest;

TEST_F(ReadlineDeathTest, UnknownOperationAborts) {
    EXPECT_DEATH(rl.edit({RL_DELETE_TO_END + 1, 0}), "edit: Assertion");
    EXPECT_DEATH(rl.edit({-1, 0}), "edit: Assertion");
}

TEST_F(ReadlineDeathTest, FailedAllocationAbortsNamingTheCheck) {
    press(U"ab");
    EXPECT_DEATH(
        {
            fail_next_nothrow_new = true;
            rl.edit({RL_SUBMIT, 0});
        },
        "new_line: Assertion `line != NULL' failed");
}

} // namespace
