#include "app/line_editor.hpp"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/check.hpp"
#include "base/utf8.hpp"

namespace korvel {

namespace {

using line = std::array<char, RL_LINE_MAX + 1>;

std::string_view text_of(const line& l) {
    return {l.data(), strlen(l.data())};
}

// The length of the character that starts at text[at]: a whole UTF-8
// sequence, or 1 for a byte that starts none.
int32_t char_length(std::string_view text, size_t at) {
    return static_cast<int32_t>(utf8_at(text, at).length);
}

// The start of the character that holds text[at]. Lines are short, so the
// characters are simply counted off from the start; that way a stray byte
// splits the line the same way whichever direction the position moves.
int32_t char_start(std::string_view text, int32_t at) {
    int32_t start = 0;
    for (;;) {
        const int32_t next = start + char_length(text, static_cast<size_t>(start));
        if (next > at) return start;
        start = next;
    }
}

// The UTF-8 bytes of code_point in out; how many, or 0 for what the line
// cannot hold: 0 would end its text early, and surrogates and values past
// U+10FFFF have no UTF-8 form.
int encode_utf8(uint32_t code_point, char out[4]) {
    if (code_point == 0 || !utf8_encodable(code_point)) return 0;
    return static_cast<int>(utf8_encode(code_point, out));
}

void insert(line& l, int32_t& pos, uint32_t code_point) {
    char bytes[4];
    const int count = encode_utf8(code_point, bytes);
    const auto length = static_cast<int32_t>(text_of(l).size());
    // A character that does not fit whole is left out, never cut.
    if (count == 0 || length + count > RL_LINE_MAX) return;
    memmove(l.data() + pos + count, l.data() + pos, static_cast<size_t>(length - pos));
    memcpy(l.data() + pos, bytes, static_cast<size_t>(count));
    pos += count;
}

// Removes the bytes from `from` up to `to` and leaves the position at `from`.
void erase(line& l, int32_t& pos, int32_t from, int32_t to) {
    const auto length = static_cast<int32_t>(text_of(l).size());
    memmove(l.data() + from, l.data() + to, static_cast<size_t>(length - to));
    std::fill(l.data() + length - (to - from), l.data() + length, '\0');
    pos = from;
    // Stray bytes on either side of the gap can join into one character;
    // the position then stands before it.
    const std::string_view text = text_of(l);
    if (static_cast<size_t>(pos) < text.size()) pos = char_start(text, pos);
}

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// Where Ctrl-W deletes back to, as shells have it: over the blanks before
// pos, then over the word before them.
int32_t word_start(std::string_view text, int32_t pos) {
    while (pos > 0 && is_blank(text[static_cast<size_t>(pos - 1)]))
        --pos;
    while (pos > 0 && !is_blank(text[static_cast<size_t>(pos - 1)]))
        --pos;
    return pos;
}

std::unique_ptr<line> new_line() {
    line* l = new (std::nothrow) line{};
    if (l == nullptr) check_failed("line != NULL", __func__, __FILE__, __LINE__);
    return std::unique_ptr<line>(l);
}

} // namespace

line_editor::line_editor() {
    lines_.push_back(new_line());
}

std::string_view line_editor::text() const {
    return text_of(*lines_[current_]);
}

void line_editor::submit() {
    pos_ = 0;
    const size_t newest = lines_.size() - 1;
    if (current_ == newest) {
        // An empty line adds nothing to the history.
        if ((*lines_[current_])[0] == '\0') return;
        lines_.push_back(new_line());
        current_ = lines_.size() - 1;
        return;
    }
    // A recalled line becomes the most recent history entry, or leaves the
    // history when it was edited down to nothing. The newest line keeps
    // whatever was typed into it before the history was walked.
    std::unique_ptr<line> recalled = std::move(lines_[current_]);
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(current_));
    if ((*recalled)[0] != '\0') lines_.insert(lines_.end() - 1, std::move(recalled));
    current_ = lines_.size() - 1;
}

void line_editor::cancel() {
    pos_ = 0;
    current_ = lines_.size() - 1;
    lines_[current_]->fill('\0');
}

void line_editor::edit(rl_edit edit) {
    line& l = *lines_[current_];
    const std::string_view shown = text_of(l);
    const auto length = static_cast<int32_t>(shown.size());
    switch (edit.op) {
    case RL_LEFT:
        if (pos_ > 0) pos_ = char_start(shown, pos_ - 1);
        break;
    case RL_RIGHT:
        if (pos_ < length) pos_ += char_length(shown, static_cast<size_t>(pos_));
        break;
    case RL_OLDER:
        if (current_ > 0) {
            --current_;
            pos_ = static_cast<int32_t>(text().size());
        }
        break;
    case RL_NEWER:
        if (current_ + 1 < lines_.size()) {
            ++current_;
            pos_ = static_cast<int32_t>(text().size());
        }
        break;
    case RL_INSERT:
        insert(l, pos_, edit.ch);
        break;
    case RL_DELETE:
        if (pos_ < length)
            erase(l, pos_, pos_, pos_ + char_length(shown, static_cast<size_t>(pos_)));
        break;
    case RL_BACKSPACE:
        if (pos_ > 0) erase(l, pos_, char_start(shown, pos_ - 1), pos_);
        break;
    case RL_SUBMIT:
        submit();
        break;
    case RL_CANCEL:
        cancel();
        break;
    case RL_START:
        pos_ = 0;
        break;
    case RL_END:
        pos_ = length;
        break;
    case RL_DELETE_TO_START:
        erase(l, pos_, 0, pos_);
        break;
    case RL_DELETE_WORD:
        erase(l, pos_, word_start(shown, pos_), pos_);
        break;
    case RL_DELETE_TO_END:
        erase(l, pos_, pos_, length);
        break;
    default:
        check_failed("edit.op >= RL_LEFT && edit.op <= RL_DELETE_TO_END", __func__, __FILE__,
                     __LINE__);
    }
}

} // namespace korvel
