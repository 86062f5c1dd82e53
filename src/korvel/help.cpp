#include "korvel/help.hpp"

#include <algorithm>

#include "korvel/actions.hpp"
#include "korvel/view.hpp"

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

} // namespace

int64_t help_page() { return std::max(1, tree_rows()); }

int64_t help_last_top(const viewer& v) {
    return std::max<int64_t>(0, static_cast<int64_t>(help_lines(v).size()) - help_page());
}

std::vector<std::string> help_lines(const viewer& v) {
    std::vector<std::string> lines;
    add_section(lines, "In the tree", action_mode::NORMAL);
    add_section(lines, "At the prompt (/, ? and &)", action_mode::PROMPT);
    add_section(lines, "With the mouse, in the tree and at the prompt", action_mode::ANY);
    add_section(lines, "On this help screen", action_mode::HELP);
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

void scroll_help(viewer& v, int64_t delta) {
    v.help.top = std::clamp<int64_t>(v.help.top + delta, 0, help_last_top(v));
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
