#include "term/sgr_filter.hpp"

#include <algorithm>
#include <charconv>

#include "term/term.hpp"

namespace korvel {

namespace {

constexpr char ESC = '\x1b';
constexpr int TAB_WIDTH = 8;
// A longer sequence is no colour change anyone sends: it shows as text.
constexpr size_t SEQUENCE_MAX = 64;
constexpr uintattr_t COLOR_BITS = 0x00FF;

// 0..7 as the terminal layer numbers colours (black is 1; 0 is the default).
uintattr_t color_of(int n) { return static_cast<uintattr_t>(n + 1); }

} // namespace

sgr_filter::sgr_filter(bool keep_sgr, size_t max_lines, size_t line_bytes)
    : keep_sgr_(keep_sgr), max_lines_(std::max<size_t>(max_lines, 1)), line_bytes_(line_bytes),
      lines_(1) {}

void sgr_filter::feed(std::string_view bytes) {
    for (const char c : bytes) {
        if (full_) return;
        switch (state_) {
        case state::TEXT:
            text_byte(c);
            break;
        case state::ESCAPE:
            if (c == '[') {
                sequence_ += c;
                state_ = state::CSI;
            } else {
                flush_sequence();
                text_byte(c);
            }
            break;
        case state::CSI: {
            const auto u = static_cast<unsigned char>(c);
            if (u >= 0x20 && u <= 0x3F) {
                sequence_ += c;
                if (sequence_.size() > SEQUENCE_MAX) flush_sequence();
            } else if (u >= 0x40 && u <= 0x7E) {
                const std::string_view params = std::string_view(sequence_).substr(2);
                const bool sgr = c == 'm' && params.find_first_not_of("0123456789;") ==
                                                 std::string_view::npos;
                if (sgr) {
                    apply_sgr(params);
                    sequence_.clear();
                    state_ = state::TEXT;
                } else {
                    sequence_ += c;
                    flush_sequence();
                }
            } else {
                // A control byte inside a sequence ends it, unfinished.
                flush_sequence();
                text_byte(c);
            }
            break;
        }
        }
    }
}

void sgr_filter::finish() {
    finished_ = true;
    if (state_ != state::TEXT) flush_sequence();
    if (pending_cr_) {
        pending_cr_ = false;
        append("\r");
    }
    // A last newline ends the last line; it starts no empty one.
    if (lines_.size() > 1 && lines_.back().bytes == 0 && !full_) lines_.pop_back();
}

void sgr_filter::text_byte(char c) {
    if (pending_cr_) {
        pending_cr_ = false;
        // CR LF ends a line like LF; a CR alone would redraw the line over
        // itself on a terminal, which here is only a substitute.
        if (c == '\n') {
            new_line();
            return;
        }
        append("\r");
    }
    switch (c) {
    case '\n': new_line(); break;
    case '\r': pending_cr_ = true; break;
    case '\t': expand_tab(); break;
    case ESC:
        if (keep_sgr_) {
            sequence_.assign(1, ESC);
            state_ = state::ESCAPE;
            break;
        }
        append(std::string_view(&c, 1));
        break;
    case '\0':
        // Drawn as the layer draws every control byte, but a NUL would end
        // the text handed to it.
        append("\u2400");
        break;
    default: append(std::string_view(&c, 1)); break;
    }
}

void sgr_filter::append(std::string_view bytes) {
    if (full_) return;
    styled_line& line = lines_.back();
    if (line.bytes + bytes.size() > line_bytes_) {
        line.cut = true;
        bytes = bytes.substr(0, line_bytes_ - line.bytes);
        if (bytes.empty()) return;
    }
    if (line.runs.empty() || line.runs.back().fg != fg_ || line.runs.back().bg != bg_)
        line.runs.push_back({{}, fg_, bg_});
    line.runs.back().text.append(bytes);
    line.bytes += bytes.size();
}

void sgr_filter::new_line() {
    if (lines_.size() >= max_lines_) {
        full_ = true;
        return;
    }
    lines_.emplace_back();
}

void sgr_filter::expand_tab() {
    int64_t columns = 0;
    for (const styled_run& run : lines_.back().runs)
        columns += tb_text_columns(run.text);
    append(std::string(static_cast<size_t>(TAB_WIDTH - columns % TAB_WIDTH), ' '));
}

void sgr_filter::flush_sequence() {
    state_ = state::TEXT;
    const std::string sequence = std::move(sequence_);
    sequence_.clear();
    append(sequence);
}

void sgr_filter::apply_sgr(std::string_view params) {
    std::vector<int> codes;
    size_t at = 0;
    for (;;) {
        const size_t end = std::min(params.find(';', at), params.size());
        // An empty parameter counts as 0; too big a number is no known
        // code, and changes nothing.
        int n = 0;
        if (end > at && std::from_chars(params.data() + at, params.data() + end, n).ec != std::errc{})
            n = -1;
        codes.push_back(n);
        if (end == params.size()) break;
        at = end + 1;
    }
    for (size_t i = 0; i < codes.size(); ++i) {
        const int n = codes[i];
        if (n == 0) {
            fg_ = TB_DEFAULT;
            bg_ = TB_DEFAULT;
        } else if (n == 1) {
            fg_ |= TB_BOLD;
        } else if (n == 2) {
            fg_ |= TB_DIM;
        } else if (n == 4) {
            fg_ |= TB_UNDERLINE;
        } else if (n == 7) {
            fg_ |= TB_REVERSE;
        } else if (n == 22) {
            fg_ &= static_cast<uintattr_t>(~(TB_BOLD | TB_DIM));
        } else if (n == 24) {
            fg_ &= static_cast<uintattr_t>(~TB_UNDERLINE);
        } else if (n == 27) {
            fg_ &= static_cast<uintattr_t>(~TB_REVERSE);
        } else if ((n >= 30 && n <= 37) || (n >= 90 && n <= 97)) {
            fg_ = static_cast<uintattr_t>((fg_ & ~COLOR_BITS) | color_of(n % 10));
        } else if (n == 39) {
            fg_ &= static_cast<uintattr_t>(~COLOR_BITS);
        } else if ((n >= 40 && n <= 47) || (n >= 100 && n <= 107)) {
            bg_ = color_of(n % 10);
        } else if (n == 49) {
            bg_ = TB_DEFAULT;
        } else if (n == 38 || n == 48) {
            // 256 colours and true colour: the eight basic ones are kept,
            // the others fall back to the default.
            uintattr_t color = TB_DEFAULT;
            if (i + 2 < codes.size() && codes[i + 1] == 5) {
                const int c = codes[i + 2];
                if (c >= 0 && c < 16) color = color_of(c % 8);
                i += 2;
            } else if (i + 4 < codes.size() && codes[i + 1] == 2) {
                i += 4;
            } else {
                i = codes.size();
            }
            if (n == 38) fg_ = static_cast<uintattr_t>((fg_ & ~COLOR_BITS) | color);
            else bg_ = color;
        }
    }
}

} // namespace korvel
