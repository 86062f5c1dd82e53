// The search prompt's one-line editor with its history.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace korvel {

// A line holds at most this many bytes of UTF-8 text.
inline constexpr int32_t RL_LINE_MAX = 63;

enum rl_op : int32_t {
    RL_LEFT = 0,             // one character left
    RL_RIGHT = 1,            // one character right
    RL_OLDER = 2,            // the next older line, the position at its end
    RL_NEWER = 3,            // the next newer line, the position at its end
    RL_INSERT = 4,           // the character ch at the position, which moves past it
    RL_DELETE = 5,           // the character at the position
    RL_BACKSPACE = 6,        // the character before the position
    RL_SUBMIT = 7,           // enter the line into the history
    RL_CANCEL = 8,           // abandon the prompt: the newest line, emptied
    RL_START = 9,            // to the start of the line (Home, Ctrl-A)
    RL_END = 10,             // to the end of the line (End, Ctrl-E)
    RL_DELETE_TO_START = 11, // everything before the position (Ctrl-U)
    RL_DELETE_WORD = 12,     // the blanks before the position, then the word before them (Ctrl-W)
    RL_DELETE_TO_END = 13,   // everything from the position on (Ctrl-K)
};

struct rl_edit {
    int32_t op;  // an rl_op
    uint32_t ch; // the code point RL_INSERT inserts; no other operation reads it
};

// The line being composed and the lines submitted before it, oldest first.
// The history lives as long as the editor; nothing saves it.
class line_editor {
  public:
    line_editor(); // one empty line
    line_editor(const line_editor&) = delete;
    line_editor& operator=(const line_editor&) = delete;

    // Applies one operation. What cannot be done changes nothing: moving or
    // deleting past either end, walking past the oldest or newest line, a
    // character that does not fit whole, and a code point that UTF-8 cannot
    // carry (surrogates, past U+10FFFF) or 0. An op outside rl_op ends the
    // program as a broken invariant.
    void edit(rl_edit edit);

    // The line shown. Its storage ends in a NUL, so data() is a C string.
    std::string_view text() const;
    // The editing position: a byte offset into text(), on a character
    // boundary. Screen columns are the drawing's business.
    int32_t pos() const { return pos_; }

  private:
    // The text, then zeros to the end: a line holds no NUL of its own.
    using line = std::array<char, RL_LINE_MAX + 1>;

    void submit();
    void cancel();

    std::vector<std::unique_ptr<line>> lines_; // oldest first, never empty
    size_t current_ = 0;
    int32_t pos_ = 0;

    // Tests reach the stored bytes through this, to plant what no key can
    // type (UTF-8 cut short or malformed), and to read the whole history,
    // which the viewer never needs.
    friend struct line_editor_probe;
};

} // namespace korvel
