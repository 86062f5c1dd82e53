#include <string>

#include "app/draw.hpp"
#include "app_fixture.hpp"

using namespace korvel;

namespace {

// Reads a screen row back from the in-memory backend.
std::string screen_row(int y, int width) {
    std::string out;
    for (int x = 0; x < width; ++x) {
        uint32_t ch = tb_memory_cell(x, y).ch;
        if (ch == 0) continue; // right half of a wide character
        char utf8[5] = {};
        if (ch < 0x80) {
            utf8[0] = static_cast<char>(ch);
        } else if (ch < 0x800) {
            utf8[0] = static_cast<char>(0xC0 | (ch >> 6));
            utf8[1] = static_cast<char>(0x80 | (ch & 0x3F));
        } else {
            utf8[0] = static_cast<char>(0xE0 | (ch >> 12));
            utf8[1] = static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
            utf8[2] = static_cast<char>(0x80 | (ch & 0x3F));
        }
        out += utf8;
    }
    out.erase(out.find_last_not_of(' ') + 1);
    return out;
}

struct colors {
    uintattr_t fg, bg;
    bool operator==(const colors&) const = default;
};

colors colors_at(int x, int y) { return {tb_memory_cell(x, y).fg, tb_memory_cell(x, y).bg}; }

const colors PLAIN{TB_DEFAULT, TB_DEFAULT};
const colors CURSOR{TB_BLACK | TB_BOLD, TB_WHITE};
const colors MATCH{TB_BLACK, TB_YELLOW};
const colors INDICATOR{TB_BLACK, TB_WHITE};
const colors MESSAGE{TB_BLACK, TB_WHITE};

class draw : public app_fixture {};

TEST_F(draw, SmallTreeWithFoldingAndSidewaysScroll) {
    load("README\nsrc/main.c\nsrc/util/str.c\n", 30, 6);
    move_cursor_to(v(), 3);
    ASSERT_TRUE(redraw(v()).ok());

    const struct {
        std::string text;
        int column;
        colors color;
    } expected[] = {
        {"• README", 0, PLAIN},  {"▼ src", 0, PLAIN},    {"  • main.c", 2, PLAIN},
        {"  ▼ util", 2, CURSOR}, {"    • str.c", 4, PLAIN},
    };
    for (int y = 0; y < 5; ++y) {
        EXPECT_EQ(screen_row(y, 30), expected[y].text) << "row " << y;
        EXPECT_EQ(colors_at(expected[y].column, y), expected[y].color) << "row " << y;
    }
    EXPECT_EQ(screen_row(5, 30), " src/util                 4/5");
    EXPECT_EQ(colors_at(0, 5), MESSAGE);
    EXPECT_EQ(colors_at(29, 5), MESSAGE);
    EXPECT_EQ(tb_memory_cell(23, 5).ch, ' ');
    EXPECT_EQ(tb_memory_cell(26, 5).ch, '4');

    toggle_fold(v());
    ASSERT_TRUE(redraw(v()).ok());
    EXPECT_EQ(screen_row(3, 30), "  ▶ util");
    EXPECT_EQ(screen_row(4, 30), "");
    EXPECT_EQ(screen_row(5, 30).substr(26), "4/5");

    v().view.hscroll = 4;
    ASSERT_TRUE(redraw(v()).ok());
    EXPECT_EQ(screen_row(0, 30), "< ME");
    EXPECT_EQ(screen_row(1, 30), "<");
    EXPECT_EQ(screen_row(2, 30), "< in.c");
    EXPECT_EQ(screen_row(3, 30), "< il");
    EXPECT_EQ(colors_at(0, 3), INDICATOR);
    EXPECT_EQ(colors_at(2, 3), CURSOR);
}

// A count scrolls with the name it follows: scrolled past the name, the rest
// of the scroll eats into the count, and nothing is cut at the right.
TEST_F(draw, CountsScrollSidewaysWithTheirNames) {
    load("README\nsrc/main.c\nsrc/util/str.c\n", 30, 6);
    v().show_counts = true;
    const struct {
        int64_t hscroll;
        std::string src_row;
    } cases[] = {{0, "▼ src  3"}, {2, "< c  3"}, {4, "<  3"}, {6, "<"}, {40, "<"}};
    for (const auto& c : cases) {
        v().view.hscroll = c.hscroll;
        ASSERT_TRUE(redraw(v()).ok());
        EXPECT_EQ(screen_row(1, 30), c.src_row) << "scrolled " << c.hscroll;
        for (int y = 0; y < 5; ++y)
            EXPECT_NE(tb_memory_cell(29, y).ch, static_cast<uint32_t>('>'))
                << "row " << y << " scrolled " << c.hscroll;
    }
}

TEST_F(draw, RightIndicatorExactlyWhenTheRowIsCut) {
    // Width 10: "• " plus 8 bytes fits exactly; 9 bytes does not.
    load("abcdefgh\nabcdefghi\n", 10, 4);
    ASSERT_TRUE(redraw(v()).ok());
    EXPECT_EQ(screen_row(0, 10), "• abcdefgh");
    EXPECT_EQ(screen_row(1, 10), "• abcdefg>");
    EXPECT_EQ(colors_at(9, 1), INDICATOR);
}

TEST_F(draw, BlankRowsAboveTheFirstEntryAfterCentring) {
    load("a\nb\nc\n", 20, 11); // R = 10
    move_cursor_to(v(), 1);
    center_view(v());
    ASSERT_EQ(v().view.top, -4);
    ASSERT_TRUE(redraw(v()).ok());
    for (int y = 0; y < 4; ++y) EXPECT_EQ(screen_row(y, 20), "") << y;
    EXPECT_EQ(screen_row(4, 20), "• a");
    EXPECT_EQ(colors_at(0, 5), CURSOR);
    EXPECT_EQ(screen_row(7, 20), "");
}

TEST_F(draw, AbsolutePathShowsTheSeparatorAsItsName) {
    load("/etc\n", 20, 4);
    ASSERT_TRUE(redraw(v()).ok());
    EXPECT_EQ(screen_row(0, 20), "▼ /");
    EXPECT_EQ(screen_row(1, 20), "  • etc");
}

TEST_F(draw, SearchMatchesAreHighlightedButNotTheCursorRow) {
    load("ax\nbx\nc\n", 20, 5);
    ASSERT_TRUE(v().search.compile("x", 1, '/').ok());
    ASSERT_TRUE(redraw(v()).ok());
    EXPECT_EQ(colors_at(0, 0), CURSOR);
    EXPECT_EQ(colors_at(0, 1), MATCH);
    EXPECT_EQ(colors_at(0, 2), PLAIN);
}

TEST_F(draw, NarrowAndTinyTerminalsDrawWithoutFailing) {
    load("a/b\n", 3, 1); // no tree rows; the counter does not fit
    show_current_path(v());
    ASSERT_TRUE(redraw(v()).ok());
    EXPECT_EQ(screen_row(0, 3), " a");
    tb_shutdown();
    ASSERT_EQ(tb_init_memory(1, 3), 0);
    v().screen = {1, 3};
    v().view.hscroll = 8;
    ASSERT_TRUE(redraw(v()).ok());
    EXPECT_EQ(screen_row(0, 1), "<");
}

TEST_F(draw, LongNamesAreDrawnClipped) {
    // A name far longer than any fixed formatting buffer.
    load(std::string(5000, 'n') + "\n", 40, 3);
    ASSERT_TRUE(redraw(v()).ok());
    EXPECT_EQ(screen_row(0, 40), "• " + std::string(37, 'n') + ">");
    v().view.hscroll = 4990;
    ASSERT_TRUE(redraw(v()).ok());
    EXPECT_EQ(screen_row(0, 40), "< nnnnnnnnnn");
}

TEST_F(draw, CounterEndsAtTheLastColumnOnWideScreens) {
    load("a\n", 300, 3);
    ASSERT_TRUE(redraw(v()).ok());
    EXPECT_EQ(tb_memory_cell(298, 2).ch, '1');
    EXPECT_EQ(tb_memory_cell(299, 2).ch, ' ');
    EXPECT_EQ(tb_memory_cell(255, 2).fg, TB_DEFAULT); // past the status text: cleared
}

} // namespace
