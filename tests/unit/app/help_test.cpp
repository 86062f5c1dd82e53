// The help screen is made from the action table itself: every action, each
// key that runs it, then the configuration's keys.
#include <cstring>
#include <string>
#include <vector>

#include "app/actions.hpp"
#include "app/draw.hpp"
#include "app/help.hpp"
#include "app/loop.hpp"
#include "app_fixture.hpp"

using namespace korvel;

namespace {

tb_event key(uint16_t code) { return tb_event{TB_EVENT_KEY, 0, code, 0, 0, 0, 0, 0}; }
tb_event character(uint32_t ch) { return tb_event{TB_EVENT_KEY, 0, 0, ch, 0, 0, 0, 0}; }

// Text with every run of blanks and line ends made one blank: a description
// wrapped over rows reads the same, and a word cut in two does not.
std::string flowing(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const bool blank = c == ' ' || c == '\n';
        if (blank && (out.empty() || out.back() == ' ')) continue;
        out += blank ? ' ' : c;
    }
    return out;
}

class help : public app_fixture {
  protected:
    void send(const tb_event& event) {
        if (dispatch_event(v(), event).redraw) {
            ASSERT_TRUE(redraw(v()).ok());
        }
    }
    // Every line the screen shows while the help is scrolled from top to
    // bottom.
    std::string everything_shown() {
        std::string text;
        for (int page = 0; page < 100; ++page) {
            for (int y = 0; y + 1 < tb_height(); ++y) {
                for (int x = 0; x < tb_width(); ++x) text += tb_memory_cell_text(x, y);
                text += '\n';
            }
            const int64_t before = v().help.top;
            send(key(TB_KEY_PGDN));
            if (v().help.top == before) break;
        }
        return text;
    }
};

TEST_F(help, ListsEveryActionWithItsKeysAndTheMappedOnes) {
    load("a/b\n", 90, 12);
    v().keys.add('x', "printf '%s' \"$f\" | wc -c");
    send(key(TB_KEY_F1));
    ASSERT_TRUE(v().help.open);
    const std::string shown = everything_shown();
    for (const action& a : all_actions()) {
        SCOPED_TRACE(a.name);
        EXPECT_NE(flowing(shown).find(a.description), std::string::npos);
        for (const trigger& t : a.triggers) {
            if (t.kind != trigger::NONE) {
                EXPECT_NE(shown.find(trigger_name(t)), std::string::npos);
            }
        }
    }
    // The mapped command stands on a row of its own, after its key.
    const size_t command_at = shown.find("printf '%s' \"$f\" | wc -c");
    ASSERT_NE(command_at, std::string::npos);
    const size_t row_start = shown.rfind('\n', command_at) + 1;
    const std::string before_command = shown.substr(row_start, command_at - row_start);
    EXPECT_EQ(before_command.substr(0, before_command.find_last_not_of(' ') + 1), "   x");
    EXPECT_TRUE(v().help.open);
}

// At any width every description is there whole, its words never cut, and
// where descriptions stand beside their keys they start in one column.
TEST_F(help, WrapsDescriptionsAtWordsAndKeepsThemInOneColumn) {
    for (const int width : {90, 60, 50, 40, 30}) {
        SCOPED_TRACE(width);
        load("a/b\n", width, 12);
        send(key(TB_KEY_F1));
        const std::string shown = flowing(everything_shown());
        for (const action& a : all_actions()) {
            SCOPED_TRACE(a.name);
            EXPECT_NE(shown.find(std::string(" ") + a.description + " "), std::string::npos);
        }
        send(key(TB_KEY_ENTER));
        tb_shutdown();
    }
    load("a/b\n", 90, 12);
    send(key(TB_KEY_F1));
    std::vector<size_t> columns;
    for (const std::string& line : v().help.lines) {
        for (const char* description : {"  close the help", "  the help's first line", "  quit"}) {
            const size_t at = line.find(description);
            if (at != std::string::npos && at + strlen(description) == line.size())
                columns.push_back(at);
        }
    }
    ASSERT_EQ(columns.size(), 3u);
    EXPECT_EQ(columns[0], columns[1]);
    EXPECT_EQ(columns[1], columns[2]);
}

// The help shows the keys as bound, not as the table first had them.
TEST_F(help, ShowsTheKeysAsBound) {
    load("a/b\n", 90, 12);
    v().bindings.bind(key_press{0, 'J', false}, *action_named("cursor-down"));
    v().bindings.unbind(key_press{0, 'q', false});
    send(key(TB_KEY_F1));
    bool down = false, quit = false;
    for (const std::string& line : v().help.lines) {
        if (line.find("next row") != std::string::npos) {
            down = true;
            EXPECT_EQ(line.substr(0, line.find("  ", 2)), "  j, Down, Ctrl-N, J");
        }
        if (line.size() >= 6 && line.substr(line.size() - 6) == "  quit") {
            quit = true;
            EXPECT_EQ(line.substr(0, line.find("  ", 2)), "  Esc");
        }
    }
    EXPECT_TRUE(down && quit);
}

TEST_F(help, ScrollsWithinItsLinesAndAnyOtherKeyClosesIt) {
    load("a/b\n", 60, 6);
    send(character('H'));
    const int64_t last = static_cast<int64_t>(v().help.lines.size()) - (tb_height() - 1);
    send(character('G'));
    EXPECT_EQ(v().help.top, last);
    send(character('j'));
    EXPECT_EQ(v().help.top, last); // not past the end
    send(character('g'));
    send(key(TB_KEY_ARROW_UP));
    EXPECT_EQ(v().help.top, 0); // nor before the start
    send(character('j'));
    EXPECT_EQ(v().help.top, 1);
    // Any other key closes it and does nothing else: q does not quit.
    send(character('q'));
    EXPECT_FALSE(v().help.open);
    EXPECT_EQ(v().stop, STOP_NONE);
    send(character('j'));
    EXPECT_EQ(cursor(), 1);
}

} // namespace
