// What the end-to-end tests of the viewer share: how they start it, and how
// they read its screen (the tree rows above, the status row at the bottom,
// the cursor's row drawn in bold). Test files bring these in with
// `using namespace e2e::screen;`.
#pragma once

#include <sys/types.h>

#include <cctype>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "harness.hpp"

namespace e2e::screen {

// Palette indices of the colours the viewer uses; -1 is the default colour.
inline constexpr int BLACK = 0;
inline constexpr int RED = 1;
inline constexpr int YELLOW = 3;
inline constexpr int WHITE = 7;
inline constexpr int DEFAULT = -1;

// The viewer reading `list` on standard input, in a rows x cols terminal.
inline launch korvel(const std::string& list, int rows, int cols,
                     std::vector<std::string> args = {}) {
    launch how;
    how.program = KORVEL_BINARY;
    how.args = std::move(args);
    how.rows = rows;
    how.cols = cols;
    how.stdin_data = list;
    return how;
}

inline std::string status_row(const session& s) { return s.row_text(s.rows() - 1); }

// Waits for the first frame: the alternate screen with a status row.
inline testing::AssertionResult ready(session& s) {
    if (s.wait_for([&] { return s.alt_screen() && !status_row(s).empty(); }))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "no first frame\n" << s.dump();
}

// The tree area's rows as text.
inline std::vector<std::string> tree_rows(const session& s) {
    std::vector<std::string> rows;
    for (int r = 0; r + 1 < s.rows(); ++r) rows.push_back(s.row_text(r));
    return rows;
}

// The tree area's rows, without the blank ones after the last entry.
inline std::vector<std::string> filled_rows(const session& s) {
    std::vector<std::string> rows = tree_rows(s);
    while (!rows.empty() && rows.back().empty()) rows.pop_back();
    return rows;
}

// Waits for these rows and a status row that begins with `status_start`.
inline testing::AssertionResult shows_tree(session& s, const std::vector<std::string>& want,
                                           const std::string& status_start) {
    if (s.wait_for([&] {
            return filled_rows(s) == want && status_row(s).rfind(status_start, 0) == 0;
        }))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "want status \"" << status_start << "\"\n" << s.dump();
}

// The row drawn as the cursor's, the only one in bold, or -1.
inline int bold_row(const session& s) {
    for (int r = 0; r + 1 < s.rows(); ++r) {
        for (int c = 0; c < s.cols(); ++c)
            if (s.cell_at(r, c).bold) return r;
    }
    return -1;
}

// The words that begin the indicators drawn left of the position counter.
inline const std::vector<std::string> INDICATORS{"match ", "filter ", "counting matches",
                                                 "marked "};

// The status row's text without the leading blank, the position counter and
// the indicators before it.
inline std::string status_text(const session& s) {
    std::string row = status_row(s);
    size_t end = row.size();
    while (end > 0 && (isdigit(static_cast<unsigned char>(row[end - 1])) || row[end - 1] == '/'))
        --end;
    row.erase(end);
    // Each indicator stands after two blanks at least, and holds no two.
    for (bool cut = true; cut;) {
        cut = false;
        row.erase(row.find_last_not_of(' ') + 1);
        for (const std::string& word : INDICATORS) {
            const size_t at = row.rfind("  " + word);
            if (at != std::string::npos && row.find("  ", at + 2) == std::string::npos) {
                row.erase(at);
                cut = true;
            }
        }
    }
    return row.empty() ? row : row.substr(1);
}

inline bool wait_status(session& s, const std::string& text) {
    return s.wait_for([&] { return s.alt_screen() && status_text(s) == text; });
}

inline bool wait_status_prefix(session& s, const std::string& prefix) {
    return s.wait_for([&] { return s.alt_screen() && status_text(s).rfind(prefix, 0) == 0; });
}

// Each UI cycle enters the alternate screen afresh.
inline size_t screens_entered(const session& s) {
    const std::string& raw = s.raw_output();
    size_t n = 0;
    for (size_t at = raw.find("\x1b[?1049h"); at != std::string::npos;
         at = raw.find("\x1b[?1049h", at + 1))
        ++n;
    return n;
}

inline void quit(session& s) {
    s.send("q");
    ASSERT_TRUE(s.wait_exit()) << s.dump();
    EXPECT_EQ(s.exit_status(), 0) << s.dump();
}

// Bytes as C would write them: printable ASCII as it is, the rest (and the
// backslash, so that the text reads back one way only) as \xNN.
inline std::string escaped(const std::string& bytes) {
    std::string text;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            text += static_cast<char>(c);
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            text += hex;
        }
    }
    return text;
}

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The state letter of a process from /proc ('T' while it is stopped), '?'
// when it is gone.
inline char process_state(pid_t pid) {
    const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    const size_t paren = stat.rfind(')');
    return paren == std::string::npos || paren + 2 >= stat.size() ? '?' : stat[paren + 2];
}

// Whether the process has a handler installed for the signal (it is then
// past the point where it sets its handlers up).
inline bool catches(pid_t pid, int sig) {
    std::istringstream status(read_file("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("SigCgt:", 0) == 0) {
            return (std::stoull(line.substr(7), nullptr, 16) >> (sig - 1)) & 1;
        }
    }
    return false;
}

} // namespace e2e::screen
