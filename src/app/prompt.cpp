#include "app/prompt.hpp"

#include <string>

#include "app/filter.hpp"
#include "app/match_count.hpp"
#include "app/view.hpp"

namespace korvel {

namespace {

bool is_search(const viewer& v) { return v.prompt.kind != prompt_kind::FILTER; }

std::unique_ptr<search_pattern> compile_typed(viewer& v, int direction) {
    auto pattern = std::make_unique<search_pattern>();
    const std::string text(v.prompt.editor.text());
    if (outcome compiled = pattern->compile(text.c_str(), direction, v.tree.separator(), v.letter_case);
        !compiled) {
        v.prompt.problem = compiled.message();
        return nullptr;
    }
    return pattern;
}

// Where a search in the direction `step` starts, leaving out the cursor's
// row: backwards, that is before the first directory of a compact chain,
// which shares the row of the last.
uint64_t search_origin(const viewer& v, int step) {
    return step < 0 ? v.tree.chain_start(v.view.cursor) : v.view.cursor;
}

// Folds back what the search preview opened and puts the cursor and the
// window back where the prompt found them.
void undo_search_preview(viewer& v) {
    prompt_preview& preview = v.preview;
    preview.find.reset();
    if (!preview.unfolded.empty()) {
        // They were unfolded from the bottom up: the topmost that has a row
        // of its own (one in a compact chain has not) hides the others when
        // its row is folded, and theirs only need their flags.
        int64_t topmost_row = -1;
        for (auto it = preview.unfolded.rbegin(); it != preview.unfolded.rend() && topmost_row < 0; ++it)
            topmost_row = v.tree.row_of(*it);
        for (entry_index e : preview.unfolded) v.tree.set_folded(e, true);
        if (topmost_row >= 0) {
            v.tree.set_folded(v.tree.row_entry(static_cast<uint64_t>(topmost_row)), false);
            v.tree.fold_row(static_cast<uint64_t>(topmost_row));
        }
        preview.unfolded.clear();
    }
    v.view = v.origin->view;
    // The mouse may have folded the cursor away meanwhile.
    keep_cursor_visible(v);
    // The window was for a screen of another size.
    if (v.origin->rows != tree_rows(v)) fit_to_screen(v);
}

void preview_search(viewer& v) {
    undo_search_preview(v);
    v.preview.pattern.reset();
    if (v.prompt.editor.text().empty()) return;
    v.preview.pattern = compile_typed(v, v.prompt.direction());
    if (!v.preview.pattern) return;
    v.preview.find = std::make_unique<find_scan>(
        v.tree, *v.preview.pattern, search_origin(v, v.prompt.direction()), false,
        searched_entries(v));
}

// A longer plain word matches only what the shorter one matched: the scan
// need only look again at those.
bool narrows(const search_pattern& shown, const search_pattern& typed) {
    return shown.is_plain_substring() && typed.is_plain_substring() &&
           shown.matches_full_paths() == typed.matches_full_paths() &&
           shown.ignores_case() == typed.ignores_case() &&
           std::string_view(typed.query()).find(shown.query()) != std::string_view::npos;
}

void preview_filter(viewer& v) {
    v.preview.filter_scan.reset();
    v.preview.pattern.reset();
    if (v.prompt.editor.text().empty()) {
        remove_filter(v);
        return;
    }
    // While the text is not a pattern, the filter shown stays.
    v.preview.pattern = compile_typed(v, 1);
    if (!v.preview.pattern) return;
    v.preview.narrowing = v.filter.active() && narrows(*v.filter.pattern, *v.preview.pattern);
    v.preview.filter_scan = std::make_unique<match_scan>(
        v.tree, *v.preview.pattern, v.preview.narrowing ? &v.filter.matches : nullptr, true);
}

void close_prompt(viewer& v) {
    v.prompt.open = false;
    v.prompt.problem.clear();
    v.preview = {};
    v.origin.reset();
    show_current_path(v);
}

} // namespace

void open_prompt(viewer& v, prompt_kind kind) {
    // A new prompt starts from what is shown: a filter entered and still
    // being found is given up, so that nothing changes the tree under the
    // prompt's previews (Escape then leaves the filter shown as it was).
    v.entered = {};
    v.prompt.kind = kind;
    v.prompt.open = true;
    v.prompt.problem.clear();
    v.origin.emplace();
    v.origin->view = v.view;
    v.origin->rows = tree_rows(v);
    v.origin->folded = v.tree.folded_flags();
    if (v.filter.active()) {
        v.origin->filter.pattern = v.filter.pattern->copy();
        v.origin->filter.matches = v.filter.matches;
        v.origin->filter.kept = v.filter.kept;
        v.origin->filter.count = v.filter.count;
    }
}

void edit_prompt(viewer& v, rl_edit edit) {
    const std::string before(v.prompt.editor.text());
    v.prompt.editor.edit(edit);
    // Moving along the line or through the history to the same text changes
    // nothing to preview.
    if (v.prompt.editor.text() == before) return;
    v.prompt.problem.clear();
    if (is_search(v)) {
        preview_search(v);
    } else {
        preview_filter(v);
    }
}

void finish_search_preview(viewer& v) {
    const std::unique_ptr<find_scan> scan = std::move(v.preview.find);
    if (!scan->failure().ok()) {
        v.prompt.problem = scan->failure().message();
    } else if (scan->found() < 0) {
        v.prompt.problem = "Pattern not found";
    } else {
        const uint64_t row = v.tree.reveal(static_cast<uint64_t>(scan->found()), &v.preview.unfolded);
        move_cursor_to(v, static_cast<int64_t>(row));
    }
}

void finish_filter_preview(viewer& v) {
    std::unique_ptr<match_scan> scan = std::move(v.preview.filter_scan);
    if (!scan->failure().ok()) {
        v.prompt.problem = scan->failure().message();
    } else if (scan->count() == 0) {
        // An empty tree would leave nothing to stand on: the last filter
        // that matched stays shown.
        v.prompt.problem = "Pattern not found";
    } else {
        apply_filter(v, std::move(v.preview.pattern), *scan);
    }
}

void finish_entered_filter(viewer& v) {
    const std::unique_ptr<match_scan> scan = std::move(v.entered.scan);
    std::unique_ptr<search_pattern> pattern = std::move(v.entered.pattern);
    if (!scan->failure().ok()) {
        v.status.show_error(scan->failure().message());
    } else if (scan->count() == 0) {
        // As at the prompt: the filter shown stays.
        v.status.show_error("Pattern not found");
    } else {
        apply_filter(v, std::move(pattern), *scan);
        show_current_path(v);
    }
}

void submit_prompt(viewer& v) {
    const std::string text(v.prompt.editor.text());
    if (is_search(v)) {
        // The search runs from where the prompt opened, as if nothing had
        // been previewed.
        undo_search_preview(v);
        close_prompt(v);
        if (!text.empty()) {
            v.counted = {};
            if (outcome compiled = v.search.compile(text.c_str(), v.prompt.direction(),
                                                    v.tree.separator(), v.letter_case);
                !compiled) {
                v.status.show_error(compiled.message());
            } else {
                search_next(v, false);
            }
            restart_count(v);
        }
    } else {
        // What the typed text filters is what stays: a scan not through yet
        // goes on between events, and its filter takes the place of the one
        // shown when it ends.
        if (v.preview.filter_scan) {
            v.entered.pattern = std::move(v.preview.pattern);
            v.entered.scan = std::move(v.preview.filter_scan);
        }
        if (text.empty()) remove_filter(v);
        const std::string problem = v.prompt.problem;
        close_prompt(v);
        // The filter shown stays, and the bottom row says why the typed one
        // did not take its place.
        if (!problem.empty()) v.status.show_error(problem);
    }
    v.prompt.editor.edit(rl_edit{RL_SUBMIT, 0});
}

void cancel_prompt(viewer& v) {
    prompt_origin origin = std::move(*v.origin);
    v.preview = {};
    const bool filter_changed = v.filter.active() != origin.filter.active() ||
                                (v.filter.active() && v.filter.kept != origin.filter.kept);
    if (filter_changed) {
        v.tree.set_shown(nullptr);
        v.filter = std::move(origin.filter);
        if (v.filter.active()) v.tree.set_shown(&v.filter.kept);
    }
    v.tree.set_folded_flags(origin.folded);
    v.view = origin.view;
    keep_cursor_visible(v);
    if (origin.rows != tree_rows(v)) fit_to_screen(v);
    if (filter_changed) restart_count(v);
    v.origin.reset();
    close_prompt(v);
    v.prompt.editor.edit(rl_edit{RL_CANCEL, 0});
}

void search_next(viewer& v, bool reverse) {
    const uint64_t from = search_origin(v, reverse ? -v.search.direction() : v.search.direction());
    v.jump = std::make_unique<find_scan>(v.tree, v.search, static_cast<int64_t>(from), reverse,
                                         searched_entries(v));
}

void finish_jump(viewer& v) {
    const std::unique_ptr<find_scan> scan = std::move(v.jump);
    if (!scan->failure().ok()) {
        v.status.show_error(scan->failure().message());
    } else if (scan->found() < 0) {
        v.status.show_error("Pattern not found");
    } else {
        move_cursor_to(v, static_cast<int64_t>(v.tree.reveal(static_cast<uint64_t>(scan->found()))));
    }
}

} // namespace korvel
