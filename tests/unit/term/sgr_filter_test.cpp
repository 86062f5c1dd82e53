#include "term/sgr_filter.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace korvel;

namespace {

using runs = std::vector<styled_run>;

constexpr uintattr_t RED = TB_RED;
constexpr uintattr_t GREEN = TB_GREEN;

// Only the first line's runs: what each case is about.
runs first_line(const std::string& bytes, bool keep_sgr = true) {
    sgr_filter f(keep_sgr, 100);
    f.feed(bytes);
    f.finish();
    return f.lines().at(0).runs;
}

struct sgr_case {
    const char* name;
    std::string bytes;
    runs want;
};

TEST(SgrFilter, BytesToRuns) {
    const std::vector<sgr_case> cases = {
        {"plain text", "abc", {{"abc"}}},
        {"a colour and its reset", "\x1b[31mred\x1b[0m plain", {{"red", RED}, {" plain"}}},
        {"empty parameters reset", "\x1b[32mg\x1b[mx", {{"g", GREEN}, {"x"}}},
        {"attributes add up", "\x1b[1m\x1b[4;7mx", {{"x", TB_BOLD | TB_UNDERLINE | TB_REVERSE}}},
        {"attributes are taken off one by one", "\x1b[1;4mx\x1b[22my\x1b[24mz",
         {{"x", TB_BOLD | TB_UNDERLINE}, {"y", TB_UNDERLINE}, {"z"}}},
        {"colour keeps the attributes", "\x1b[1;31mx\x1b[39my", {{"x", TB_BOLD | RED}, {"y", TB_BOLD}}},
        {"background", "\x1b[42mx\x1b[49my", {{"x", TB_DEFAULT, GREEN}, {"y"}}},
        {"bright colours as the basic ones", "\x1b[91mx", {{"x", RED}}},
        {"256 colours: the basic sixteen kept", "\x1b[38;5;9mx\x1b[38;5;200my",
         {{"x", RED}, {"y"}}},
        {"true colour falls back, the rest still counts", "\x1b[38;2;1;2;3;1mx", {{"x", TB_BOLD}}},
        {"a number too big for anything changes nothing", "\x1b[99999999999mx", {{"x"}}},
        // Everything else shows as its bytes; the screen draws ESC, BEL and
        // the other controls as substitutes.
        {"title change", "\x1b]0;owned\x07x", {{"\x1b]0;owned\x07x"}}},
        {"clipboard write", "\x1b]52;c;aGk=\x07", {{"\x1b]52;c;aGk=\x07"}}},
        {"a CSI that is not SGR", "\x1b[2Jx\x1b[1;1H", {{"\x1b[2Jx\x1b[1;1H"}}},
        {"SGR with a private marker", "\x1b[?1mx", {{"\x1b[?1mx"}}},
        {"SGR with an intermediate byte", "\x1b[1 mx", {{"\x1b[1 mx"}}},
        {"a control byte inside a sequence ends it", "\x1b[3\x01" "1mx", {{"\x1b[3\x01" "1mx"}}},
        {"an escape alone", "a\x1b" "b", {{"a\x1b" "b"}}},
        {"an escape at the end", "a\x1b[3", {{"a\x1b[3"}}},
        {"a sequence that never ends", "\x1b[" + std::string(100, '1') + "m",
         {{"\x1b[" + std::string(100, '1') + "m"}}},
        {"eight-bit CSI stays a byte", "\x9b" "31mx", {{"\x9b" "31mx"}}},
        {"NUL shows as its picture", std::string("a\0b", 3), {{"a\u2400b"}}},
        {"tab to the next stop", "ab\tc\t", {{"ab      c       "}}},
        {"tab after a wide character", "\u4e2d\tx", {{"\u4e2d      x"}}},
        {"CR LF ends the line", "a\r\nb", {{"a"}}},
        {"a lone CR is shown", "a\rb", {{"a\rb"}}},
    };
    for (const sgr_case& c : cases) EXPECT_EQ(first_line(c.bytes), c.want) << c.name;
}

// In a file nothing is a sequence: ESC is shown like any control byte.
TEST(SgrFilter, FileTextTakesNoSequence) {
    EXPECT_EQ(first_line("\x1b[31mx", false), runs{{"\x1b[31mx"}});
}

// Output arrives in pieces cut anywhere: the result is the same.
TEST(SgrFilter, PiecesCutAnywhere) {
    const std::string bytes = "\x1b[1;31mred\x1b[0m\r\n\tx\x1b]0;t\x07\n\u00e9\n";
    sgr_filter whole(true, 100);
    whole.feed(bytes);
    whole.finish();
    for (size_t cut = 0; cut <= bytes.size(); ++cut) {
        sgr_filter pieces(true, 100);
        pieces.feed(bytes.substr(0, cut));
        pieces.feed(bytes.substr(cut));
        pieces.finish();
        ASSERT_EQ(pieces.lines().size(), whole.lines().size()) << cut;
        for (size_t i = 0; i < whole.lines().size(); ++i)
            EXPECT_EQ(pieces.lines()[i].runs, whole.lines()[i].runs) << cut << " line " << i;
    }
}

TEST(SgrFilter, Bounds) {
    sgr_filter f(true, 3, 10);
    f.feed("0123456789abc\nb\nc\nd\ne\n");
    EXPECT_TRUE(f.full());
    ASSERT_EQ(f.lines().size(), 3u);
    EXPECT_EQ(f.lines()[0].runs, runs{{"0123456789"}});
    EXPECT_TRUE(f.lines()[0].cut);
    EXPECT_EQ(f.lines()[2].runs, runs{{"c"}});

    // A last newline starts no empty line; an empty input is one empty line.
    sgr_filter g(true, 10);
    g.feed("a\nb\n");
    g.finish();
    EXPECT_EQ(g.lines().size(), 2u);
    sgr_filter empty(true, 10);
    empty.finish();
    EXPECT_EQ(empty.lines().size(), 1u);
}

} // namespace
