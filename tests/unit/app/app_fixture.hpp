// A loaded tree and an in-memory screen for testing the application shell
// without a terminal.
#pragma once

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "korvel/app.hpp"
#include "korvel/status.hpp"
#include "korvel/view.hpp"
#include "lines.hpp"
#include "paths.hpp"
#include "search.hpp"
#include "term.hpp"

class app_fixture : public ::testing::Test {
  protected:
    // Loads newline-separated paths as start-up does and opens a screen.
    void load(const std::string& text, int width, int height, char separator = '/',
              int fold_by_default = 0) {
        FILE* stream = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
        ASSERT_NE(stream, nullptr);
        ASSERT_EQ(get_lines(stream, separator, &lines_), 0);
        fclose(stream);
        sort_lines(lines_.items, lines_.count);
        total_entries =
            get_paths(&unfolded_paths, lines_.items, lines_.count, separator, fold_by_default);
        options.separator = separator;
        cursor = top = hscroll = 0;
        ASSERT_EQ(tb_init_memory(width, height), 0);
    }

    void TearDown() override {
        tb_shutdown();
        free_paths(unfolded_paths.items);
        unfolded_paths = {};
        free_lines(&lines_);
        exit_path.reset();
        stop_request = STOP_NONE;
        input_mode = MODE_NORMAL;
    }

    // The status line's text without its leading blank and trailing blanks.
    static std::string status_text() {
        std::string s(status_line);
        if (!s.empty()) s.erase(0, 1);
        s.erase(s.find_last_not_of(' ') + 1);
        return s;
    }

    // The visible rows as full paths.
    static std::string rows() {
        std::string out;
        for (uint64_t r = 0; r < unfolded_paths.len; ++r) {
            if (r) out += ' ';
            out += full_path(unfolded_paths.items[r]);
        }
        return out;
    }

    input_lines lines_;
};
