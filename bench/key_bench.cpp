// Processor time from a key to its drawn frame, for the heavy keys, on a
// large list: each key goes through the event loop's dispatch and a full
// redraw, exactly as in the viewer.
//
//   key_bench [--runs N] [--only KEY,...] FILE
//
// On a terminal (run it under `script` to give it one) the real terminal
// layer draws; without one, the in-memory screen of 200x60 does. Output: one
// "key=milliseconds" line per key, the median of N runs.

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "app/draw.hpp"
#include "app/loop.hpp"
#include "app/marks.hpp"
#include "app/pane.hpp"
#include "app/picked.hpp"
#include "app/view.hpp"
#include "app/viewer.hpp"
#include "app/sliced_scans.hpp"
#include "tree/path_tree.hpp"
#include "plain_load.hpp"
#include "match/search.hpp"
#include "term/term.hpp"

using namespace korvel;

namespace {

double cpu_ms() {
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) * 1e-6;
}

tb_event key(uint16_t code) { return tb_event{TB_EVENT_KEY, 0, code, 0, 0, 0, 0, 0}; }
tb_event character(uint32_t ch) { return tb_event{TB_EVENT_KEY, 0, 0, ch, 0, 0, 0, 0}; }
tb_event resize() { return tb_event{TB_EVENT_RESIZE, 0, 0, 0, 0, 0, 0, 0}; }

// One key and the frame it asks for, with whatever work the key starts
// (a filter's scan, a search preview, a jump's walk, a filter entered, a
// marking and the count it waits for) carried to its end.
double time_event(viewer& v, const tb_event& event) {
    const double start = cpu_ms();
    bool draw = dispatch_event(v, event).redraw;
    while (v.preview.find || v.preview.filter_scan || v.jump || v.entered.scan || v.marking)
        draw = run_work(v, std::chrono::seconds(60)) || draw;
    if (draw) {
        // As the loop draws: an open preview pane follows the cursor first.
        pane_follow_cursor(v);
        if (outcome drawn = redraw(v); !drawn) {
            fprintf(stderr, "key_bench: %s\n", drawn.message().c_str());
            exit(1);
        }
    }
    return cpu_ms() - start;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The top-level entry with the most descendants.
uint64_t largest_top_level_row(const path_tree& tree) {
    uint64_t best_row = 0, best_size = 0;
    for (uint64_t row = 0; row < tree.row_count(); ++row) {
        const uint64_t index = tree.row_entry(row);
        const path_entry& e = tree.at(index);
        if (e.parent != NO_ENTRY) continue;
        if (e.subtree_end - index > best_size) {
            best_size = e.subtree_end - index;
            best_row = row;
        }
    }
    return best_row;
}

} // namespace

int main(int argc, char** argv) {
    setlocale(LC_CTYPE, "C.UTF-8");
    int runs = 7;
    const char* file = nullptr;
    // Names of the keys to time, comma-separated; empty: all of them.
    std::string only;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--runs") == 0 && i + 1 < argc) runs = atoi(argv[++i]);
        else if (strcmp(argv[i], "--only") == 0 && i + 1 < argc)
            only = "," + std::string(argv[++i]) + ",";
        else file = argv[i];
    }
    FILE* input = file ? fopen(file, "r") : nullptr;
    if (input == nullptr) {
        fprintf(stderr, "usage: key_bench [--runs N] [--only KEY,...] FILE\n");
        return 2;
    }
    input_lines lines;
    outcome loaded = get_lines(input, '/', lines);
    fclose(input);
    viewer v;
    if (loaded) {
        sort_lines(lines.items, lines.count, '/');
        loaded = build_path_tree(std::move(lines), '/', false, v.tree);
    }
    if (!loaded || v.tree.size() == 0) {
        fprintf(stderr, "key_bench: %s\n", loaded ? "empty input" : loaded.message().c_str());
        return 1;
    }

    const bool real_terminal = tb_init() == 0;
    if (!real_terminal) tb_init_memory(200, 60);
    v.screen = {tb_width(), tb_height()};
    show_current_path(v);
    (void)redraw(v);

    struct result {
        std::string name;
        double ms;
    };
    std::vector<result> results;
    // Each run sets the scene untimed, then times one key.
    auto measure = [&](const std::string& name, const tb_event& event,
                       const std::function<void()>& before = [] {}) {
        if (!only.empty() && only.find("," + name + ",") == std::string::npos) return;
        std::vector<double> times;
        for (int i = 0; i < runs; ++i) {
            before();
            times.push_back(time_event(v, event));
        }
        results.push_back({name, median(times)});
    };
    auto untimed = [&v](const tb_event& event) {
        return [&v, event] {
            if (dispatch_event(v, event).redraw) (void)redraw(v);
            while (work_pending(v)) run_work(v, std::chrono::seconds(60));
        };
    };
    // A sequence of keys, untimed, then the work they started finished.
    auto typed = [&v, untimed](const std::string& keys) {
        return [&v, keys, untimed] {
            for (const unsigned char c : keys)
                untimed(c == '\r' ? key(TB_KEY_ENTER) : c == 27 ? key(TB_KEY_ESC) : character(c))();
        };
    };

    measure("j", character('j'));
    measure("k", character('k'));
    measure("G", character('G'), untimed(character('g')));
    measure("g", character('g'), untimed(character('G')));
    measure("ctrl-f", key(TB_KEY_CTRL_F), untimed(character('g')));
    measure("resize", resize());

    // With the preview pane open: the built-in preview of the new entry is
    // made on the key; a preview command is stopped on it, one left running
    // before each run (it would start after a rest, and be stopped by the
    // next key), and the next one only waits to start.
    toggle_pane(v);
    measure("j-preview", character('j'));
    measure("k-preview", character('k'));
    v.pane.command = "sleep 10";
    const auto command_running = [&v] {
        pane_stop(v); // the preview is made anew, its command waiting to start
        pane_follow_cursor(v);
        v.pane.start_at = pane_state::clock::now();
        (void)pane_tick(v);
        if (!v.pane.job) {
            fprintf(stderr, "key_bench: the preview command did not start: %s\n",
                    v.pane.note.c_str());
            exit(1);
        }
    };
    measure("j-preview-command", character('j'), command_running);
    measure("k-preview-command", character('k'), command_running);
    toggle_pane(v);
    v.pane.command.clear();

    move_cursor_to(v, static_cast<int64_t>(largest_top_level_row(v.tree)));
    measure("fold-largest", key(TB_KEY_ENTER), [&v] { unfold(v); });
    measure("unfold-largest", key(TB_KEY_ENTER), [&v] { fold(v); });

    const char* patterns[][2] = {
        {"n-no-match-word", "zzqqxx"},
        {"n-no-match-regex", "zz.*qq"},
        {"n-no-match-full-path", "zz/qq"},
        {"n-no-match-full-path-regex", "sr.*/zzqq"},
    };
    for (const auto& p : patterns) {
        (void)v.search.compile(p[1], 1, '/');
        measure(p[0], character('n'), [&v] { move_cursor_to(v, 0); });
    }
    // The filter, typed at its prompt: each time is the last key of the
    // text to its frame, the tree narrowed. Each run starts from no filter.
    (void)v.search.compile("zzqqxx", 1, '/');
    const std::string reset = "\x1b&\r";
    measure("filter-word-first-key", character('l'), typed(reset + "&"));
    measure("filter-word", character('b'), typed(reset + "&li"));
    measure("filter-word-no-match", character('q'), typed(reset + "&zzq"));
    measure("filter-expression", character('b'), typed(reset + "&l.*i"));
    measure("filter-full-path-word", character('b'), typed(reset + "&/li"));
    measure("filter-remove", key(TB_KEY_ENTER), typed(reset + "&lib\r&"));
    measure("search-preview-no-match", character('q'), typed(reset + "/zzq"));
    // Most rows on the screen match: every drawn row runs the pattern.
    (void)v.search.compile("[a-z]", 1, '/');
    measure("redraw-with-pattern", resize());
    (void)v.search.compile("s.*/", 1, '/');
    measure("redraw-with-full-path-pattern", resize());
    v.search.clear();
    // Counts beside every directory cost nothing more: they are kept in the
    // entry table, not counted when drawn.
    measure("redraw", resize());
    v.show_counts = true;
    measure("redraw-with-counts", resize());
    v.show_counts = false;

    // The keys below belong to the tree, not to a prompt left open above.
    if (v.prompt.open) typed("\x1b")();
    // Marking every entry the view picks out, each run from no marks: all
    // of them without a search, then the matches of a name pattern and of a
    // full-path expression (one match of each entry, as 'n' over the list).
    // Unmarking is the same key with every one of them marked.
    v.search.clear();
    measure("mark-every-entry", character('v'), [&v] { clear_marks(v); });
    measure("unmark-every-entry", character('v'), [&v] {
        clear_marks(v);
        toggle_shown_marks(v);
    });
    // A search set here has no count of its matches: 'v' finds them itself.
    (void)v.search.compile("lib", 1, '/');
    v.counted = {};
    measure("mark-name-matches", character('v'), [&v] { clear_marks(v); });
    (void)v.search.compile("s.*/", 1, '/');
    v.counted = {};
    measure("mark-full-path-matches", character('v'), [&v] { clear_marks(v); });
    v.search.clear();
    // As a user meets them: a search typed and its matches counted between
    // keys, then a filter; each time is the 'v' alone.
    typed("/lib\r")();
    measure("mark-counted-search-matches", character('v'), [&v] { clear_marks(v); });
    typed("&lib\r")();
    measure("mark-filter-matches", character('v'), [&v] { clear_marks(v); });
    measure("unmark-filter-matches", character('v'), [&v] {
        clear_marks(v);
        toggle_shown_marks(v);
    });
    typed("&\r")();
    v.search.clear();

    // 'o' with a million marked paths (every entry on a smaller list): the
    // paths built and written, to /dev/null so that only korvel's part counts.
    clear_marks(v);
    const uint64_t printed = std::min<uint64_t>(v.tree.size(), 1'000'000);
    v.marks.resize(v.tree.size());
    for (uint64_t e = 0; e < printed; ++e) v.marks.insert(e * (v.tree.size() / printed));
    const int null = open("/dev/null", O_WRONLY);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double start = cpu_ms();
        if (outcome written = write_picked(v, null, '\n'); !written) {
            fprintf(stderr, "key_bench: %s\n", written.message().c_str());
            return 1;
        }
        times.push_back(cpu_ms() - start);
    }
    close(null);
    results.push_back({"print-" + std::to_string(v.marks.count()) + "-marked", median(times)});
    const uint64_t mark_bytes = v.marks.storage_bytes();

    tb_shutdown();
    printf("marks_bytes=%llu bits_per_entry=%.3f\n", static_cast<unsigned long long>(mark_bytes),
           8.0 * static_cast<double>(mark_bytes) / static_cast<double>(v.tree.size()));
    printf("entries=%llu backend=%s\n", static_cast<unsigned long long>(v.tree.size()),
           real_terminal ? "terminal" : "memory");
    for (const result& r : results) printf("%s=%.3f\n", r.name.c_str(), r.ms);
    return 0;
}
