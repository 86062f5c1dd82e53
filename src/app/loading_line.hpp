// One line on the terminal that says what loading is doing, once it has
// taken long enough for a user to wonder: what korvel is at (listing,
// reading, sorting, building the tree) and how far it has come. It is
// written to the terminal alone, never to standard output or error, and is
// erased before the viewer takes over.
#pragma once

#include <chrono>
#include <cstdint>

#include "base/unique_fd.hpp"
#include "load/load.hpp"

namespace korvel {

class loading_line {
  public:
    loading_line();
    // Erases the line if it was shown.
    ~loading_line();
    loading_line(const loading_line&) = delete;
    loading_line& operator=(const loading_line&) = delete;

    // Shows the state once loading has taken longer than a moment, at most
    // ten times a second; cheap to call more often.
    void update(const char* doing, uint64_t paths, uint64_t bytes);
    void update(const load_progress& progress);
    void erase();

  private:
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point shown_at_;
    unique_fd tty_;
    bool opened_ = false;
    bool shown_ = false;
};

} // namespace korvel
