// The event loop's dispatch on the in-memory screen: keys, the mouse,
// resizes and the prompt, each followed by the frame it asks for.
#include <string>
#include <vector>

#include "app/actions.hpp"
#include "app/draw.hpp"
#include "app/loop.hpp"
#include "app/sliced_scans.hpp"
#include "app_fixture.hpp"
#include "app/actions.hpp"
#include "app/draw.hpp"
#include "app/loop.hpp"
#include "app/prompt.hpp"
#include "app/sliced_scans.hpp"

using namespace korvel;

namespace {

tb_event key(uint16_t code) { return tb_event{TB_EVENT_KEY, 0, code, 0, 0, 0, 0, 0}; }
tb_event character(uint32_t ch) { return tb_event{TB_EVENT_KEY, 0, 0, ch, 0, 0, 0, 0}; }
tb_event mouse(uint16_t button, int y) { return tb_event{TB_EVENT_MOUSE, 0, button, 0, 0, 0, 0, y}; }
tb_event drag(int x, int y) {
    return tb_event{TB_EVENT_MOUSE, TB_MOD_MOTION, TB_KEY_MOUSE_LEFT, 0, 0, 0, x, y};
}
tb_event resize(int w, int h) { return tb_event{TB_EVENT_RESIZE, 0, 0, 0, w, h, 0, 0}; }

// Sorted, this is: a, a/1, a/2, b, b/c, b/c/d, e.
const char* const TREE = "a/1\na/2\nb/c/d\ne\n";

class dispatch : public app_fixture {
  protected:
    void SetUp() override {
        load(TREE, 30, 6);
        show_current_path(v());
        ASSERT_TRUE(redraw(v()).ok());
    }

    // The event as the terminal hands it over (a resize takes effect then),
    // dispatched, and drawn when it asks to be, with the work it starts done
    // as the loop does it when no key follows. Returns whether it drew.
    bool send(const tb_event& event) {
        tb_memory_push_event(event);
        tb_event taken{};
        EXPECT_EQ(tb_peek_event(&taken, 0), 0);
        const dispatch_result result = dispatch_event(v(), taken);
        EXPECT_EQ(result.mapped, nullptr);
        bool drew = result.redraw;
        while (work_pending(v())) drew = run_work(v(), std::chrono::seconds(10)) || drew;
        if (drew) {
            EXPECT_TRUE(redraw(v()).ok());
        }
        return drew;
    }
    bool type(const std::string& text) {
        bool drew = true;
        for (const unsigned char c : text) drew = send(character(c)) && drew;
        return drew;
    }

    static std::string screen_row(int y) {
        std::string text;
        for (int x = 0; x < tb_width(); ++x) text += tb_memory_cell_text(x, y);
        text.erase(text.find_last_not_of(' ') + 1);
        return text;
    }
    static std::vector<std::string> tree_area() {
        std::vector<std::string> rows;
        for (int y = 0; y + 1 < tb_height(); ++y) rows.push_back(screen_row(y));
        return rows;
    }
    static std::string status_row() { return screen_row(tb_height() - 1); }
    // What the status row reads with this text, position counter, and
    // indicators left of the counter.
    static std::string status_of(const std::string& text, const std::string& counter,
                                 const std::string& indicators = "") {
        std::string row = " " + text;
        std::string right = indicators.empty() ? counter : indicators + "     " + counter;
        row.resize(static_cast<size_t>(tb_width()) - right.size() - 1, ' ');
        return row + right;
    }
};

TEST_F(dispatch, KeysMoveFoldAndScroll) {
    const struct {
        std::string keys;
        std::vector<std::string> rows; // the tree area afterwards
        std::string status;
    } steps[] = {
        {"j", {"▼ a", "  • 1", "  • 2", "▼ b", "  ▼ c"}, status_of("a/1", "2/7")},
        {"G", {"  • 2", "▼ b", "  ▼ c", "    • d", "• e"}, status_of("e", "7/7")},
        {"kk", {"  • 2", "▼ b", "  ▼ c", "    • d", "• e"}, status_of("b/c", "5/7")},
        {"\r", {"  • 2", "▼ b", "  ▶ c", "• e", ""}, status_of("b/c", "5/7")},
        {"p ", {"▼ a", "  • 1", "  • 2", "▶ b", "• e"}, status_of("e", "7/7")},
        {"g", {"▼ a", "  • 1", "  • 2", "▶ b", "• e"}, status_of("a", "1/7")},
        {"c", {"▶ a", "▶ b", "• e", "", ""}, status_of("a", "1/7")},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.keys);
        for (const unsigned char c : step.keys)
            send(c == '\r' ? key(TB_KEY_ENTER) : character(c));
        EXPECT_EQ(tree_area(), step.rows);
        EXPECT_EQ(status_row(), step.status);
    }
}

TEST_F(dispatch, UnboundKeysDrawNothingAndParentOfATopLevelEntryToo) {
    EXPECT_FALSE(send(character('x')));
    EXPECT_FALSE(send(key(TB_KEY_CTRL_C)));
    EXPECT_FALSE(send(character('p'))); // a has no parent
    EXPECT_FALSE(send(mouse(TB_KEY_MOUSE_RIGHT, 0)));
    EXPECT_TRUE(send(character('j')));
}

TEST_F(dispatch, QuitSuspendAndChoose) {
    send(character('j'));
    send(character('o'));
    EXPECT_EQ(v().stop, STOP_QUIT);
    EXPECT_TRUE(v().chosen);
    v().stop = STOP_NONE;
    send(key(TB_KEY_CTRL_Z));
    EXPECT_EQ(v().stop, STOP_SUSPEND);
    v().stop = STOP_NONE;
    send(key(TB_KEY_ESC));
    EXPECT_EQ(v().stop, STOP_QUIT);
}

TEST_F(dispatch, MouseSelectsFoldsAndScrolls) {
    EXPECT_TRUE(send(mouse(TB_KEY_MOUSE_LEFT, 3))); // b
    EXPECT_EQ(tree_area(), (std::vector<std::string>{"▼ a", "  • 1", "  • 2", "▶ b", "• e"}));
    EXPECT_EQ(cursor(), 3);
    // The status row, and a row below the last entry, take no click.
    EXPECT_FALSE(send(mouse(TB_KEY_MOUSE_LEFT, 5)));
    send(mouse(TB_KEY_MOUSE_LEFT, 0)); // a folds: e moves up to row 2
    EXPECT_FALSE(send(mouse(TB_KEY_MOUSE_LEFT, 4)));
    EXPECT_TRUE(send(mouse(TB_KEY_MOUSE_WHEEL_DOWN, 0)));
    EXPECT_EQ(cursor(), 1);
    EXPECT_TRUE(send(mouse(TB_KEY_MOUSE_WHEEL_UP, 0)));
    EXPECT_EQ(cursor(), 0);
}

TEST_F(dispatch, DragActsOnlyWhereItReachesAnotherRowAndOnlyForTheTreesPress) {
    const std::vector<std::string> a_folded{"▶ a", "▼ b", "  ▼ c", "    • d", "• e"};
    EXPECT_TRUE(send(mouse(TB_KEY_MOUSE_LEFT, 0)));
    EXPECT_EQ(tree_area(), a_folded);
    // The pointer slips along the row: the press has acted already.
    EXPECT_FALSE(send(drag(1, 0)));
    EXPECT_FALSE(send(drag(7, 0)));
    EXPECT_EQ(tree_area(), a_folded);
    // On to the next row, and back: each a click.
    EXPECT_TRUE(send(drag(7, 1)));
    EXPECT_EQ(tree_area(), (std::vector<std::string>{"▶ a", "▶ b", "• e", "", ""}));
    EXPECT_FALSE(send(drag(2, 1)));
    EXPECT_TRUE(send(drag(2, 0)));
    EXPECT_EQ(tree_area(), (std::vector<std::string>{"▼ a", "  • 1", "  • 2", "▶ b", "• e"}));
    // A press that closes the help begins no drag in the tree.
    send(character('H'));
    EXPECT_TRUE(send(mouse(TB_KEY_MOUSE_LEFT, 1)));
    EXPECT_FALSE(v().help.open);
    EXPECT_FALSE(send(drag(0, 2)));
    EXPECT_FALSE(send(drag(0, 3)));
    EXPECT_EQ(tree_area(), (std::vector<std::string>{"▼ a", "  • 1", "  • 2", "▶ b", "• e"}));
    EXPECT_EQ(cursor(), 0);
}

TEST_F(dispatch, ResizeKeepsTheCursorOnTheScreenAndFillsTheRows) {
    send(character('G')); // the window from a/2 down to e
    // Shrunk below the cursor's row: the window follows it.
    EXPECT_TRUE(send(resize(12, 3)));
    EXPECT_EQ(tb_width(), 12);
    EXPECT_EQ(tree_area(), (std::vector<std::string>{"    • d", "• e"}));
    EXPECT_EQ(status_row(), status_of("e", "7/7"));
    // Grown with entries above the window: it comes up to show them.
    EXPECT_TRUE(send(resize(30, 10)));
    EXPECT_EQ(tree_area(), (std::vector<std::string>{"▼ a", "  • 1", "  • 2", "▼ b", "  ▼ c",
                                                     "    • d", "• e", "", ""}));
    send(character('k'));
    EXPECT_TRUE(send(resize(12, 3)));
    EXPECT_EQ(tree_area(), (std::vector<std::string>{"  ▼ c", "    • d"}));
    EXPECT_TRUE(send(resize(1, 1)));
    EXPECT_TRUE(send(character('g')));
    EXPECT_EQ(status_row(), "");
}

TEST_F(dispatch, WindowThePromptGoesBackToFitsTheScreenResizedMeanwhile) {
    send(character('G'));
    for (const tb_event& back : {character('x'), key(TB_KEY_ESC)}) {
        send(resize(30, 6));
        send(character('/'));
        type("q"); // found nowhere: the cursor stays on e
        EXPECT_TRUE(send(resize(12, 3)));
        EXPECT_EQ(tree_area(), (std::vector<std::string>{"    • d", "• e"}));
        // Typing goes back to the window the prompt opened on, and so does
        // Escape: as it would show on this screen.
        send(back);
        EXPECT_EQ(tree_area(), (std::vector<std::string>{"    • d", "• e"}));
        if (back.key != TB_KEY_ESC) send(key(TB_KEY_ESC));
    }
}

TEST_F(dispatch, SearchFollowsTheTypedTextAndEnterConfirmsIt) {
    EXPECT_TRUE(send(character('/')));
    EXPECT_TRUE(type("dx"));
    // Nothing to go to: the cursor stays, and the prompt says so.
    EXPECT_EQ(status_row(), status_of("/dx  Pattern not found", "1/7"));
    int x = 0, y = 0;
    tb_memory_cursor(&x, &y);
    EXPECT_EQ(x, 4);
    EXPECT_EQ(y, 5);
    // A key that edits nothing still draws; Backspace edits, and the cursor
    // goes to the match that Enter would reach.
    EXPECT_TRUE(send(key(TB_KEY_CTRL_Z)));
    EXPECT_TRUE(send(key(TB_KEY_BACKSPACE2)));
    EXPECT_EQ(status_row(), status_of("/d", "6/7"));
    EXPECT_EQ(cursor(), 5);
    EXPECT_TRUE(send(key(TB_KEY_ARROW_LEFT)));
    tb_memory_cursor(&x, &y);
    EXPECT_EQ(x, 2);
    // The mouse acts on the tree; the prompt keeps its row.
    EXPECT_TRUE(send(mouse(TB_KEY_MOUSE_WHEEL_UP, 0)));
    EXPECT_EQ(status_row(), status_of("/d", "5/7"));
    EXPECT_EQ(v().stop, STOP_NONE);
    // Enter searches from where the prompt opened and closes it; the match's
    // rank among all matches is counted.
    EXPECT_TRUE(send(key(TB_KEY_ENTER)));
    EXPECT_FALSE(v().prompt.open);
    EXPECT_EQ(status_row(), status_of("b/c/d", "6/7", "match 1/1"));
    tb_memory_cursor(&x, &y);
    EXPECT_EQ(x, -1);
    send(character('n'));
    EXPECT_EQ(status_row(), status_of("Pattern not found", "6/7"));
    // Escape goes back to where the prompt found everything: the cursor, and
    // the folds the preview opened.
    send(character('g'));
    send(character('c')); // a folded
    send(character('/'));
    type("1");
    EXPECT_EQ(cursor(), 1); // a opened to show a/1
    send(key(TB_KEY_ESC));
    EXPECT_EQ(tree_area(), (std::vector<std::string>{"▶ a", "▼ b", "  ▼ c", "    • d", "• e"}));
    EXPECT_EQ(status_row(), status_of("a", "1/7"));
    // The search in force is still the one entered.
    send(character('n'));
    EXPECT_EQ(status_row(), status_of("b/c/d", "6/7", "match 1/1"));
}

// A jump walks between events, not inside its key: the key returns at once
// and the loop's slices bring the cursor to the match. A key typed ahead
// lets it arrive first, for a while; after that the walk is abandoned.
TEST_F(dispatch, JumpsWalkBetweenEventsAndGiveWayToTheNextKey) {
    ASSERT_TRUE(v().search.compile("d", 1, '/').ok());
    const dispatch_result result = dispatch_event(v(), character('n'));
    EXPECT_TRUE(result.redraw);
    EXPECT_TRUE(work_pending(v()));
    EXPECT_EQ(cursor(), 0);
    // Typed ahead: the jump arrives, then 'k' moves up from there.
    EXPECT_TRUE(send(character('k')));
    EXPECT_FALSE(work_pending(v()));
    EXPECT_EQ(cursor(), 4);
    // Out of time: nothing more comes of the jump.
    send(character('g'));
    dispatch_event(v(), character('n'));
    settle_work(v(), std::chrono::milliseconds(0));
    EXPECT_FALSE(work_pending(v()));
    EXPECT_EQ(cursor(), 0);
    send(character('n'));
    EXPECT_EQ(status_row(), status_of("b/c/d", "6/7"));
    send(character('N'));
    EXPECT_EQ(status_row(), status_of("Pattern not found", "6/7"));
}

// A filter's Enter does not wait for its scan: the prompt closes at once,
// the bottom row says the filter is being found, and the filter takes effect
// when the scan ends. A key typed ahead lets it do so first, for a while;
// after that the scan goes on and the keys act on the tree as it is shown.
TEST_F(dispatch, FilterEnteredTakesEffectWhenItsScanEnds) {
    auto enter_unscanned = [&](const std::string& text) {
        dispatch_event(v(), character('&'));
        for (const unsigned char c : text) dispatch_event(v(), character(c));
        const dispatch_result result = dispatch_event(v(), key(TB_KEY_ENTER));
        EXPECT_TRUE(result.redraw);
        EXPECT_FALSE(v().prompt.open);
        EXPECT_TRUE(work_pending(v()));
        EXPECT_TRUE(redraw(v()).ok());
    };
    enter_unscanned("d");
    EXPECT_FALSE(v().filter.active());
    EXPECT_EQ(status_row(), status_of("a", "1/7", "filtering"));
    // Typed ahead: the filter comes first, and G goes to its last row.
    send(character('G'));
    EXPECT_EQ(tree_area(), (std::vector<std::string>{"▼ b", "  ▼ c", "    • d", "", ""}));
    EXPECT_EQ(status_row(), status_of("b/c/d", "6/7", "filter 1"));

    // Out of time: the keys act on the tree shown until the filter comes.
    enter_unscanned("^[1e]$");
    settle_work(v(), std::chrono::milliseconds(0));
    EXPECT_TRUE(work_pending(v()));
    EXPECT_EQ(tree_area(), (std::vector<std::string>{"▼ b", "  ▼ c", "    • d", "", ""}));
    while (work_pending(v())) run_work(v(), std::chrono::seconds(10));
    EXPECT_TRUE(redraw(v()).ok());
    EXPECT_EQ(tree_area(), (std::vector<std::string>{"▼ a", "  • 1", "• e", "", ""}));
    EXPECT_EQ(status_row(), status_of("e", "7/7", "filter 2"));

    // Nothing found: the filter shown stays, and the bottom row says why.
    enter_unscanned("zz");
    while (work_pending(v())) run_work(v(), std::chrono::seconds(10));
    EXPECT_TRUE(redraw(v()).ok());
    EXPECT_EQ(tree_area(), (std::vector<std::string>{"▼ a", "  • 1", "• e", "", ""}));
    EXPECT_EQ(status_row(), status_of("Pattern not found", "7/7"));
    EXPECT_EQ(v().filter.count, 2u);

    // A prompt opened meanwhile gives the filter up: Escape leaves the one
    // shown before.
    enter_unscanned("d");
    settle_work(v(), std::chrono::milliseconds(0));
    open_prompt(v(), prompt_kind::SEARCH_FORWARD);
    EXPECT_FALSE(work_pending(v()));
    send(key(TB_KEY_ESC));
    EXPECT_EQ(tree_area(), (std::vector<std::string>{"▼ a", "  • 1", "• e", "", ""}));
    EXPECT_EQ(status_row(), status_of("e", "7/7", "filter 2"));
}

TEST_F(dispatch, FilterNarrowsAsItIsTypedAndEscapeRestores) {
    send(key(TB_KEY_ENTER)); // a folded: the filter opens what it must
    EXPECT_TRUE(send(character('&')));
    type("d");
    EXPECT_EQ(tree_area(), (std::vector<std::string>{"▼ b", "  ▼ c", "    • d", "", ""}));
    EXPECT_EQ(status_row(), status_of("&d", "4/7", "filter 1"));
    type("q"); // no match: the last filter that matched stays
    EXPECT_EQ(tree_area(), (std::vector<std::string>{"▼ b", "  ▼ c", "    • d", "", ""}));
    EXPECT_EQ(status_row(), status_of("&dq  Pattern not found", "4/7"));
    send(key(TB_KEY_BACKSPACE2));
    send(key(TB_KEY_BACKSPACE2));
    type("(");
    EXPECT_EQ(tree_area(), (std::vector<std::string>{"▶ a", "▼ b", "  ▼ c", "    • d", "• e"}));
    EXPECT_NE(status_row().find("regex failed"), std::string::npos) << status_row();
    send(key(TB_KEY_ESC));
    EXPECT_EQ(tree_area(), (std::vector<std::string>{"▶ a", "▼ b", "  ▼ c", "    • d", "• e"}));
    EXPECT_EQ(status_row(), status_of("a", "1/7"));

    // Enter keeps it; every key then works on what is shown.
    send(character('&'));
    type("1|e");
    send(key(TB_KEY_ENTER));
    EXPECT_EQ(tree_area(), (std::vector<std::string>{"▼ a", "  • 1", "• e", "", ""}));
    EXPECT_EQ(status_row(), status_of("a", "1/7", "filter 2"));
    send(character('G'));
    EXPECT_EQ(status_row(), status_of("e", "7/7", "filter 2"));
    send(character('/'));
    type("[a-z]");
    send(key(TB_KEY_ENTER));
    send(character('N'));
    EXPECT_EQ(status_row(), status_of("a", "1/7", "match 1/2  filter 2")); // b and c are not shown
    // An empty filter removes it; the cursor stays on its entry.
    send(character('&'));
    send(key(TB_KEY_ENTER));
    EXPECT_EQ(tree_area(), (std::vector<std::string>{"▼ a", "  • 1", "  • 2", "▼ b", "  ▼ c"}));
    EXPECT_EQ(status_row(), status_of("a", "1/7", "match 1/5"));
}

// The window follows the cursor when a filter comes and goes: the entry
// under the cursor is always on the screen, and removing the filter leaves
// it on the screen row it stood on.
TEST_F(dispatch, FilterKeepsTheCursorOnTheScreen) {
    std::string list;
    for (int i = 0; i < 40; ++i) list += "d/f" + std::to_string(100 + i) + "\n";
    tb_shutdown(); // the fixture opened a screen for its own tree
    load(list, 40, 6); // five tree rows: d and four of its entries
    auto on_screen = [&] { return cursor() >= v().view.top && cursor() < v().view.top + 5; };
    send(character('G'));
    ASSERT_EQ(cursor(), 40);
    // Narrowed to rows above the window: it comes back to them.
    send(character('&'));
    type("f10[12]");
    EXPECT_TRUE(on_screen()) << "cursor row " << cursor() << ", top " << v().view.top;
    send(key(TB_KEY_ENTER));
    EXPECT_EQ(tree_area(), (std::vector<std::string>{"▼ d", "  • f101", "  • f102", "", ""}));
    send(character('G'));
    EXPECT_EQ(status_row(), status_of("d/f102", "4/41", "filter 2"));
    // Removed: f102, row 3 of the whole tree, stays on screen row 2.
    send(character('&'));
    send(key(TB_KEY_ENTER));
    EXPECT_TRUE(on_screen()) << "cursor row " << cursor() << ", top " << v().view.top;
    EXPECT_EQ(cursor() - v().view.top, 2);
    EXPECT_EQ(status_row(), status_of("d/f102", "4/41"));
}

TEST_F(dispatch, FoldAndUnfoldEverything) {
    send(character('G'));
    EXPECT_TRUE(send(character('-')));
    EXPECT_EQ(tree_area(), (std::vector<std::string>{"▶ a", "▶ b", "• e", "", ""}));
    send(character('k'));
    EXPECT_TRUE(send(character('+')));
    EXPECT_EQ(tree_area(), (std::vector<std::string>{"▼ a", "  • 1", "  • 2", "▼ b", "  ▼ c"}));
    EXPECT_EQ(status_row(), status_of("b", "4/7"));
    send(character('j'));
    send(character('j'));
    send(character('-')); // the cursor, on d, goes up to b
    EXPECT_EQ(status_row(), status_of("b", "4/7"));
}

TEST_F(dispatch, MappedKeysComeFirstInTheTreeButNotAtThePrompt) {
    v().keys.add('j', "echo mapped");
    const dispatch_result mapped = dispatch_event(v(), character('j'));
    ASSERT_NE(mapped.mapped, nullptr);
    EXPECT_EQ(std::string(mapped.mapped->text), "echo mapped");
    EXPECT_EQ(cursor(), 0);
    // Special keys and characters from 0x80 up never match a mapping.
    EXPECT_EQ(dispatch_event(v(), key(TB_KEY_ARROW_DOWN)).mapped, nullptr);
    send(character('/'));
    EXPECT_EQ(dispatch_event(v(), character('j')).mapped, nullptr);
    EXPECT_EQ(v().prompt.editor.text(), "j");
}

// Every trigger in the table reaches its own action: no key is taken twice
// within a mode.
TEST_F(dispatch, EveryTriggerRunsItsOwnAction) {
    for (const action& a : all_actions()) {
        for (const trigger& t : a.triggers) {
            if (t.kind == trigger::NONE) continue;
            SCOPED_TRACE(std::string(a.name) + " by " + trigger_name(t));
            v().prompt.open = a.mode == action_mode::PROMPT;
            v().help.open = a.mode == action_mode::HELP;
            tb_event event{};
            switch (t.kind) {
            case trigger::KEY: event = key(static_cast<uint16_t>(t.code)); break;
            case trigger::CHARACTER: event = character(t.code); break;
            case trigger::ANY_CHARACTER: event = character(0x4E2D); break;
            case trigger::ANY_KEY: event = character('q'); break;
            case trigger::MOUSE: event = mouse(static_cast<uint16_t>(t.code), 0); break;
            case trigger::NONE: break;
            }
            EXPECT_EQ(action_for(v(), event), &a);
            EXPECT_FALSE(trigger_name(t).empty());
        }
    }
}

} // namespace
