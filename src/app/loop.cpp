#include "app/loop.hpp"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "app/actions.hpp"
#include "app/commands.hpp"
#include "app/draw.hpp"
#include "app/pane.hpp"
#include "app/view.hpp"
#include "app/sliced_scans.hpp"
#include "app/help.hpp"

namespace korvel {

namespace {

// A key and a signal may both have asked; quitting outweighs suspending.
stop_kind pending_stop(const viewer& v, const session& s) {
    return std::max(v.stop, s.requested_stop());
}

void forget_stop(viewer& v, session& s) {
    v.stop = STOP_NONE;
    s.clear_stop_request();
}

// A drag belongs to the press that began it, and the terminal reports every
// cell it crosses: it acts like a click only where it reaches another row,
// so a pointer that slips sideways before the release does not click again.
bool drag_step_ignored(viewer& v, const tb_event& event) {
    if (event.type != TB_EVENT_MOUSE || event.key != TB_KEY_MOUSE_LEFT) return false;
    if (event.mod & TB_MOD_MOTION) {
        if (!v.pointer.on_tree || event.y == v.pointer.row) return true;
    } else {
        v.pointer.on_tree = !v.help.open;
    }
    v.pointer.row = event.y;
    return false;
}

// A slice of pending work between two looks for input: short enough that a
// key typed meanwhile is taken at once.
constexpr std::chrono::milliseconds WORK_SLICE{8};
// What a key typed ahead waits at most for the work of the keys before it
// (a jump, a marking, a filter entered) to finish.
constexpr std::chrono::milliseconds WORK_GRACE{40};

// Every frame shows the preview of the entry under the cursor, or the
// pane's wait for it.
outcome draw(viewer& v) {
    pane_follow_cursor(v);
    return redraw(v);
}

// Waits for and handles events until a stop is asked for or drawing fails.
// With work pending it only looks for events, and works while there are none.
outcome handle_events(viewer& v, session& s) {
    for (;;) {
        if (pending_stop(v, s) != STOP_NONE) return {};
        const bool busy = work_pending(v);
        tb_event event{};
        // Without work the wait ends only for the preview pane's own
        // deadlines, and only while one is pending.
        const int rc = tb_peek_event(&event, busy ? 0 : pane_wait_ms(v));
        if (rc == TB_ERR_POLL && tb_last_errno() == EINTR) continue;
        if (rc == TB_ERR_NO_EVENT) {
            // Woken by a signal or the preview's reader: a request, if any,
            // is seen above.
            s.drain_wakeups();
            bool changed = busy && run_work(v, WORK_SLICE);
            if (pane_tick(v)) changed = true;
            if (changed) {
                if (outcome drawn = draw(v); !drawn) return drawn;
            }
            continue;
        }
        if (rc != 0) return outcome::failuref("failed to poll termbox event: %s", tb_strerror(rc));

        const dispatch_result result = dispatch_event(v, event);
        if (result.mapped != nullptr) {
            // The command gets the machine to itself, and may change what
            // the preview showed.
            pane_stop(v);
            if (outcome back = run_command(v, s, *result.mapped); !back) return back;
            // A quit asked for while the command ran is the viewer's to act
            // on now, with the terminal not taken back; a suspend is not.
            if (s.requested_stop() == STOP_QUIT) return {};
            if (s.requested_stop() == STOP_SUSPEND) s.clear_stop_request();
            // The terminal may have changed size while the command had it.
            v.screen = s.terminal_size();
        }
        if (result.redraw || result.mapped != nullptr) {
            if (outcome drawn = draw(v); !drawn) return drawn;
        }
    }
}

} // namespace

dispatch_result dispatch_event(viewer& v, const tb_event& event) {
    if (event.type == TB_EVENT_RESIZE) {
        v.screen = {event.w, event.h};
        fit_to_screen(v);
        // The help's lines are wrapped to the width.
        if (v.help.open) {
            v.help.lines = help_listing(v);
            scroll_help(v, 0);
        }
        return {true, nullptr};
    }
    if (drag_step_ignored(v, event)) return {false, nullptr};
    settle_work(v, WORK_GRACE);
    if (v.help.open) {
        const action* a = action_for(v, event);
        return {a != nullptr && a->run(v, event), nullptr};
    }
    // A mapping replaces the built-in meaning of its key.
    if (event.type == TB_EVENT_KEY && !v.prompt.open) {
        if (const command* mapped = v.keys.find(key_of(event))) return {true, mapped};
    }
    // An Alt-key that nothing is bound to is ignored, at the prompt too
    // (which still redraws, as after every key there).
    if (const action* a = action_for(v, event)) return {a->run(v, event), nullptr};
    // Every key at the prompt redraws, whether or not it did anything.
    return {event.type == TB_EVENT_KEY && v.prompt.open, nullptr};
}

outcome run_viewer(viewer& v, session& s) {
    if (outcome opened = s.open_terminal(); !opened) return opened;
    v.pane.wake_fd = s.wake_write_fd();
    for (;;) {
        // The terminal may have changed size while the viewer was stopped.
        v.screen = s.terminal_size();
        fit_to_screen(v);
        show_current_path(v);
        if (!v.start_notice.empty()) v.status.show_error(std::exchange(v.start_notice, {}));
        outcome result = draw(v);
        if (result) result = handle_events(v, s);
        // A preview's command stops with the viewer, and is started again
        // when it comes back.
        pane_stop(v);
        if (pending_stop(v, s) != STOP_SUSPEND) return result;

        (void)s.close_terminal();
        s.stop_process();
        // A quit that came while stopped (`kill %1` sends SIGTERM and then
        // SIGCONT to a stopped job) ends the run now.
        if (s.requested_stop() == STOP_QUIT) return result;
        forget_stop(v, s);
        if (outcome back = s.reopen_terminal(); !back) return back;
    }
}

} // namespace korvel
