// What the preview pane shows of an entry: the built-in look at it (a
// directory's children from the tree, a file's first lines, what is known
// of anything else), or the output of the user's command, read on a helper
// thread as it arrives.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/child_process.hpp"
#include "tree/path_tree.hpp"
#include "term/sgr_filter.hpp"
#include "base/unique_fd.hpp"

namespace korvel {

// What the built-in preview reads of a file at most.
inline constexpr size_t PREVIEW_FILE_BYTES = 64 * 1024;
// What a command's output is read to at most before it is stopped.
inline constexpr size_t PREVIEW_COMMAND_BYTES = 1024 * 1024;

// The built-in preview of an entry, in at most max_lines lines. A file is
// read only when it is a regular one, and never past PREVIEW_FILE_BYTES, so
// a FIFO, a device or a huge file cannot stall the viewer.
std::vector<styled_line> builtin_preview(const path_tree& tree, entry_index entry,
                                         size_t max_lines);

// A preview command: /bin/sh -c TEXT in a process group of its own, with
// its standard output and error in one pipe that a helper thread reads,
// waking the event loop through `wake_fd` when output or the end of it came.
// Going away kills the whole group and waits for the shell, so that nothing
// is left behind.
class preview_command {
  public:
    // Null with a message in `failure` when the command could not start.
    static std::unique_ptr<preview_command> start(const std::string& text, const std::string& path,
                                                  const std::vector<std::string>& picked,
                                                  int wake_fd, std::string& failure);
    ~preview_command();
    preview_command(const preview_command&) = delete;
    preview_command& operator=(const preview_command&) = delete;

    // The output read since the last call. `over` tells that the reading has
    // ended: the output's end, or PREVIEW_COMMAND_BYTES read.
    std::string take(bool& over);
    // Whether the limit on bytes stopped the reading.
    bool capped() const;
    // Kills the command's group; what is left to read is dropped.
    void kill();
    // Whether the shell has ended (and been waited for), without waiting.
    bool ended();

  private:
    preview_command() = default;
    void read_output(int wake_fd);

    child_process child_;
    unique_fd output_;
    pipe_pair stop_;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::string pending_;
    size_t total_ = 0;
    bool over_ = false;
    bool capped_ = false;
    bool killed_ = false;
};

} // namespace korvel
