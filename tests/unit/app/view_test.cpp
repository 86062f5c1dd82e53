#include <cstdio>
#include <string>

#include "app_fixture.hpp"

using namespace korvel;

namespace {

// n single-level entries, e00, e01, ..., named with two digits so that they
// sort in number order.
std::string flat_list(int n) {
    std::string text;
    for (int i = 0; i < n; ++i) {
        char line[16];
        snprintf(line, sizeof line, "e%02d\n", i);
        text += line;
    }
    return text;
}

class view : public app_fixture {};

TEST_F(view, MovesPastEitherEndAreRefusedWhole) {
    load(flat_list(5), 20, 4);
    v().status.show("untouched");
    move_cursor(v(), -1);
    EXPECT_EQ(cursor(), 0);
    EXPECT_EQ(status_text(), "untouched");
    move_cursor(v(), 4);
    EXPECT_EQ(cursor(), 4);
    EXPECT_EQ(status_text(), "e04");
    v().status.show("untouched");
    move_cursor(v(), 1);
    move_cursor(v(), -5);
    EXPECT_EQ(cursor(), 4);
    EXPECT_EQ(status_text(), "untouched");
}

TEST_F(view, CursorMovesScrollTheWindowOnlyAsFarAsNeeded) {
    load(flat_list(30), 20, 6); // five tree rows
    move_cursor_to(v(), 7);
    EXPECT_EQ(v().view.top, 3); // the cursor becomes the last tree row
    move_cursor_to(v(), 5);
    EXPECT_EQ(v().view.top, 3);
    move_cursor_to(v(), 1);
    EXPECT_EQ(v().view.top, 1); // and here the first
    move_cursor_to(v(), 29);
    EXPECT_EQ(v().view.top, 25);
}

TEST_F(view, ScrollViewKeepsTopWithinTheListAndMovesTheCursorBySameStep) {
    load(flat_list(30), 20, 6); // R = 5
    struct step {
        int32_t delta;
        int64_t top, cursor;
    } steps[] = {
        {5, 5, 5},    // a page down
        {2, 7, 7},    // half a page (R / 2)
        {100, 25, 7}, // too far for the cursor: the window still moves
        {1, 8, 8},    // the cursor, above the window, pulls it back
        {-100, 0, 8}, // refused for the cursor, floored for top
        {-1, 3, 7},   // top floored at 0, then the cursor pulls it down
    };
    for (const step& s : steps) {
        scroll_view(v(), s.delta);
        EXPECT_EQ(v().view.top, s.top) << s.delta;
        EXPECT_EQ(cursor(), s.cursor) << s.delta;
    }
}

TEST_F(view, ScrollAtTheLastPageMovesOnlyTheCursor) {
    load(flat_list(30), 20, 6); // R = 5
    move_cursor_to(v(), 29);
    move_cursor_to(v(), 26);
    ASSERT_EQ(v().view.top, 25);
    scroll_view(v(), 1);
    EXPECT_EQ(v().view.top, 25);
    EXPECT_EQ(cursor(), 27);
    scroll_view(v(), 5); // the cursor cannot move a whole page: it stays
    EXPECT_EQ(v().view.top, 25);
    EXPECT_EQ(cursor(), 27);
}

TEST_F(view, ShortListAlwaysKeepsTopAtZero) {
    load(flat_list(3), 20, 10);
    scroll_view(v(), 9);
    EXPECT_EQ(v().view.top, 0);
    EXPECT_EQ(cursor(), 0);
    scroll_view(v(), 1);
    EXPECT_EQ(v().view.top, 0);
    EXPECT_EQ(cursor(), 1);
}

TEST_F(view, CenterViewMayMakeTopNegativeAndMovesUpNeverLowerIt) {
    load(flat_list(30), 20, 21); // R = 20
    move_cursor_to(v(), 3);
    center_view(v());
    EXPECT_EQ(v().view.top, -7);
    EXPECT_EQ(cursor(), 3);
    move_cursor(v(), -1);
    EXPECT_EQ(v().view.top, -7);
    move_cursor_to(v(), 14); // past the last tree row: top = 14 - 20 + 1
    EXPECT_EQ(v().view.top, -5);
}

TEST_F(view, HorizontalScrollNeverGoesNegative) {
    load(flat_list(1), 20, 5);
    scroll_horizontally(v(), -4);
    EXPECT_EQ(v().view.hscroll, 0);
    scroll_horizontally(v(), 6);
    scroll_horizontally(v(), -4);
    EXPECT_EQ(v().view.hscroll, 2);
    scroll_horizontally(v(), -4);
    EXPECT_EQ(v().view.hscroll, 0);
}

TEST_F(view, GoToParentAndFolding) {
    load("a/b/c\na/d\ne\n", 20, 10);
    ASSERT_EQ(rows(), "a a/b a/b/c a/d e");
    move_cursor_to(v(), 2); // a/b/c
    EXPECT_TRUE(go_to_parent(v()));
    EXPECT_EQ(cursor(), 1);
    EXPECT_EQ(status_text(), "a/b");
    toggle_fold(v());
    EXPECT_EQ(rows(), "a a/b a/d e");
    EXPECT_FALSE(fold(v())); // already folded
    EXPECT_TRUE(go_to_parent(v()));
    toggle_fold(v());
    EXPECT_EQ(rows(), "a e");
    toggle_fold(v());
    EXPECT_EQ(rows(), "a a/b a/d e"); // b comes back folded
    v().status.show("untouched");
    EXPECT_FALSE(go_to_parent(v()));
    EXPECT_EQ(status_text(), "untouched");
}

TEST_F(view, ParentAboveTheWindowScrollsItIntoView) {
    load("d/1\nd/2\nd/3\nd/4\nd/5\nd/6\n", 20, 4); // R = 3
    move_cursor_to(v(), 6);
    ASSERT_EQ(v().view.top, 4);
    go_to_parent(v());
    EXPECT_EQ(cursor(), 0);
    EXPECT_EQ(v().view.top, 0);
}

TEST_F(view, OneRowTerminalHasNoTreeAreaButStillMoves) {
    load(flat_list(5), 20, 1);
    move_cursor_to(v(), 2);
    EXPECT_EQ(cursor(), 2);
    EXPECT_EQ(v().view.top, 0);
    v().view.top = 1;
    move_cursor_to(v(), 2);
    EXPECT_EQ(v().view.top, 3); // cursor + 1
}

} // namespace
