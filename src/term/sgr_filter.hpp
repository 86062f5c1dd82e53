// Text from another program or a file, turned into lines of styled runs for
// the screen. Such text is hostile input, like a file name: only SGR
// sequences (colours, bold, underline, reverse) take effect, as attributes
// of the runs; every other escape or control sequence stays in the text as
// its bytes, which the terminal layer draws as visible substitutes, so
// nothing in it can move the cursor, set the title or reach the clipboard.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "term/term_types.hpp"

namespace korvel {

struct styled_run {
    std::string text;
    uintattr_t fg = TB_DEFAULT;
    uintattr_t bg = TB_DEFAULT;

    bool operator==(const styled_run&) const = default;
};

struct styled_line {
    std::vector<styled_run> runs;
    size_t bytes = 0;
    // Bytes past the line's limit were dropped.
    bool cut = false;
};

class sgr_filter {
  public:
    // With `keep_sgr` false (a file's text) no sequence is taken: every
    // escape shows as its substitute. Lines keep at most `line_bytes` bytes
    // of text; past `max_lines` lines the rest is dropped and full() says so.
    explicit sgr_filter(bool keep_sgr, size_t max_lines, size_t line_bytes = 4096);

    // The bytes may end anywhere, inside a character or a sequence.
    void feed(std::string_view bytes);
    // The input has ended: a sequence left open shows as it is.
    void finish();

    const std::vector<styled_line>& lines() const { return lines_; }
    bool full() const { return full_; }
    bool finished() const { return finished_; }

  private:
    enum class state { TEXT, ESCAPE, CSI };

    void text_byte(char c);
    void append(std::string_view bytes);
    void new_line();
    void expand_tab();
    void flush_sequence();
    void apply_sgr(std::string_view params);

    bool keep_sgr_;
    size_t max_lines_;
    size_t line_bytes_;
    std::vector<styled_line> lines_;
    bool full_ = false;
    bool finished_ = false;
    state state_ = state::TEXT;
    // The sequence being read, shown as text if it turns out not to be SGR.
    std::string sequence_;
    bool pending_cr_ = false;
    uintattr_t fg_ = TB_DEFAULT;
    uintattr_t bg_ = TB_DEFAULT;
};

} // namespace korvel
