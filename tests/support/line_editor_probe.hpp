// Reaches behind the line editor's interface: plants bytes that no key can
// type (UTF-8 cut short or malformed), shows the whole storage of a line, and
// the history, which the viewer never reads whole.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "app/line_editor.hpp"

namespace korvel {

struct line_editor_probe {
    // The shown line becomes bytes (no NUL, at most RL_LINE_MAX of them),
    // with the position at its end.
    static void plant(line_editor& editor, std::string_view bytes) {
        auto& stored = *editor.lines_[editor.current_];
        stored.fill('\0');
        std::copy(bytes.begin(), bytes.end(), stored.begin());
        editor.pos_ = static_cast<int32_t>(bytes.size());
    }
    // Every byte of the shown line's storage, the terminator and what
    // follows it included.
    static std::string_view storage(const line_editor& editor) {
        const auto& stored = *editor.lines_[editor.current_];
        return {stored.data(), stored.size()};
    }
    // Every line, oldest first; the last is the newest, the one a fresh
    // prompt edits. A line's text stays at one address while the line lives.
    static std::vector<std::string_view> lines(const line_editor& editor) {
        std::vector<std::string_view> out;
        out.reserve(editor.lines_.size());
        for (const auto& stored : editor.lines_)
            out.emplace_back(stored->data(), strlen(stored->data()));
        return out;
    }
    // The index in lines() of the line shown.
    static size_t current_line(const line_editor& editor) { return editor.current_; }
};

} // namespace korvel
