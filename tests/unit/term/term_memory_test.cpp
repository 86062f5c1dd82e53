// The terminal layer's drawing rules, through the in-memory backend: the
// same clipping, substitutes and wide-character code the terminal uses.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "term/term.hpp"

using namespace korvel;

namespace {

constexpr int WIDTH = 10;
constexpr int HEIGHT = 3;

class TermMemory : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(tb_init_memory(WIDTH, HEIGHT), 0); }
    void TearDown() override { tb_shutdown(); }

    // The row as presented, cell by cell, right halves of wide characters
    // left out and trailing blanks removed.
    static std::string row(int y) {
        std::string text;
        for (int x = 0; x < tb_width(); ++x)
            text += tb_memory_cell_text(x, y);
        text.erase(text.find_last_not_of(' ') + 1);
        return text;
    }

    static std::vector<uint32_t> code_points(int y) {
        std::vector<uint32_t> cells;
        for (int x = 0; x < tb_width(); ++x)
            cells.push_back(tb_memory_cell(x, y).ch);
        return cells;
    }
};

TEST(TermLifecycle, CallsWithoutInitReportNotInit) {
    tb_event event{};
    EXPECT_EQ(tb_shutdown(), TB_ERR_NOT_INIT);
    EXPECT_EQ(tb_width(), TB_ERR_NOT_INIT);
    EXPECT_EQ(tb_height(), TB_ERR_NOT_INIT);
    EXPECT_EQ(tb_clear(), TB_ERR_NOT_INIT);
    EXPECT_EQ(tb_present(), TB_ERR_NOT_INIT);
    EXPECT_EQ(tb_print(0, 0, 0, 0, "x"), TB_ERR_NOT_INIT);
    EXPECT_EQ(tb_printf(0, 0, 0, 0, "%s", "x"), TB_ERR_NOT_INIT);
    EXPECT_EQ(tb_set_cell(0, 0, 'x', 0, 0), TB_ERR_NOT_INIT);
    EXPECT_EQ(tb_set_cursor(0, 0), TB_ERR_NOT_INIT);
    EXPECT_EQ(tb_hide_cursor(), TB_ERR_NOT_INIT);
    EXPECT_EQ(tb_set_input_mode(TB_INPUT_ESC), TB_ERR_NOT_INIT);
    EXPECT_EQ(tb_peek_event(&event, 0), TB_ERR_NOT_INIT);
}

TEST(TermLifecycle, InitTwiceFailsAndShutdownEndsIt) {
    ASSERT_EQ(tb_init_memory(4, 2), 0);
    EXPECT_EQ(tb_init_memory(4, 2), TB_ERR_INIT_ALREADY);
    EXPECT_EQ(tb_init(), TB_ERR_INIT_ALREADY);
    EXPECT_EQ(tb_shutdown(), 0);
    EXPECT_EQ(tb_shutdown(), TB_ERR_NOT_INIT);
    ASSERT_EQ(tb_init_memory(6, 5), 0); // and again, with another size
    EXPECT_EQ(tb_width(), 6);
    EXPECT_EQ(tb_height(), 5);
    EXPECT_EQ(tb_shutdown(), 0);
}

TEST(TermLifecycle, StrerrorHasAShortTextForEveryCode) {
    for (int code = TB_ERR_TCSETATTR; code <= TB_OK; ++code) {
        const std::string text = tb_strerror(code);
        EXPECT_FALSE(text.empty()) << code;
        EXPECT_NE(text, tb_strerror(1)) << code; // not the text for unknown codes
    }
}

struct print_case {
    int x;
    int y;
    std::string text;
    int rc;
    std::string row; // the row y afterwards
};

TEST_F(TermMemory, PrintClipsAtEveryEdgeAndSaysSo) {
    const std::vector<print_case> cases{
        {0, 0, "0123456789", 0, "0123456789"},                     // fills the row exactly
        {0, 0, "0123456789A", TB_ERR_OUT_OF_BOUNDS, "0123456789"}, // one column more
        {1, 0, "0123456789", TB_ERR_OUT_OF_BOUNDS, " 012345678"},
        {-2, 0, "abcdef", TB_ERR_OUT_OF_BOUNDS, "cdef"},
        {-6, 0, "abc", TB_ERR_OUT_OF_BOUNDS, ""},
        {WIDTH, 0, "a", TB_ERR_OUT_OF_BOUNDS, ""},
        {3, 0, "", 0, ""},
        {0, -1, "a", TB_ERR_OUT_OF_BOUNDS, ""},
        {0, HEIGHT, "a", TB_ERR_OUT_OF_BOUNDS, ""},
        {0, HEIGHT, "", 0, ""},
        {6, 0, "漢字", 0, "      漢字"},                   // two wide characters fill it
        {7, 0, "漢字", TB_ERR_OUT_OF_BOUNDS, "       漢"}, // the second would need column 10
        {-1, 0, "漢x", TB_ERR_OUT_OF_BOUNDS, " x"},        // its visible half is blank
    };
    for (const print_case& c : cases) {
        tb_clear();
        EXPECT_EQ(tb_print(c.x, c.y, TB_DEFAULT, TB_DEFAULT, c.text.c_str()), c.rc)
            << c.x << "," << c.y << " " << c.text;
        tb_present();
        EXPECT_EQ(row(c.y < 0 || c.y >= HEIGHT ? 0 : c.y), c.row) << c.x << " " << c.text;
    }
}

TEST_F(TermMemory, PrintfHasNoLengthLimit) {
    const std::string long_text(10000, 'x');
    EXPECT_EQ(tb_printf(0, 1, TB_RED, TB_DEFAULT, "%s%s", "> ", long_text.c_str()),
              TB_ERR_OUT_OF_BOUNDS);
    EXPECT_EQ(tb_printf(0, 2, TB_RED, TB_DEFAULT, "%s%d", "abcdefgh", 42), 0);
    tb_present();
    EXPECT_EQ(row(1), "> xxxxxxxx");
    EXPECT_EQ(row(2), "abcdefgh42");
    EXPECT_EQ(tb_memory_cell(9, 1).fg, TB_RED);
}

struct substitute_case {
    std::string text;
    std::vector<uint32_t> cells; // the leading cells drawn
};

TEST_F(TermMemory, ControlCharactersAndBadBytesBecomeOneVisibleCellEach) {
    const std::vector<substitute_case> cases{
        {"\x1b]0;x\x07", {0x241B, ']', '0', ';', 'x', 0x2407}},
        {"\x1b[2J", {0x241B, '[', '2', 'J'}},
        {"a\tb\nc\r", {'a', 0x2409, 'b', 0x240A, 'c', 0x240D}},
        {"\x7f", {0x2421}},
        {"\xc2\x9b|\xc2\x85", {0xFFFD, '|', 0xFFFD}},           // C1, UTF-8 encoded
        {"\x9b|\xff", {0xFFFD, '|', 0xFFFD}},                   // stray bytes
        {"\xe2\x82!", {0xFFFD, 0xFFFD, '!'}},                   // truncated sequence
        {"\xc0\xaf", {0xFFFD, 0xFFFD}},                         // overlong '/'
        {"\xed\xa0\x80", {0xFFFD, 0xFFFD, 0xFFFD}},             // UTF-16 surrogate
        {"\xf4\x90\x80\x80", {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}}, // past U+10FFFF
        {"a\u200bb\u202ec", {'a', 0xFFFD, 'b', 0xFFFD, 'c'}},   // invisible format characters
        {"é€", {0xE9, 0x20AC}},
    };
    for (const substitute_case& c : cases) {
        tb_clear();
        EXPECT_EQ(tb_print(0, 0, TB_DEFAULT, TB_DEFAULT, c.text.c_str()), 0) << c.text;
        tb_present();
        std::vector<uint32_t> drawn = code_points(0);
        drawn.resize(c.cells.size());
        EXPECT_EQ(drawn, c.cells) << c.text;
        EXPECT_EQ(tb_memory_cell(static_cast<int>(c.cells.size()), 0).ch, ' ') << c.text;
    }
}

TEST_F(TermMemory, SetCellSubstitutesAndClipsLikePrint) {
    EXPECT_EQ(tb_set_cell(0, 0, 0x1B, TB_DEFAULT, TB_DEFAULT), 0);
    EXPECT_EQ(tb_set_cell(1, 0, 0, TB_DEFAULT, TB_DEFAULT), 0);
    EXPECT_EQ(tb_set_cell(2, 0, 0x9B, TB_DEFAULT, TB_DEFAULT), 0);
    EXPECT_EQ(tb_set_cell(3, 0, 0x110000, TB_DEFAULT, TB_DEFAULT), 0);
    EXPECT_EQ(tb_set_cell(WIDTH - 1, 0, '>', TB_BLACK, TB_WHITE), 0);
    EXPECT_EQ(tb_set_cell(WIDTH - 1, 1, 0x6F22, TB_BLACK, TB_WHITE), TB_ERR_OUT_OF_BOUNDS);
    EXPECT_EQ(tb_set_cell(-1, 0, 'x', TB_DEFAULT, TB_DEFAULT), TB_ERR_OUT_OF_BOUNDS);
    EXPECT_EQ(tb_set_cell(WIDTH, 0, 'x', TB_DEFAULT, TB_DEFAULT), TB_ERR_OUT_OF_BOUNDS);
    EXPECT_EQ(tb_set_cell(0, HEIGHT, 'x', TB_DEFAULT, TB_DEFAULT), TB_ERR_OUT_OF_BOUNDS);
    tb_present();
    EXPECT_EQ(code_points(0), (std::vector<uint32_t>{0x241B, 0x2400, 0xFFFD, 0xFFFD, ' ', ' ', ' ',
                                                     ' ', ' ', '>'}));
    EXPECT_EQ(tb_memory_cell(WIDTH - 1, 1).ch, ' '); // the half that fits, blank
    EXPECT_EQ(tb_memory_cell(WIDTH - 1, 1).bg, TB_WHITE);
}

TEST_F(TermMemory, WideCharactersTakeTwoCellsAndBreakCleanly) {
    ASSERT_EQ(tb_print(0, 0, TB_RED, TB_DEFAULT, "漢字ab"), 0);
    tb_present();
    EXPECT_EQ(code_points(0),
              (std::vector<uint32_t>{0x6F22, 0, 0x5B57, 0, 'a', 'b', ' ', ' ', ' ', ' '}));
    EXPECT_EQ(tb_memory_cell_text(1, 0), "");

    // Overwriting either half of a wide character blanks the other half.
    tb_set_cell(1, 0, 'x', TB_DEFAULT, TB_DEFAULT);
    tb_set_cell(2, 0, 'y', TB_DEFAULT, TB_DEFAULT);
    tb_present();
    EXPECT_EQ(row(0), " xy ab");
    EXPECT_EQ(tb_memory_cell(0, 0).fg, TB_RED); // the blank keeps the old colours

    // The same through text, which takes another path for plain ASCII.
    tb_print(0, 1, TB_DEFAULT, TB_DEFAULT, "漢字漢");
    tb_print(1, 1, TB_DEFAULT, TB_DEFAULT, "ab");
    tb_print(5, 1, TB_DEFAULT, TB_DEFAULT, "é");
    tb_present();
    EXPECT_EQ(row(1), " ab  é");
}

TEST_F(TermMemory, CombiningMarksStayWithTheirCharacter) {
    ASSERT_EQ(tb_print(0, 0, TB_DEFAULT, TB_DEFAULT, "e\u0301x"), 0);
    ASSERT_EQ(tb_print(0, 1, TB_DEFAULT, TB_DEFAULT, "\u0301a"), 0);
    // The mark's character is cut at the left edge, and the mark with it.
    ASSERT_EQ(tb_print(-1, 2, TB_DEFAULT, TB_DEFAULT, "e\u0301x"), TB_ERR_OUT_OF_BOUNDS);
    // Marks after a character that exactly fills the row do not cut it.
    ASSERT_EQ(tb_print(WIDTH - 1, 2, TB_DEFAULT, TB_DEFAULT, "o\u0308"), 0);
    tb_present();
    EXPECT_EQ(tb_memory_cell_text(0, 0), "e\u0301");
    EXPECT_EQ(tb_memory_cell_text(1, 0), "x");
    EXPECT_EQ(tb_memory_cell_text(0, 1), "\u25CC\u0301"); // shown on a dotted circle
    EXPECT_EQ(tb_memory_cell_text(1, 1), "a");
    EXPECT_EQ(row(2), "x        o\u0308");
}

TEST_F(TermMemory, ClearResetsEveryCellAndPresentPublishes) {
    tb_print(0, 0, TB_BLACK | TB_BOLD, TB_WHITE, "abc");
    EXPECT_EQ(tb_memory_cell(0, 0).ch, ' '); // nothing is shown before tb_present
    tb_present();
    EXPECT_EQ(tb_memory_cell(0, 0).ch, 'a');
    EXPECT_EQ(tb_memory_cell(0, 0).fg, TB_BLACK | TB_BOLD);
    EXPECT_EQ(tb_memory_cell(0, 0).bg, TB_WHITE);
    tb_clear();
    tb_present();
    EXPECT_EQ(tb_memory_cell(0, 0).ch, ' ');
    EXPECT_EQ(tb_memory_cell(0, 0).fg, TB_DEFAULT);
    EXPECT_EQ(tb_memory_cell(0, 0).bg, TB_DEFAULT);
}

TEST_F(TermMemory, CursorIsSetWithinTheScreenAndHidden) {
    int x = 0, y = 0;
    tb_memory_cursor(&x, &y);
    EXPECT_EQ(x, -1); // hidden from the start
    EXPECT_EQ(tb_set_cursor(3, 2), 0);
    tb_memory_cursor(&x, &y);
    EXPECT_EQ(x, 3);
    EXPECT_EQ(y, 2);
    EXPECT_EQ(tb_set_cursor(WIDTH, 0), TB_ERR_OUT_OF_BOUNDS);
    tb_memory_cursor(&x, &y);
    EXPECT_EQ(x, 3); // unchanged
    EXPECT_EQ(tb_hide_cursor(), 0);
    tb_memory_cursor(&x, &y);
    EXPECT_EQ(x, -1);
    EXPECT_EQ(y, -1);
}

TEST_F(TermMemory, EventsComeInOrderAndResizeTakesEffectWhenRead) {
    tb_event event{};
    EXPECT_EQ(tb_peek_event(&event, 1000), TB_ERR_NO_EVENT); // no waiting on an empty queue

    tb_event key{};
    key.type = TB_EVENT_KEY;
    key.ch = 'q';
    tb_event resize{};
    resize.type = TB_EVENT_RESIZE;
    resize.w = 20;
    resize.h = 7;
    tb_memory_push_event(key);
    tb_memory_push_event(resize);
    tb_print(0, 0, TB_DEFAULT, TB_DEFAULT, "old");
    tb_present();

    ASSERT_EQ(tb_peek_event(&event, 0), 0);
    EXPECT_EQ(event.ch, 'q');
    EXPECT_EQ(tb_width(), WIDTH);
    ASSERT_EQ(tb_peek_event(&event, 0), 0);
    EXPECT_EQ(event.type, TB_EVENT_RESIZE);
    EXPECT_EQ(tb_width(), 20);
    EXPECT_EQ(tb_height(), 7);
    EXPECT_EQ(tb_memory_cell(0, 0).ch, ' ');
    EXPECT_EQ(tb_print(10, 6, TB_DEFAULT, TB_DEFAULT, "0123456789"), 0);
    EXPECT_EQ(tb_peek_event(&event, 0), TB_ERR_NO_EVENT);
}

TEST_F(TermMemory, InputModeKeepsOneEscapeHandling) {
    EXPECT_EQ(tb_set_input_mode(TB_INPUT_CURRENT), TB_INPUT_ESC);
    EXPECT_EQ(tb_set_input_mode(TB_INPUT_MOUSE), 0);
    EXPECT_EQ(tb_set_input_mode(TB_INPUT_CURRENT), TB_INPUT_ESC | TB_INPUT_MOUSE);
    EXPECT_EQ(tb_set_input_mode(TB_INPUT_ESC | TB_INPUT_ALT), 0);
    EXPECT_EQ(tb_set_input_mode(TB_INPUT_CURRENT), TB_INPUT_ESC);
}

} // namespace
