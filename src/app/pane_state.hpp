// What the preview pane holds: where it stands, what it shows and the
// command that makes it. The pane's work on the viewer is in pane.hpp.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/preview_source.hpp"
#include "config/config.hpp"
#include "term/sgr_filter.hpp"
#include "tree/path_tree.hpp"

namespace korvel {

struct pane_state {
    using clock = std::chrono::steady_clock;

    bool open = false;
    pane_side side = pane_side::AUTO;
    // Of the screen's width (beside) or of the tree area's rows (below).
    int percent = 50;
    // Empty: the built-in preview.
    std::string command;
    // Where the command's reader wakes the loop; -1 until the loop opens.
    int wake_fd = -1;

    // The entry whose preview is shown (or is being made); NO_ENTRY for none.
    entry_index shown = NO_ENTRY;
    std::vector<styled_line> lines;
    // Said in the pane's title row: a failure, or why the output stops.
    std::string note;
    int64_t top = 0;

    // The command's output so far, and the command while it runs.
    std::unique_ptr<sgr_filter> output;
    std::unique_ptr<preview_command> job;
    // The command waits to start until then, while `waiting`.
    bool waiting = false;
    clock::time_point start_at{};
    // When it started: after a while without output, the pane says so.
    clock::time_point started{};
    bool slow = false;
};

} // namespace korvel
