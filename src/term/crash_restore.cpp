#include "term/crash_restore.hpp"

#include <cstring>

#include "base/write_all.hpp"
#include "term/curses.hpp"

namespace korvel {

namespace term_curses {

crash_restore crash;

std::string without_padding(const char* sequence) {
    std::string out;
    if (sequence == nullptr || sequence == reinterpret_cast<char*>(-1)) return out;
    for (const char* p = sequence; *p != '\0'; ++p) {
        if (p[0] == '$' && p[1] == '<') {
            const char* end = strchr(p, '>');
            if (end != nullptr) {
                p = end;
                continue;
            }
        }
        out += *p;
    }
    return out;
}

bool has_alternate_screen() {
    const char* enter = tigetstr("smcup");
    return enter != nullptr && enter != reinterpret_cast<char*>(-1);
}

void crash_restore::append(const char* sequence) {
    const std::string bytes = without_padding(sequence);
    if (reset_length + bytes.size() >= sizeof reset) return;
    memcpy(reset + reset_length, bytes.data(), bytes.size());
    reset_length += bytes.size();
}

void crash_restore::arm(int tty, const termios& found) {
    fd = tty;
    modes = found;
    reset_length = 0;
    append(DRAG_TRACKING_OFF);
    append("\033[?1006l\033[?1000l");
    append(tigetstr("rmkx"));
    append(tigetstr("sgr0"));
    append(tigetstr("cnorm"));
    append(tigetstr("rmcup"));
    if (!has_alternate_screen()) append(tigetstr("clear"));
    armed = 1;
}

bool restore_from_signal() {
    if (!crash.armed) return false;
    crash.armed = 0;
    // write_all only calls write(), so it is safe here.
    (void)write_all(crash.fd, crash.reset, crash.reset_length);
    tcsetattr(crash.fd, TCSANOW, &crash.modes);
    return true;
}

} // namespace term_curses

} // namespace korvel
