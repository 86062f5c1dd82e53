// The configuration file and the key map it fills.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "base/outcome.hpp"

namespace korvel {

// The longest command a binding holds, in bytes.
inline constexpr size_t COMMAND_TEXT_MAX = 127;

// One key binding: typing key runs text through the shell.
struct command {
    char key;
    std::string text; // at most COMMAND_TEXT_MAX bytes, no NUL
};

class key_map {
  public:
    // The command bound to a typed character, or nullptr. Special keys carry
    // character 0 and match nothing; a key byte from 0x80 up is negative as
    // a signed char and so equals no character either.
    const command* find(uint32_t ch) const;
    // Exactly the commands find can return, one per key, in key order.
    std::vector<const command*> bindings() const;
    // Binds key to text in place of any earlier binding of key. The text is
    // cut at its first NUL and after COMMAND_TEXT_MAX bytes.
    void add(char key, std::string_view text);
    // Nothing was bound, not even a key that can never be typed.
    bool empty() const { return commands_.empty(); }

  private:
    std::vector<command> commands_; // one per key byte, in key order
};

// Reads the configuration file into map, which must be empty. A missing file
// (or no file named at all) leaves it empty and is no failure.
outcome read_config(key_map& map);

// read_config's work once the file is open: every line to the end of the
// stream. A failure names its line; the bindings of the lines before it stay.
outcome read_config_stream(FILE* file, key_map& map);

// The file read_config reads: $XDG_CONFIG_PATH/korvel/config when
// XDG_CONFIG_PATH is set, even empty; else $XDG_CONFIG_HOME/korvel/config
// when that is set and not empty; else $HOME/.config/korvel/config. Empty
// when none of them is set. A path too long to open is returned whole all
// the same: it is read_config that refuses it.
std::string config_file_path();

} // namespace korvel
