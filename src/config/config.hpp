// The configuration file: the key map its `map` lines fill, the built-in
// keys its `bind` lines change, and the defaults its `set` lines choose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "term/key_notation.hpp"
#include "base/outcome.hpp"
#include "match/search.hpp"

namespace korvel {

// The longest command a binding holds, in bytes.
inline constexpr size_t COMMAND_TEXT_MAX = 127;

// One key binding: typing key runs text through the shell.
struct command {
    key_press key;
    std::string text; // at most COMMAND_TEXT_MAX bytes, no NUL
};

class key_map {
  public:
    // The command bound to the key, or nullptr.
    const command* find(const key_press& key) const;
    // Every binding, one per key, in key order.
    std::vector<const command*> bindings() const;
    // Binds key to text in place of any earlier binding of key. The text is
    // cut at its first NUL and after COMMAND_TEXT_MAX bytes.
    void add(const key_press& key, std::string_view text);
    // The key of one ASCII character, as a `map` line with it would bind.
    void add(char key, std::string_view text) { add(*parse_key(std::string_view(&key, 1)), text); }
    bool empty() const { return commands_.empty(); }

  private:
    std::vector<command> commands_; // one per key, in key order
};

// Where the preview pane stands: beside the tree, below it, or whichever
// suits the terminal's width.
enum class pane_side { AUTO, RIGHT, BOTTOM };

struct pane_place {
    pane_side side = pane_side::AUTO;
    // Of the screen's width (beside) or of the tree area's rows (below).
    int percent = 50;

    friend bool operator==(const pane_place&, const pane_place&) = default;
};

// "right" or "bottom", then ":SIZE%" if you like, SIZE from 1 to 99; the
// same for --preview-window and `set preview-window`.
std::optional<pane_place> parse_preview_window(std::string_view text);

// What `set` lines chose; a setting no line named stays empty. The command
// line's options are the same settings, and win over the file's.
struct settings {
    std::optional<bool> fold;
    std::optional<bool> counts;
    std::optional<bool> compact;
    std::optional<case_mode> letter_case;
    std::optional<bool> cancel_status;
    std::optional<bool> one_file_system;
    std::optional<bool> preview;
    std::optional<pane_place> preview_window;
    // Empty: the built-in preview.
    std::optional<std::string> preview_command;

    // Every setting that other holds replaces this one's.
    void override_with(const settings& other);

    friend bool operator==(const settings&, const settings&) = default;
};

// A `bind` line: key runs the built-in action of that name, or, with no
// name, nothing of the tree's built-in keys.
struct key_rebinding {
    key_press key;
    std::string action; // empty: unbind
};

// Everything the file says.
struct config {
    key_map keys;
    settings chosen;
    std::vector<key_rebinding> rebindings; // in the file's order
    // Why the file was not read although it may exist (a folder on the way
    // that cannot be searched), for the viewer to show; empty otherwise.
    std::string warning;
};

// Whether a name is that of a built-in action, for `bind` lines.
using action_check = std::function<bool(std::string_view name)>;

// Reads the configuration file into out, which must be as made. A missing
// file (or no file named at all) leaves it empty and is no failure; so is a
// file behind a folder that cannot be searched, with a warning. Every
// failure names the file after its message: "... (in PATH)".
outcome read_config(config& out, const action_check& is_action);

// read_config's work once the file is open: every line to the end of the
// stream. A failure names its line; what the lines before it said stays.
outcome read_config_stream(FILE* file, config& out, const action_check& is_action);

// The file read_config reads: $XDG_CONFIG_PATH/korvel/config when
// XDG_CONFIG_PATH is set, even empty; else $XDG_CONFIG_HOME/korvel/config
// when that is set and not empty; else $HOME/.config/korvel/config. Empty
// when none of them is set. A path too long to open is returned whole all
// the same: it is read_config that refuses it.
std::string config_file_path();

} // namespace korvel
