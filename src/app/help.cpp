#include "app/help.hpp"

#include <algorithm>

#include "app/view.hpp"
#include "term/term.hpp"

namespace korvel {

// The help covers the whole screen, the preview pane too.
int64_t help_page(const viewer& v) { return std::max(1, v.screen.height - 1); }

int64_t help_last_top(const viewer& v) {
    return std::max<int64_t>(0, static_cast<int64_t>(v.help.lines.size()) - help_page(v));
}

void scroll_help(viewer& v, int64_t delta) {
    v.help.top = std::clamp<int64_t>(v.help.top + delta, 0, help_last_top(v));
}

outcome draw_help(const viewer& v, term_cells::grid& frame) {
    const std::vector<std::string>& lines = v.help.lines;
    const int rows = v.screen.height - 1;
    for (int y = 0; y < rows; ++y) {
        const size_t index = static_cast<size_t>(v.help.top + y);
        if (index >= lines.size()) break;
        const bool title = !lines[index].empty() && lines[index][0] != ' ';
        const int rc = frame.print(1, y, title ? TB_BOLD : TB_DEFAULT, TB_DEFAULT, lines[index].c_str());
        if (rc != 0 && rc != TB_ERR_OUT_OF_BOUNDS)
            return outcome::failuref("%s: %s", "failed to print help", tb_strerror(rc));
    }
    return {};
}

} // namespace korvel
