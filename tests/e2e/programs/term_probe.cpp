// Drives the terminal layer from its command line, for the end-to-end tests:
// each word is a command, some followed by arguments. Results and decoded
// events go to standard output, one line each, as soon as they happen.
//
//   init | shutdown | clear | present | hide | mouse | alt | ready
//   print X Y FG BG TEXT     printf X Y FG BG TEXT     cell X Y HEX FG BG
//   long X Y BYTES           cursor X Y                events N
//   wait MS                  termios-save | termios-check | sigusr1
//   cursor-report            bench FRAMES
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <langinfo.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include "term/term.hpp"

using namespace korvel;

namespace {

void say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

std::string hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

std::string describe(const tb_event& e) {
    switch (e.type) {
    case TB_EVENT_KEY:
        return "key " + hex(e.key) + " ch " + hex(e.ch) + " mod " + std::to_string(e.mod);
    case TB_EVENT_MOUSE:
        return "mouse " + hex(e.key) + " x " + std::to_string(e.x) + " y " + std::to_string(e.y) +
               " mod " + std::to_string(e.mod);
    case TB_EVENT_RESIZE:
        return "resize " + std::to_string(e.w) + "x" + std::to_string(e.h);
    default:
        return "event " + std::to_string(e.type);
    }
}

// Reads N events the way the viewer's loop does: short waits, EINTR retried.
void read_events(int count) {
    while (count > 0) {
        tb_event event{};
        const int rc = tb_peek_event(&event, 10);
        if (rc == TB_ERR_NO_EVENT) continue;
        if (rc == TB_ERR_POLL && tb_last_errno() == EINTR) {
            say("poll EINTR");
            continue;
        }
        if (rc != 0) {
            say("poll failed " + std::to_string(rc) + " " + std::strerror(tb_last_errno()));
            std::exit(3);
        }
        say(describe(event));
        --count;
    }
}

termios saved_termios;

bool read_termios(termios& into) {
    const int fd = open("/dev/tty", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = tcgetattr(fd, &into) == 0;
    close(fd);
    return ok;
}

bool same_termios(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

struct cpu_time {
    double user;
    double system;
};

cpu_time cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return {seconds(usage.ru_utime), seconds(usage.ru_stime)};
}

// A full-screen redraw per frame: clear, one print per row, present. With
// `changing`, every row differs from the frame before, as when scrolling.
// Microseconds of CPU per frame, user and system.
std::string redraw_cost(int frames, bool changing) {
    const int w = tb_width();
    const int h = tb_height();
    // Rows are made beforehand, so only the layer's work is measured.
    std::vector<std::string> rows(26);
    for (size_t r = 0; r < rows.size(); ++r) {
        for (int i = 0; i < w + 8; ++i)
            rows[r] += static_cast<char>('a' + (r + i) % 26);
    }
    const cpu_time start = cpu_seconds();
    for (int frame = 0; frame < frames; ++frame) {
        tb_clear();
        for (int y = 0; y < h; ++y) {
            const int shift = changing ? frame + y : y;
            tb_print(0, y, static_cast<uintattr_t>(y % 8 + 1), TB_DEFAULT,
                     rows[static_cast<size_t>(shift) % rows.size()].c_str());
        }
        tb_present();
    }
    const cpu_time end = cpu_seconds();
    const double user = (end.user - start.user) * 1e6 / frames;
    const double system = (end.system - start.system) * 1e6 / frames;
    char text[96];
    std::snprintf(text, sizeof text, "%.0f us/frame (user %.0f, system %.0f)", user + system, user,
                  system);
    return text;
}

void on_usr1(int) {}

// Asks the terminal where its cursor is, as a program that queries the
// terminal would, and returns the answer with ESC shown as ^[.
std::string cursor_report() {
    const int fd = open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (fd < 0) return "no terminal";
    termios saved{};
    tcgetattr(fd, &saved);
    termios raw = saved;
    cfmakeraw(&raw);
    tcsetattr(fd, TCSANOW, &raw);
    const char query[] = "\x1b[3;5H\x1b[6n";
    std::string answer;
    if (write(fd, query, sizeof query - 1) == static_cast<ssize_t>(sizeof query - 1)) {
        char c = 0;
        while (read(fd, &c, 1) == 1) {
            answer += c == 0x1b ? std::string("^[") : std::string(1, c);
            if (c == 'R') break;
        }
    }
    tcsetattr(fd, TCSANOW, &saved);
    close(fd);
    return answer;
}

} // namespace

int main(int argc, char** argv) {
    if (setlocale(LC_CTYPE, "") == nullptr || std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0)
        setlocale(LC_CTYPE, "C.UTF-8");

    int i = 1;
    const auto next = [&]() -> const char* {
        if (i >= argc) {
            say("missing argument");
            std::exit(2);
        }
        return argv[i++];
    };
    const auto number = [&] { return static_cast<int>(std::strtol(next(), nullptr, 0)); };
    const auto color = [&] { return static_cast<uintattr_t>(std::strtoul(next(), nullptr, 0)); };

    while (i < argc) {
        const std::string command = argv[i++];
        if (command == "init") {
            const int rc = tb_init();
            say("init " + std::to_string(rc));
            if (rc == 0)
                say("size " + std::to_string(tb_width()) + "x" + std::to_string(tb_height()));
        } else if (command == "shutdown") {
            say("shutdown " + std::to_string(tb_shutdown()));
        } else if (command == "clear") {
            tb_clear();
        } else if (command == "present") {
            say("present " + std::to_string(tb_present()));
        } else if (command == "hide") {
            tb_hide_cursor();
        } else if (command == "cursor") {
            const int x = number();
            const int y = number();
            say("cursor " + std::to_string(tb_set_cursor(x, y)));
        } else if (command == "mouse") {
            say("mode " + std::to_string(tb_set_input_mode(TB_INPUT_ESC | TB_INPUT_MOUSE)));
        } else if (command == "alt") {
            say("mode " + std::to_string(tb_set_input_mode(TB_INPUT_ALT)));
        } else if (command == "ready") {
            say("ready");
        } else if (command == "print" || command == "printf") {
            const int x = number();
            const int y = number();
            const uintattr_t fg = color();
            const uintattr_t bg = color();
            const char* text = next();
            const int rc = command == "print" ? tb_print(x, y, fg, bg, text)
                                              : tb_printf(x, y, fg, bg, "%s", text);
            say(command + " " + std::to_string(rc));
        } else if (command == "cell") {
            const int x = number();
            const int y = number();
            const auto ch = static_cast<uint32_t>(std::strtoul(next(), nullptr, 16));
            const uintattr_t fg = color();
            const uintattr_t bg = color();
            say("cell " + std::to_string(tb_set_cell(x, y, ch, fg, bg)));
        } else if (command == "long") {
            const int x = number();
            const int y = number();
            std::string text(static_cast<size_t>(number()), '-');
            for (size_t k = 0; k < text.size(); k += 10)
                text[k] = '|';
            say("long " +
                std::to_string(tb_printf(x, y, TB_DEFAULT, TB_DEFAULT, "%s", text.c_str())));
        } else if (command == "events") {
            read_events(number());
        } else if (command == "wait") {
            tb_event event{};
            say("wait " + std::to_string(tb_peek_event(&event, number())));
        } else if (command == "cursor-report") {
            say("report " + cursor_report());
        } else if (command == "termios-save") {
            say(read_termios(saved_termios) ? "termios saved" : "termios unavailable");
        } else if (command == "termios-check") {
            termios now{};
            say(read_termios(now) && same_termios(now, saved_termios) ? "termios same"
                                                                      : "termios changed");
        } else if (command == "sigusr1") {
            struct sigaction action {};
            action.sa_handler = on_usr1; // no SA_RESTART: waiting is interrupted
            sigemptyset(&action.sa_mask);
            sigaction(SIGUSR1, &action, nullptr);
        } else if (command == "bench") {
            const int frames = number();
            const std::string size = std::to_string(tb_width()) + "x" + std::to_string(tb_height());
            say("bench " + size + " unchanged frames: " + redraw_cost(frames, false));
            say("bench " + size + " every row changed: " + redraw_cost(frames, true));
        } else {
            say("unknown command " + command);
            return 2;
        }
    }
    say("done");
    return 0;
}
