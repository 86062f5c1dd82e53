// The bottom row's text and how it is shown, and messages on standard error.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace korvel {

enum class status_style { MESSAGE, ERROR, PROMPT };

// What the bottom row says: the selected path, the prompt, a confirmation,
// or a failure the viewer survived. It stays until the next show.
class status_line {
  public:
    // The text is cut to this many bytes (which can cut a character).
    static constexpr size_t TEXT_MAX = 254;

    void show(std::string_view text, status_style style = status_style::MESSAGE);
    // A full path, kept whole however long: drawn by its end when the row is
    // too narrow for it.
    void show_path(std::string_view path);
    void show_error(std::string_view text) { show(text, status_style::ERROR); }
    // Formatted, and cut to TEXT_MAX bytes as it is formatted.
    void showf(status_style style, const char* format, ...) __attribute__((format(printf, 3, 4)));

    const std::string& text() const { return text_; }
    status_style style() const { return style_; }
    bool is_path() const { return path_; }
    // The row as drawn: one blank, the text, blanks up to 255 characters
    // (empty before anything was shown).
    std::string row() const;

  private:
    std::string text_;
    status_style style_ = status_style::MESSAGE;
    bool shown_ = false;
    bool path_ = false;
};

// "program: text" and a newline on standard error, control characters
// written as \xNN so that they cannot act on the terminal.
void print_error(std::string_view program, std::string_view text);

} // namespace korvel
