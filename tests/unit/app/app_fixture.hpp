// A fresh viewer on a loaded tree and an in-memory screen, for testing the
// application shell without a terminal.
#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "app/view.hpp"
#include "app/viewer.hpp"
#include "term/term.hpp"
#include "tree_fixture.hpp"

namespace korvel {

class app_fixture : public ::testing::Test {
  protected:
    // Loads newline-separated paths as start-up does and opens a screen.
    void load(const std::string& text, int width, int height, char separator = '/',
              bool fold_by_default = false) {
        viewer_ = std::make_unique<viewer>();
        viewer_->tree = tree_of(text, separator, fold_by_default);
        ASSERT_GT(viewer_->tree.size(), 0u);
        viewer_->view.cursor = viewer_->tree.row_entry(0);
        ASSERT_EQ(tb_init_memory(width, height), 0);
        viewer_->screen = {width, height};
    }

    void TearDown() override { tb_shutdown(); }

    viewer& v() { return *viewer_; }
    int64_t cursor() { return cursor_row(v()); }

    // The status line's text.
    std::string status_text() { return v().status.text(); }

    // The visible rows as full paths.
    std::string rows() {
        std::string out;
        for (uint64_t r = 0; r < v().tree.row_count(); ++r) {
            if (r) out += ' ';
            out += v().tree.full_path(v().tree.row_entry(r));
        }
        return out;
    }

  private:
    std::unique_ptr<viewer> viewer_;
};

} // namespace korvel
