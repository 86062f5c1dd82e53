#include "korvel/help.hpp"

#include <algorithm>

#include "korvel/actions.hpp"

namespace {

constexpr int KEYS_COLUMN = 2;
constexpr size_t KEYS_WIDTH = 28;

void add_section(std::vector<std::string>& lines, const char* title, action_mode mode) {
    lines.push_back(title);
    for (const action& a : all_actions()) {
        if (a.mode != mode) continue;
        std::string keys;
        for (const trigger& t : a.triggers) {
            if (t.kind == trigger::NONE) continue;
            if (!keys.empty()) keys += ", ";
            keys += trigger_name(t);
        }
        std::string line(KEYS_COLUMN, ' ');
        line += keys;
        line.resize(std::max(line.size() + 2, KEYS_WIDTH), ' ');
        lines.push_back(line + a.description);
    }
    lines.emplace_back();
}

int64_t page() { return std::max(1, tb_height() - 1); }

int64_t last_top(const viewer& v) {
    return std::max<int64_t>(0, static_cast<int64_t>(help_lines(v).size()) - page());
}

} // namespace

std::vector<std::string> help_lines(const viewer& v) {
    std::vector<std::string> lines;
    add_section(lines, "In the tree", action_mode::NORMAL);
    add_section(lines, "At the prompt (/, ? and &)", action_mode::PROMPT);
    add_section(lines, "With the mouse, in the tree and at the prompt", action_mode::ANY);
    const std::vector<const command*> mapped = v.keys.bindings();
    if (!mapped.empty()) {
        lines.push_back("Mapped in the configuration (they come before the keys above)");
        for (const command* c : mapped) {
            std::string line(KEYS_COLUMN, ' ');
            line += trigger_name(trigger::character(static_cast<unsigned char>(c->key)));
            line.resize(KEYS_WIDTH, ' ');
            lines.push_back(line + c->text);
        }
    }
    return lines;
}

bool help_key(viewer& v, const tb_event& event) {
    int64_t& top = v.help.top;
    const int64_t before = top;
    auto scroll = [&](int64_t delta) { top = std::clamp<int64_t>(top + delta, 0, last_top(v)); };
    if (event.type == TB_EVENT_MOUSE) {
        if (event.key == TB_KEY_MOUSE_WHEEL_UP) scroll(-1);
        else if (event.key == TB_KEY_MOUSE_WHEEL_DOWN) scroll(1);
        else if (event.key == TB_KEY_MOUSE_LEFT) v.help.open = false;
        return top != before || !v.help.open;
    }
    if (event.type != TB_EVENT_KEY) return false;
    switch (event.key) {
    case TB_KEY_ARROW_DOWN: scroll(1); return true;
    case TB_KEY_ARROW_UP: scroll(-1); return true;
    case TB_KEY_PGDN:
    case TB_KEY_CTRL_F: scroll(page()); return true;
    case TB_KEY_PGUP:
    case TB_KEY_CTRL_B: scroll(-page()); return true;
    case TB_KEY_HOME: scroll(-top); return true;
    case TB_KEY_END: scroll(last_top(v)); return true;
    case 0: break;
    default: v.help.open = false; return true;
    }
    switch (event.ch) {
    case 'j': scroll(1); return true;
    case 'k': scroll(-1); return true;
    case ' ': scroll(page()); return true;
    case 'g': scroll(-top); return true;
    case 'G': scroll(last_top(v)); return true;
    default: v.help.open = false; return true;
    }
}

outcome draw_help(const viewer& v) {
    const std::vector<std::string> lines = help_lines(v);
    const int rows = tb_height() - 1;
    for (int y = 0; y < rows; ++y) {
        const size_t index = static_cast<size_t>(v.help.top + y);
        if (index >= lines.size()) break;
        const bool title = !lines[index].empty() && lines[index][0] != ' ';
        const int rc = tb_print(1, y, title ? TB_BOLD : TB_DEFAULT, TB_DEFAULT, lines[index].c_str());
        if (rc != 0 && rc != TB_ERR_OUT_OF_BOUNDS)
            return outcome::failuref("%s: %s", "failed to print help", tb_strerror(rc));
    }
    return {};
}
