#include "app/loading_line.hpp"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>

#include "base/digit_groups.hpp"
#include "app/session.hpp"
#include "base/write_all.hpp"

namespace korvel {

namespace {

using clock = std::chrono::steady_clock;

// A quick load shows nothing at all; a slow one is told of at once after.
constexpr std::chrono::milliseconds DELAY{250};
constexpr std::chrono::milliseconds REFRESH{100};
// Back to the start of the line, and the line cleared.
constexpr char ERASE[] = "\r\033[K";
// The cursor is left at the start of the line, so that what a producer
// writes to the terminal meanwhile starts a row of its own instead of
// running on after the text; the next update clears its row first.
constexpr char PARK[] = "\r";

// "12 bytes", "85.3 MB".
std::string amount(uint64_t bytes) {
    char text[32];
    const auto value = static_cast<double>(bytes);
    if (bytes < 1000) {
        snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    } else if (bytes < 1000000) {
        snprintf(text, sizeof text, "%.1f kB", value / 1e3);
    } else if (bytes < 1000000000) {
        snprintf(text, sizeof text, "%.1f MB", value / 1e6);
    } else {
        snprintf(text, sizeof text, "%.2f GB", value / 1e9);
    }
    return text;
}

} // namespace

loading_line::loading_line() : start_(clock::now()) {}

loading_line::~loading_line() {
    erase();
}

void loading_line::update(const char* doing, uint64_t paths, uint64_t bytes) {
    const clock::time_point now = clock::now();
    if (now - start_ < DELAY || (shown_ && now - shown_at_ < REFRESH)) return;
    if (!opened_) {
        // No terminal, nothing to tell.
        opened_ = true;
        tty_.reset(open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC));
        set_loading_line_fd(tty_.get());
    }
    if (tty_.get() < 0) return;
    std::string text =
        std::string("korvel: ") + doing + " " + grouped(paths) + (paths == 1 ? " path" : " paths");
    if (bytes != 0) text += ", " + amount(bytes);
    // Kept to one row: a line that wrapped could not be erased.
    winsize size{};
    if (ioctl(tty_.get(), TIOCGWINSZ, &size) == 0 && size.ws_col > 1 && text.size() >= size.ws_col)
        text.resize(size.ws_col - 1u);
    // A line that could not be written is only a line not shown.
    (void)write_all(tty_.get(), ERASE + text + PARK);
    shown_ = true;
    shown_at_ = now;
}

void loading_line::update(const load_progress& progress) {
    switch (progress.phase.load(std::memory_order_relaxed)) {
    case load_phase::READING:
        update("reading", progress.lines.load(std::memory_order_relaxed),
               progress.bytes.load(std::memory_order_relaxed));
        break;
    case load_phase::SORTING:
        update("sorting", progress.lines.load(std::memory_order_relaxed), 0);
        break;
    case load_phase::BUILDING:
        update("building the tree of", progress.lines.load(std::memory_order_relaxed), 0);
        break;
    }
}

void loading_line::erase() {
    if (shown_) (void)write_all(tty_.get(), ERASE);
    shown_ = false;
    if (opened_) set_loading_line_fd(-1);
}

} // namespace korvel
