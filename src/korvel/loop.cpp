#include "korvel/loop.hpp"

#include <cerrno>
#include <csignal>
#include <cstdint>

#include "korvel/app.hpp"
#include "korvel/clipboard.hpp"
#include "korvel/commands.hpp"
#include "korvel/draw.hpp"
#include "korvel/prompt.hpp"
#include "korvel/startup.hpp"
#include "korvel/status.hpp"
#include "korvel/view.hpp"

int input_mode = MODE_NORMAL;

namespace {

constexpr int POLL_MS = 10;

int screen_height() { return tb_height(); }

// Each action returns whether the screen must be drawn again.
bool page_back() { return scroll_view(1 - screen_height()), true; }
bool half_page_down() { return scroll_view((screen_height() - 1) / 2), true; }
bool line_down() { return scroll_view(1), true; }
bool page_down() { return scroll_view(screen_height() - 1), true; }
bool half_page_up() { return scroll_view((1 - screen_height()) / 2), true; }
bool line_up() { return scroll_view(-1), true; }
bool toggle() { return toggle_fold(), true; }
bool suspend() { return raise(SIGTSTP), true; }
bool quit() { return stop_request = STOP_QUIT, true; }
bool cursor_up() { return move_cursor(-1), true; }
bool cursor_down() { return move_cursor(1), true; }
bool shift_left() { return scroll_horizontally(-4), true; }
bool shift_right() { return scroll_horizontally(4), true; }
bool fold_and_step() { return fold(), scroll_view(1), true; }
bool first_row() { return move_cursor_to(0), true; }
bool last_row() { return move_cursor_to(static_cast<int64_t>(unfolded_paths.len) - 1), true; }
bool next_match() { return search_next(0), true; }
bool previous_match() { return search_next(1), true; }
bool parent_row() { return go_to_parent() == 1; }
bool fold_parent() { return go_to_parent(), fold(), true; }
bool copy_path() { return copy_to_clipboard(), true; }
bool center() { return center_view(), true; }

bool choose_path() {
    exit_path = full_path(cursor_entry());
    stop_request = STOP_QUIT;
    return true;
}

bool search_forward() { return open_prompt(1), true; }
bool search_backward() { return open_prompt(-1), true; }

struct key_binding {
    uint16_t key; // a special key, or 0
    uint32_t ch;  // a character, when key is 0
    bool (*action)();
};

// Normal mode. Special keys are looked up before characters.
constexpr key_binding NORMAL_KEYS[] = {
    {TB_KEY_CTRL_B, 0, page_back},
    {TB_KEY_CTRL_D, 0, half_page_down},
    {TB_KEY_CTRL_E, 0, line_down},
    {TB_KEY_CTRL_F, 0, page_down},
    {TB_KEY_ENTER, 0, toggle},
    {TB_KEY_CTRL_U, 0, half_page_up},
    {TB_KEY_CTRL_Y, 0, line_up},
    {TB_KEY_CTRL_Z, 0, suspend},
    {TB_KEY_ESC, 0, quit},
    {TB_KEY_ARROW_UP, 0, cursor_up},
    {TB_KEY_ARROW_DOWN, 0, cursor_down},
    {TB_KEY_ARROW_LEFT, 0, shift_left},
    {TB_KEY_ARROW_RIGHT, 0, shift_right},
    {0, ' ', fold_and_step},
    {0, '/', search_forward},
    {0, '?', search_backward},
    {0, 'G', last_row},
    {0, 'N', previous_match},
    {0, 'c', fold_parent},
    {0, 'g', first_row},
    {0, 'h', shift_left},
    {0, 'j', cursor_down},
    {0, 'k', cursor_up},
    {0, 'l', shift_right},
    {0, 'n', next_match},
    {0, 'o', choose_path},
    {0, 'p', parent_row},
    {0, 'q', quit},
    {0, 'y', copy_path},
    {0, 'z', center},
};

bool normal_key(const tb_event& event) {
    if (event.key != 0) {
        for (const key_binding& binding : NORMAL_KEYS) {
            if (binding.key == event.key) return binding.action();
        }
        return false;
    }
    for (const key_binding& binding : NORMAL_KEYS) {
        if (binding.key == 0 && binding.ch == event.ch) return binding.action();
    }
    return false;
}

// A mapping replaces the built-in meaning of its character.
const command* mapped_command(const tb_event& event) {
    return commands.find(event.ch);
}

// Every key in prompt mode redraws, whether or not it edited anything.
bool prompt_key(const tb_event& event) {
    if (event.ch != 0) {
        edit_prompt(RL_INSERT, event.ch);
        return true;
    }
    switch (event.key) {
    case TB_KEY_ARROW_LEFT: edit_prompt(RL_LEFT); break;
    case TB_KEY_ARROW_RIGHT: edit_prompt(RL_RIGHT); break;
    case TB_KEY_ARROW_UP: edit_prompt(RL_OLDER); break;
    case TB_KEY_ARROW_DOWN: edit_prompt(RL_NEWER); break;
    case TB_KEY_DELETE: edit_prompt(RL_DELETE); break;
    case TB_KEY_BACKSPACE2: edit_prompt(RL_BACKSPACE); break;
    case TB_KEY_ENTER: submit_prompt(); break;
    case TB_KEY_ESC: cancel_prompt(); break;
    default:
        break;
    }
    return true;
}

bool mouse_event(const tb_event& event) {
    switch (event.key) {
    case TB_KEY_MOUSE_WHEEL_UP: return scroll_view(-1), true;
    case TB_KEY_MOUSE_WHEEL_DOWN: return scroll_view(1), true;
    case TB_KEY_MOUSE_LEFT: {
        // Every drag step arrives as another press and acts like a click.
        const int64_t row = top + event.y;
        if (row < 0 || row >= static_cast<int64_t>(unfolded_paths.len) ||
            event.y >= screen_height() - 1) {
            return false;
        }
        move_cursor_to(row);
        toggle_fold();
        return true;
    }
    default:
        return false;
    }
}

void suspend_process() {
    shutdown_ui();
    signal(SIGTSTP, SIG_DFL);
    raise(SIGTSTP);
    signal(SIGTSTP, on_suspend_signal);
}

// Waits for and handles events until a stop is requested or drawing fails.
int handle_events() {
    for (;;) {
        tb_event event{};
        const int rc = tb_peek_event(&event, POLL_MS);
        if (rc == TB_ERR_POLL && tb_last_errno() == EINTR) continue;
        if (rc == 0) {
            if (dispatch_event(event) && redraw() != 0) return LOOP_FAILED;
        } else if (rc != TB_ERR_NO_EVENT) {
            set_errorf("failed to poll termbox event: %s", tb_strerror(rc));
            return LOOP_FAILED;
        }
        if (stop_request != STOP_NONE) return LOOP_OK;
    }
}

} // namespace

bool dispatch_event(const tb_event& event) {
    switch (event.type) {
    case TB_EVENT_RESIZE:
        // The bottom row has moved; the prompt's cursor goes with it rather
        // than stay behind in the tree or off the screen.
        if (input_mode == MODE_PROMPT) place_prompt_cursor();
        return true;
    case TB_EVENT_MOUSE: return mouse_event(event);
    case TB_EVENT_KEY:
        if (input_mode == MODE_PROMPT) return prompt_key(event);
        if (const command* c = mapped_command(event)) {
            run_command(c);
            return true;
        }
        return normal_key(event);
    default: return false;
    }
}

int run_event_loop() {
    for (;;) {
        if (init_ui() != 0) return LOOP_INIT_FAILED;
        show_current_path();
        const int result = redraw() != 0 ? LOOP_FAILED : handle_events();
        if (stop_request != STOP_SUSPEND) return result;
        suspend_process();
        // A quit that came while stopped (`kill %1` sends SIGTERM and then
        // SIGCONT to a stopped job) would be wiped out by the next cycle's
        // init_ui: act on it now, with the terminal still restored.
        if (stop_request == STOP_QUIT) return result;
    }
}
